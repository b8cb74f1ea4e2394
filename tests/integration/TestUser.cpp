#include "tests/integration/TestUser.h"

#include "platform/BinaryFile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr const char* USERADD = "/usr/sbin/useradd";
constexpr const char* USERDEL = "/usr/sbin/userdel";
constexpr const char* RUNUSER = "/usr/sbin/runuser";
constexpr auto TOOL_TIMEOUT = std::chrono::seconds(60);
// An ordinary Debian user's PATH: no /usr/sbin, where lpadmin lives.
constexpr const char* USER_PATH = "PATH=/usr/local/bin:/usr/bin:/bin";

platform::SRunResult RunTool(const std::vector<std::string>& args)
{
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = TOOL_TIMEOUT;
    return platform::RunProgram(args, options);
}

} // namespace

bool CTestUser::WaitUntilEnded(pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;)
    {
        // /proc/PID/stat: "PID (NAME) STATE ..."; the name may hold blanks and parentheses.
        const std::string strStat =
            platform::ReadWholeFile("/proc/" + std::to_string(pid) + "/stat", 4096).value_or("");
        const auto nClose = strStat.rfind(')');
        if (strStat.empty() || (nClose != std::string::npos && strStat.compare(nClose, 3, ") Z") == 0))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string CTestUser::NameFor(const std::string& strRole)
{
    return "vzt" + std::to_string(::getpid()) + strRole;
}

void CTestUser::RemoveStaleUsers()
{
    // A test process killed outright leaves its users behind, and the Installer counts their
    // registrations as other users of the printer. Their names carry the process id: a user
    // whose process is gone is removed.
    std::vector<std::string> aStale;
    ::setpwent();
    while (const passwd* pEntry = ::getpwent())
    {
        const std::string strName = pEntry->pw_name;
        if (!strName.starts_with("vzt"))
            continue;
        const auto nDigits = strName.find_first_not_of("0123456789", 3);
        if (nDigits == 3 || nDigits == std::string::npos)
            continue;
        const pid_t pid = std::stoi(strName.substr(3, nDigits - 3));
        if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
            aStale.push_back(strName);
    }
    ::endpwent();
    for (const std::string& strName : aStale)
        (void)RunTool({USERDEL, "--force", "--remove", strName});
}

bool CTestUser::Create(const std::string& strRole, std::string& strWhy)
{
    RemoveStaleUsers();
    const std::string strName = NameFor(strRole);
    const auto result = RunTool({USERADD, "--create-home", "--user-group", "--shell", "/bin/sh", strName});
    if (!result.Succeeded())
    {
        strWhy = "useradd " + strName + ": " + result.Describe() + " " + result.m_strOutput;
        return false;
    }
    m_strName = strName;
    const passwd* pEntry = ::getpwnam(strName.c_str());
    if (pEntry == nullptr)
    {
        strWhy = "useradd made no user " + strName;
        return false;
    }
    m_nUid = pEntry->pw_uid;
    m_nGid = pEntry->pw_gid;
    m_home = pEntry->pw_dir;
    return true;
}

CTestUser::~CTestUser()
{
    Remove();
}

void CTestUser::Remove()
{
    if (m_strName.empty())
        return;
    for (pid_t pid : m_aAdopted)
    {
        ::kill(pid, SIGKILL);
        (void)WaitUntilEnded(pid);
    }
    (void)RunTool({USERDEL, "--force", "--remove", m_strName});
    std::error_code error;
    // sudo's record of the user's last authentication.
    std::filesystem::remove("/run/sudo/ts/" + m_strName, error);
    m_strName.clear();
}

platform::SRunResult CTestUser::Run(const std::vector<std::string>& args,
                                    const std::vector<std::string>& environment,
                                    const std::string& strFolder) const
{
    std::vector<std::string> command = {RUNUSER,
                                        "-u",
                                        m_strName,
                                        "--",
                                        "/usr/bin/env",
                                        "-i",
                                        "HOME=" + m_home.string(),
                                        "USER=" + m_strName,
                                        "LOGNAME=" + m_strName,
                                        USER_PATH};
    command.insert(command.end(), environment.begin(), environment.end());
    command.insert(command.end(), args.begin(), args.end());
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = std::chrono::seconds(120);
    options.m_strWorkingDirectory = strFolder;
    return platform::RunProgram(command, options);
}
