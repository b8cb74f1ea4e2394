#pragma once

#include "pages/UserAccount.h"

#include <filesystem>
#include <string>
#include <sys/stat.h>

// A user's registration with the fax printer: a small file in the user's own home that says
// which root the printer leaves their pages in. The printer's backend runs without the user's
// environment, so it finds the file from the home folder of the user database:
//   ~/.config/vellum/fax-printer       "root=/home/ada/.local/share/vellum"
// A user without it has not set the printer up, and the printer takes no job of theirs. Only
// the user (or root) may change it: a file that another user could write counts for nothing.
namespace driver
{

enum class ELookup
{
    Found,
    NotSetUp, // no registration
    Refused,  // a registration, or a folder it names, that the printer must not trust
};

class CUserRegistration
{
public:
    explicit CUserRegistration(SUserAccount account);

    static constexpr const char* FILE_PATH = ".config/vellum/fax-printer";
    // The registration's most bytes: a line and a path.
    static constexpr std::size_t MAX_BYTES = 8192;

    const SUserAccount& Account() const { return m_account; }
    std::filesystem::path File() const;
    // The root a user has without VELLUM_ROOT and XDG_DATA_HOME.
    std::filesystem::path DefaultRoot() const;
    // True when there is a file (or anything else) at File().
    bool Exists() const;

    // Writes the registration for root, an absolute folder, replacing any earlier one; the
    // symbolic links on the way to it are resolved. Run as the user.
    [[nodiscard]] bool Write(const std::filesystem::path& root, std::string& strError) const;
    // The registered root. Run as the user or root.
    [[nodiscard]] ELookup ReadRoot(std::filesystem::path& root, std::string& strError) const;
    // The registered root's page folder, made if it is missing, once the root and the page
    // folder have been found to be the user's own folders that nobody else may write, and
    // every folder above them to be root's or the user's, which nobody else may change (see
    // IsTrustedAncestor). No symbolic link is followed on the way. Run as the user.
    [[nodiscard]] ELookup PrepareDriveRoot(std::filesystem::path& driveRoot, std::string& strError) const;

private:
    // A folder the printer may write into, as fstat describes it: a folder of the user's that
    // no other user may change.
    bool IsOwnFolder(const std::filesystem::path& folder, const struct stat& st, std::string& strError) const;
    // A folder above the root: root's or the user's, and writable by nobody else unless its
    // sticky bit keeps them from moving what is not theirs.
    bool IsTrustedAncestor(const std::filesystem::path& folder, const struct stat& st,
                           std::string& strError) const;

    SUserAccount m_account;
};

} // namespace driver
