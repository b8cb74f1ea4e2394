#pragma once

#include "platform/Descriptor.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>

// A folder held open as a descriptor, so that what is written into it goes there even when
// its name is moved or replaced (by a symbolic link, say) while the work goes on: every name
// below it is opened, renamed and removed relative to the descriptor (openat, renameat,
// unlinkat), never by a path.
namespace driver
{

class CFolderDescriptor
{
public:
    // Called with each folder on the way down, from "/" to the last, and what fstat says of
    // it; false (with strError) ends the walk.
    using FCheck = std::function<bool(const std::filesystem::path& folder, const struct stat& st,
                                      std::string& strError)>;

    CFolderDescriptor() = default;
    explicit CFolderDescriptor(int fd) : m_fd(fd) {}

    int Fd() const { return m_fd.Get(); }
    bool IsOpen() const { return m_fd.Get() >= 0; }
    int Release() { return m_fd.Release(); }
    void Close() { m_fd.Reset(); }

    // Opens the absolute folder one name at a time from "/", following no symbolic link on the
    // way, and checks each folder before the next is opened. A closed descriptor, with
    // strError, when a name is missing, not a folder, a link, or fails its check.
    [[nodiscard]] static CFolderDescriptor OpenWithoutLinks(const std::filesystem::path& folder,
                                                            const FCheck& fnCheck, std::string& strError);
    // Opens the folder strName in this one, made with nMode first when it is missing; a
    // symbolic link there is not followed. strShownPath names the folder in strError.
    [[nodiscard]] CFolderDescriptor OpenChild(const std::string& strName, mode_t nMode,
                                              const std::filesystem::path& shownPath,
                                              std::string& strError) const;
    // Removes strName in this folder, and everything in it when it is a folder; links are
    // removed, never followed. False when something could not be removed.
    bool RemoveTree(const std::string& strName) const;

private:
    platform::CDescriptor m_fd;
};

} // namespace driver
