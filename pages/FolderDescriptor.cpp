#include "pages/FolderDescriptor.h"

#include "platform/Text.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace driver
{

namespace
{

// Why a name that should be a folder could not be opened as one.
std::string NotAFolderText(int nParentFd, const std::string& strName, const std::filesystem::path& shown)
{
    struct stat st = {};
    if (::fstatat(nParentFd, strName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return shown.string() + " is a symbolic link; name the folder it leads to instead";
    return shown.string() + " is not a folder";
}

bool RemoveIn(int nParentFd, const std::string& strName)
{
    const int fd = ::openat(nParentFd, strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return true;
        if (errno != ENOTDIR && errno != ELOOP)
            return false;
        return ::unlinkat(nParentFd, strName.c_str(), 0) == 0 || errno == ENOENT;
    }
    DIR* pDir = ::fdopendir(fd);
    if (pDir == nullptr)
    {
        ::close(fd);
        return false;
    }
    std::vector<std::string> aNames;
    while (const dirent* pEntry = ::readdir(pDir))
    {
        const std::string_view name = pEntry->d_name;
        if (name != "." && name != "..")
            aNames.emplace_back(name);
    }
    bool bOk = true;
    for (const auto& strChild : aNames)
        bOk = RemoveIn(::dirfd(pDir), strChild) && bOk;
    ::closedir(pDir);
    return ::unlinkat(nParentFd, strName.c_str(), AT_REMOVEDIR) == 0 && bOk;
}

} // namespace

CFolderDescriptor CFolderDescriptor::OpenWithoutLinks(const std::filesystem::path& folder,
                                                      const FCheck& fnCheck, std::string& strError)
{
    const auto normal = folder.lexically_normal();
    if (!normal.is_absolute())
    {
        strError = folder.string() + " is not an absolute path";
        return {};
    }
    // O_PATH: passing through a folder needs only the right to search it, not to read it.
    std::filesystem::path shown = "/";
    CFolderDescriptor current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (auto it = normal.begin();; ++it)
    {
        if (!current.IsOpen())
        {
            strError = platform::ErrnoText("cannot open the folder " + shown.string());
            return {};
        }
        struct stat st = {};
        if (::fstat(current.Fd(), &st) != 0)
        {
            strError = platform::ErrnoText("cannot look at the folder " + shown.string());
            return {};
        }
        if (!fnCheck(shown, st, strError))
            return {};
        // The root name, then the names below it; a trailing separator gives an empty last name.
        while (it != normal.end() && (it->empty() || *it == "/"))
            ++it;
        if (it == normal.end())
            return current;
        const std::string strName = it->string();
        shown /= strName;
        if (strName == "." || strName == "..")
        {
            strError = folder.string() + " goes up and down its folders";
            return {};
        }
        CFolderDescriptor next(
            ::openat(current.Fd(), strName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsOpen() && (errno == ENOTDIR || errno == ELOOP))
        {
            strError = NotAFolderText(current.Fd(), strName, shown);
            return {};
        }
        current = std::move(next);
    }
}

CFolderDescriptor CFolderDescriptor::OpenChild(const std::string& strName, mode_t nMode,
                                               const std::filesystem::path& shownPath,
                                               std::string& strError) const
{
    if (::mkdirat(Fd(), strName.c_str(), nMode) != 0 && errno != EEXIST)
    {
        strError = platform::ErrnoText("cannot create the folder " + shownPath.string());
        return {};
    }
    CFolderDescriptor child(::openat(Fd(), strName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.IsOpen())
    {
        strError = errno == ENOTDIR || errno == ELOOP
                       ? NotAFolderText(Fd(), strName, shownPath)
                       : platform::ErrnoText("cannot open the folder " + shownPath.string());
    }
    return child;
}

bool CFolderDescriptor::RemoveTree(const std::string& strName) const
{
    return RemoveIn(Fd(), strName);
}

} // namespace driver
