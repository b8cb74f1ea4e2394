#include "tests/support/PrivateDovecot.h"

#include "platform/Environment.h"
#include "platform/Process.h"
#include "tests/support/UnusedPort.h"

#include <fstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string CPrivateDovecot::Missing()
{
    if (!fs::exists("/usr/sbin/dovecot") || platform::FindProgramOnPath("doveadm").empty())
        return "Dovecot is not installed (package dovecot-imapd)";
    return {};
}

CPrivateDovecot::CPrivateDovecot(const std::string& strCertificate, const std::string& strKey,
                                 const std::string& strUser, const std::string& strPassword)
    : m_strUser(strUser)
{
    std::string strTemplate = (fs::temp_directory_path() / "private-dovecot-XXXXXX").string();
    if (::mkdtemp(strTemplate.data()) == nullptr)
    {
        m_strFailure = "cannot make a folder for Dovecot";
        return;
    }
    m_dir = strTemplate;
    // As root, Dovecot's own users must pass through to the Maildir.
    ::chmod(m_dir.c_str(), 0711);
    m_nTlsPort = UnusedPort();
    m_nStartTlsPort = UnusedPort();

    platform::CProcess start;
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    options.m_aEnvironment = platform::EnvironmentWith({"PRIVATE_DOVECOT_PASSWORD=" + strPassword});
    std::string strLine;
    const bool bReady =
        start.Start({PRIVATE_DOVECOT_SCRIPT, "start", (m_dir / "server").string(), std::to_string(m_nTlsPort),
                     std::to_string(m_nStartTlsPort), strCertificate, strKey, strUser},
                    options) &&
        start.ReadOutputLine(strLine, 60s) && strLine == "READY";
    const bool bEnded = start.Wait(30s) == platform::EWaitResult::Ended && start.Succeeded();
    if (!bReady || !bEnded)
    {
        std::ifstream log(m_dir / "server" / "dovecot.log");
        const std::string strLog((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        m_strFailure = "private-dovecot.sh start did not get ready: " + strLine + "\n" + strLog;
    }
}

CPrivateDovecot::~CPrivateDovecot()
{
    if (m_dir.empty())
        return;
    platform::SRunOptions options;
    options.m_durTimeout = 30s;
    options.m_eOutput = platform::SRunOptions::EOutput::Discard;
    [[maybe_unused]] const auto stopped =
        platform::RunProgram({PRIVATE_DOVECOT_SCRIPT, "stop", (m_dir / "server").string()}, options);
    std::error_code error;
    fs::remove_all(m_dir, error);
}

fs::path CPrivateDovecot::FolderPath(const std::string& strFolder)
{
    const fs::path maildir = m_dir / "server" / "Maildir";
    if (strFolder == "INBOX")
        return maildir;
    // Maildir++: a folder is a subfolder named with a leading dot, owned as the Maildir is.
    const fs::path folder = maildir / ("." + strFolder);
    if (!fs::exists(folder))
    {
        struct stat owner = {};
        ::stat(maildir.c_str(), &owner);
        for (const char* pszPart : {"", "cur", "new", "tmp"})
        {
            const fs::path part = *pszPart != '\0' ? folder / pszPart : folder;
            fs::create_directories(part);
            [[maybe_unused]] const int nChown = ::chown(part.c_str(), owner.st_uid, owner.st_gid);
        }
    }
    return folder;
}

void CPrivateDovecot::Deliver(const std::string& strFolder, const std::string& strMessage,
                              std::int64_t nArrival)
{
    const fs::path folder = FolderPath(strFolder);
    const std::string strName = std::to_string(++m_nDelivered) + "." + std::to_string(::getpid()) + ".test";
    {
        std::ofstream file(folder / "tmp" / strName, std::ios::binary);
        file << strMessage;
    }
    // Dovecot takes a Maildir file's time for the message's arrival (INTERNALDATE).
    if (nArrival != 0)
    {
        const timeval times[2] = {{static_cast<time_t>(nArrival), 0}, {static_cast<time_t>(nArrival), 0}};
        ::utimes((folder / "tmp" / strName).c_str(), times);
    }
    fs::rename(folder / "tmp" / strName, folder / "new" / strName);
}

std::string CPrivateDovecot::Flags(const std::string& strFolder) const
{
    platform::SRunOptions options;
    options.m_durTimeout = 30s;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    const auto fetched =
        platform::RunProgram({PRIVATE_DOVECOT_SCRIPT, "doveadm", (m_dir / "server").string(), "fetch", "-u",
                              m_strUser, "uid flags", "mailbox", strFolder, "ALL"},
                             options);
    return fetched.Succeeded() ? fetched.m_strOutput : std::string();
}
