#pragma once

#include "pages/UserAccount.h"
#include "pages/UserRegistration.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Which print jobs the fax printer's backend takes, and as whom it does the work. A job of
// root, of a name the computer does not know, of a user a single-user queue was not set up for,
// or of a user who has not set the printer up is refused, and nothing is written anywhere. A
// job it takes is worked on by a child of the supervisor that has become the job's user for
// good before it looks at anything of theirs.
// The steps that touch the computer (the user database, the supervisor's child, the change of
// user, the registration, the rendering) are passed in: the backend passes the real ones.
namespace driver
{

// The exit codes a backend reports to the spooler (cups/backend.h).
inline constexpr int BACKEND_OK = 0;
inline constexpr int BACKEND_FAILED = 1; // the queue's error policy decides; the Installer sets abort-job
inline constexpr int BACKEND_STOP = 4;   // the queue is misconfigured: every job would fail the same way

struct SBackendJobSteps
{
    // The account of the job's user name (SUserAccount::ByName).
    std::function<std::optional<SUserAccount>(const std::string& strName)> m_fnFindAccount;
    // Runs fnWork in the supervisor's child and gives the backend's exit code for the job.
    std::function<int(const std::function<int()>& fnWork)> m_fnSupervise;
    // Makes the calling process the account's for good (SUserAccount::Become); false, with
    // strError, when that fails.
    std::function<bool(const SUserAccount& account, std::string& strError)> m_fnBecome;
    // The registered drive root of the account, made ready for pages
    // (CUserRegistration::PrepareDriveRoot); run as the user.
    std::function<ELookup(const SUserAccount& account, std::filesystem::path& driveRoot,
                          std::string& strError)>
        m_fnPrepareDriveRoot;
    // Renders the job's document into the drive root; true when the pages are there.
    std::function<bool(const std::filesystem::path& driveRoot)> m_fnRender;
    // One line for the spooler: "DEBUG", "INFO" or "ERROR", and printable text.
    std::function<void(const char* pszLevel, const std::string& strText)> m_fnReport;
};

// The job of strUser, as the spooler names them, on the queue whose device URI is strDeviceUri:
// the exit code for the spooler.
[[nodiscard]] int RunBackendJob(std::string_view strDeviceUri, const std::string& strUser,
                                const SBackendJobSteps& steps);

} // namespace driver
