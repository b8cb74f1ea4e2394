#include "printer/BackendJob.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{

using driver::ELookup;
using driver::SUserAccount;

struct SJobCase
{
    const char* m_pszUri;
    const char* m_pszUser;
    ELookup m_eRegistration;
    bool m_bBecomeWorks;
    int m_nCode;
    std::vector<std::string> m_aSteps; // what was done, as whom
    const char* m_pszError;            // the start of the one ERROR line; empty: none
};

// Each case on a computer on which nothing is real: accounts root, ada (1000) and bob (1001).
TEST(BackendJobTest, TakesOnlyJobsOfSetUpUsersAndWorksOnThemAsTheUser)
{
    const std::vector<std::string> ADA = {"supervise", "become ada", "registration of ada as ada"};
    const std::string ADA_PAGES = "render into /home/ada/pages as ada";
    // clang-format off
    const SJobCase CASES[] = {
        {"vellumfax:/",                         "ada",  ELookup::Found,    true,  0, {ADA[0], ADA[1], ADA[2], ADA_PAGES}, ""},
        {"vellumfax:/",                         "root", ELookup::Found,    true,  1, {},  "Vellum Zeru 3.0 takes no jobs from root"},
        {"vellumfax:/",                         "eve",  ELookup::Found,    true,  1, {},  "The job's user has no account"},
        {"vellumfax:/home/ada/vellum?uid=1000", "bob",  ELookup::Found,    true,  1, {},  "This queue of Vellum Zeru 3.0 was set up for another user"},
        {"vellumfax:/",                         "ada",  ELookup::NotSetUp, true,  1, ADA, "This user has not set up the fax printer: open Sendwell once."},
        {"vellumfax:/",                         "ada",  ELookup::Refused,  true,  1, ADA, "Vellum Zeru 3.0 does not put this user's pages where"},
        {"vellumfax:/",                         "ada",  ELookup::Found,    false, 1, {ADA[0], ADA[1]}, "Vellum Zeru 3.0 cannot act as the job's user"},
        {"lpd://printer/queue",                 "ada",  ELookup::Found,    true,  4, {},  "The fax printer is not set up right"},
    };
    // clang-format on
    for (const SJobCase& job : CASES)
    {
        SCOPED_TRACE(std::string(job.m_pszUri) + " " + job.m_pszUser);
        std::string strActingAs = "root";
        std::vector<std::string> aSteps, aErrors;
        driver::SBackendJobSteps steps;
        steps.m_fnFindAccount = [](const std::string& strName) -> std::optional<SUserAccount>
        {
            for (const uid_t nUid : {0, 1000, 1001})
                if (strName == (nUid == 0 ? "root" : nUid == 1000 ? "ada" : "bob"))
                    return SUserAccount{strName, nUid, nUid, "/home/" + strName};
            return std::nullopt;
        };
        steps.m_fnSupervise = [&](const std::function<int()>& fnWork)
        {
            aSteps.push_back("supervise");
            return fnWork();
        };
        steps.m_fnBecome = [&](const SUserAccount& account, std::string& strError)
        {
            aSteps.push_back("become " + account.m_strName);
            strError = "Operation not permitted";
            strActingAs = job.m_bBecomeWorks ? account.m_strName : strActingAs;
            return job.m_bBecomeWorks;
        };
        steps.m_fnPrepareDriveRoot =
            [&](const SUserAccount& account, std::filesystem::path& driveRoot, std::string& strError)
        {
            aSteps.push_back("registration of " + account.m_strName + " as " + strActingAs);
            driveRoot = account.m_home / "pages";
            strError = "the root is a symbolic link";
            return job.m_eRegistration;
        };
        steps.m_fnRender = [&](const std::filesystem::path& driveRoot)
        {
            aSteps.push_back("render into " + driveRoot.string() + " as " + strActingAs);
            return true;
        };
        steps.m_fnReport = [&](const char* pszLevel, const std::string& strText)
        {
            if (std::string(pszLevel) == "ERROR")
                aErrors.push_back(strText);
        };

        EXPECT_EQ(driver::RunBackendJob(job.m_pszUri, job.m_pszUser, steps), job.m_nCode);
        EXPECT_EQ(aSteps, job.m_aSteps);
        ASSERT_EQ(aErrors.size(), *job.m_pszError == '\0' ? 0u : 1u);
        if (aErrors.empty())
            continue;
        EXPECT_TRUE(aErrors[0].starts_with(job.m_pszError)) << aErrors[0];
        // Every user of the queue reads the ERROR line: it names no user and no folder.
        if (std::string(job.m_pszUser) != "root")
        {
            EXPECT_EQ(aErrors[0].find(job.m_pszUser), std::string::npos) << aErrors[0];
        }
        EXPECT_EQ(aErrors[0].find("/home"), std::string::npos) << aErrors[0];
    }
}

} // namespace
