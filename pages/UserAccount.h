#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

// An account of this computer as the user database has it. The fax printer's backend learns
// nothing but the job's user name from the spooler, and the Installer run with sudo or pkexec
// nothing but the invoking user's id, so both take the home folder from here, never from an
// environment.
namespace driver
{

struct SUserAccount
{
    std::string m_strName;
    uid_t m_nUid = 0;
    gid_t m_nGid = 0;
    std::filesystem::path m_home;

    static std::optional<SUserAccount> ByName(const std::string& strName);
    static std::optional<SUserAccount> ById(uid_t nUid);

    // Makes this process the account's for good (groups, group id, user id); a process that is
    // not root may only "become" its own account. False, with strError, when that fails.
    [[nodiscard]] bool Become(std::string& strError) const;
};

} // namespace driver
