#include "pages/UserAccount.h"

#include "platform/Text.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace driver
{

namespace
{

// Enough for any entry of the user database; getpwnam_r says ERANGE otherwise.
constexpr std::size_t PASSWD_BUFFER_BYTES = 16384;

template <typename Lookup> std::optional<SUserAccount> LookUp(Lookup lookUp)
{
    std::vector<char> buffer(PASSWD_BUFFER_BYTES);
    passwd entry = {};
    passwd* pEntry = nullptr;
    if (lookUp(&entry, buffer.data(), buffer.size(), &pEntry) != 0 || pEntry == nullptr)
        return std::nullopt;
    SUserAccount account;
    account.m_strName = pEntry->pw_name;
    account.m_nUid = pEntry->pw_uid;
    account.m_nGid = pEntry->pw_gid;
    account.m_home = pEntry->pw_dir != nullptr ? pEntry->pw_dir : "";
    return account;
}

} // namespace

std::optional<SUserAccount> SUserAccount::ByName(const std::string& strName)
{
    if (strName.empty())
        return std::nullopt;
    return LookUp([&](passwd* pEntry, char* pBuffer, std::size_t nSize, passwd** ppResult)
                  { return ::getpwnam_r(strName.c_str(), pEntry, pBuffer, nSize, ppResult); });
}

std::optional<SUserAccount> SUserAccount::ById(uid_t nUid)
{
    return LookUp([&](passwd* pEntry, char* pBuffer, std::size_t nSize, passwd** ppResult)
                  { return ::getpwuid_r(nUid, pEntry, pBuffer, nSize, ppResult); });
}

bool SUserAccount::Become(std::string& strError) const
{
    if (::geteuid() != 0)
    {
        if (::geteuid() == m_nUid)
            return true;
        strError = "a program run by another user cannot act as " + m_strName;
        return false;
    }
    if (::initgroups(m_strName.c_str(), m_nGid) != 0 || ::setresgid(m_nGid, m_nGid, m_nGid) != 0 ||
        ::setresuid(m_nUid, m_nUid, m_nUid) != 0)
    {
        strError = platform::ErrnoText("cannot become the user " + m_strName);
        return false;
    }
    // The change must be for good: a process that can get root back has not given it up.
    if (m_nUid != 0 && (::getuid() != m_nUid || ::geteuid() != m_nUid || ::setuid(0) == 0))
    {
        strError = "cannot give up root for the user " + m_strName;
        return false;
    }
    return true;
}

} // namespace driver
