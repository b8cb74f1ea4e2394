#include "pages/UserRegistration.h"

#include "pages/FaxPrinter.h"
#include "pages/FolderDescriptor.h"
#include "platform/BinaryFile.h"
#include "platform/Descriptor.h"
#include "platform/Roots.h"
#include "platform/Text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace driver
{

namespace
{

constexpr std::string_view ROOT_KEY = "root=";

using platform::CDescriptor;

} // namespace

CUserRegistration::CUserRegistration(SUserAccount account) : m_account(std::move(account)) {}

std::filesystem::path CUserRegistration::File() const
{
    return m_account.m_home / FILE_PATH;
}

std::filesystem::path CUserRegistration::DefaultRoot() const
{
    return m_account.m_home / ".local/share/vellum";
}

bool CUserRegistration::Exists() const
{
    struct stat st = {};
    return ::lstat(File().c_str(), &st) == 0;
}

bool CUserRegistration::Write(const std::filesystem::path& root, std::string& strError) const
{
    // The printer follows no symbolic link on the way to the root, so the registration names
    // the folder a link leads to (a home under a linked /home, say).
    std::error_code linkError;
    const auto resolved = std::filesystem::weakly_canonical(root, linkError);
    const std::string strRoot = linkError || !root.is_absolute() ? root.string() : resolved.string();
    if (!root.is_absolute() || strRoot.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos)
    {
        strError = "the folder " + platform::PrintableUtf8(strRoot) +
                   " cannot be registered: it must be an absolute path without line breaks";
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(File().parent_path(), error);
    if (error)
    {
        strError = File().parent_path().string() + ": " + error.message();
        return false;
    }
    const std::string strText = "# Where the fax printer " + std::string(PRINTER_NAME) +
                                " leaves this user's pages.\n" + std::string(ROOT_KEY) + strRoot + "\n";
    platform::CFileWriter writer;
    if (writer.Create(File(), platform::EWriteMode::Atomic) &&
        writer.SetPermissions(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write))
        writer.Write(strText.data(), strText.size());
    if (!writer.Close())
    {
        strError = "cannot write " + File().string() + ": " + writer.Error();
        return false;
    }
    return true;
}

ELookup CUserRegistration::ReadRoot(std::filesystem::path& root, std::string& strError) const
{
    // Not followed when it is a symbolic link, and never waited on when it is a FIFO.
    CDescriptor file(::open(File().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (file.Get() < 0)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return ELookup::NotSetUp;
        strError = platform::ErrnoText("cannot read " + File().string());
        return ELookup::Refused;
    }
    struct stat st = {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
    {
        strError = File().string() + " is not a regular file";
        return ELookup::Refused;
    }
    if (st.st_uid != m_account.m_nUid || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    {
        strError = File().string() + " may be changed by users other than " + m_account.m_strName;
        return ELookup::Refused;
    }
    std::string strText(MAX_BYTES + 1, '\0');
    std::size_t nRead = 0;
    while (nRead < strText.size())
    {
        const ssize_t n = ::read(file.Get(), strText.data() + nRead, strText.size() - nRead);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            strError = platform::ErrnoText("cannot read " + File().string());
            return ELookup::Refused;
        }
        if (n == 0)
            break;
        nRead += static_cast<std::size_t>(n);
    }
    if (nRead > MAX_BYTES)
    {
        strError = File().string() + " is too long to be a registration";
        return ELookup::Refused;
    }
    strText.resize(nRead);

    root = DefaultRoot();
    std::size_t nStart = 0;
    while (nStart < strText.size())
    {
        std::size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string_view line = std::string_view(strText).substr(nStart, nEnd - nStart);
        if (line.starts_with(ROOT_KEY))
        {
            const std::string_view value = line.substr(ROOT_KEY.size());
            if (value.empty() || value.front() != '/' || value.find('\0') != std::string_view::npos)
            {
                strError = File().string() + " names no absolute folder";
                return ELookup::Refused;
            }
            root = std::string(value);
        }
        nStart = nEnd + 1;
    }
    return ELookup::Found;
}

bool CUserRegistration::IsOwnFolder(const std::filesystem::path& folder, const struct stat& st,
                                    std::string& strError) const
{
    if (!S_ISDIR(st.st_mode))
    {
        strError = folder.string() + " is not a folder";
        return false;
    }
    // A group of the user's own (the user private group) may write; another group or others may not.
    const bool bOthersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != m_account.m_nGid);
    if (st.st_uid != m_account.m_nUid || bOthersWrite)
    {
        strError = "the folder " + folder.string() + " is not " + m_account.m_strName + "'s own";
        return false;
    }
    return true;
}

bool CUserRegistration::IsTrustedAncestor(const std::filesystem::path& folder, const struct stat& st,
                                          std::string& strError) const
{
    // Whoever may rename or replace a folder above the root may put a folder of their choice
    // in the root's place. Only root and the user may own one; others may write into it only
    // when its sticky bit keeps them from moving what is not theirs (as in /tmp).
    const bool bTrustedOwner = st.st_uid == 0 || st.st_uid == m_account.m_nUid;
    const bool bOthersWrite =
        (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != m_account.m_nGid);
    if (!bTrustedOwner || (bOthersWrite && (st.st_mode & S_ISVTX) == 0))
    {
        strError = "the folder " + folder.string() + " above it may be changed by users other than " +
                   m_account.m_strName + " and root";
        return false;
    }
    return true;
}

ELookup CUserRegistration::PrepareDriveRoot(std::filesystem::path& driveRoot, std::string& strError) const
{
    std::filesystem::path root;
    const ELookup eFound = ReadRoot(root, strError);
    if (eFound != ELookup::Found)
        return eFound;
    root = root.lexically_normal();
    if (!root.has_filename() && root.has_relative_path())
        root = root.parent_path();
    // The root is opened from "/" one folder at a time, following no link, and each folder on
    // the way is checked before the next: nobody but root and the user can then move the
    // page folder elsewhere between this check and the job's writes.
    const auto rootFolder = CFolderDescriptor::OpenWithoutLinks(
        root,
        [&](const std::filesystem::path& folder, const struct stat& st, std::string& strWhy)
        { return folder == root ? IsOwnFolder(folder, st, strWhy) : IsTrustedAncestor(folder, st, strWhy); },
        strError);
    if (!rootFolder.IsOpen())
        return ELookup::Refused;
    const auto drive = platform::DriveRoot(root);
    // The page files are the user's own business: nobody else needs to read them.
    const auto driveFolder = rootFolder.OpenChild(drive.filename().string(), 0700, drive, strError);
    struct stat st = {};
    if (!driveFolder.IsOpen())
        return ELookup::Refused;
    if (::fstat(driveFolder.Fd(), &st) != 0)
    {
        strError = platform::ErrnoText("cannot look at the folder " + drive.string());
        return ELookup::Refused;
    }
    if (!IsOwnFolder(drive, st, strError))
        return ELookup::Refused;
    driveRoot = drive;
    return ELookup::Found;
}

} // namespace driver
