#pragma once

#include "platform/Process.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// A user account of this computer made for one test (useradd, with a home and a group of its
// own) and removed with the object (userdel), also when the test fails. Its name carries the
// test process's id, so that tests running at once never meet. Needs root.
class CTestUser
{
public:
    CTestUser() = default;
    CTestUser(const CTestUser&) = delete;
    CTestUser& operator=(const CTestUser&) = delete;
    ~CTestUser();

    // strRole (a few lower-case letters) tells the users of one test apart. False, with strWhy.
    [[nodiscard]] bool Create(const std::string& strRole, std::string& strWhy);

    const std::string& Name() const { return m_strName; }
    uid_t Uid() const { return m_nUid; }
    gid_t Gid() const { return m_nGid; }
    const std::filesystem::path& Home() const { return m_home; }

    // Runs a program as this user (runuser) with exactly this environment besides HOME, USER,
    // LOGNAME and a PATH without /usr/sbin, as an ordinary Debian user has it.
    platform::SRunResult Run(const std::vector<std::string>& args,
                             const std::vector<std::string>& environment,
                             const std::string& strFolder = {}) const;

    // A process of this user that the test started and that outlives its starter (a watcher):
    // ended before the user is removed.
    void Adopt(pid_t pid) { m_aAdopted.push_back(pid); }

    // Waits (at most 10 s) until a process that is not our child has ended: gone, or a zombie
    // that whoever adopted it has not reaped yet.
    static bool WaitUntilEnded(pid_t pid);

    // The name a test user of this role would have; for a name that must not exist.
    static std::string NameFor(const std::string& strRole);

private:
    static void RemoveStaleUsers();
    void Remove();

    std::string m_strName;
    uid_t m_nUid = 0;
    gid_t m_nGid = 0;
    std::filesystem::path m_home;
    std::vector<pid_t> m_aAdopted;
};
