#include "printer/BackendJob.h"

#include "pages/FaxPrinter.h"
#include "platform/Text.h"
#include "printer/DeviceUri.h"

namespace driver
{
namespace
{

class CJob
{
public:
    explicit CJob(const SBackendJobSteps& steps) : m_steps(steps) {}

    // Names and reasons may hold anything a client sent, so only printable text goes out.
    void Report(const char* pszLevel, const std::string& strText) const
    {
        m_steps.m_fnReport(pszLevel, platform::PrintableUtf8(strText));
    }

    // Refuses the job: strPublic for everybody, strDetail (names, paths) for the administrator.
    int Refuse(const std::string& strPublic, const std::string& strDetail = {}) const
    {
        if (!strDetail.empty())
            Report("DEBUG", strDetail);
        Report("ERROR", strPublic + " Nothing was written.");
        return BACKEND_FAILED;
    }

    // The work on the job as its user, in the supervisor's child.
    int WorkAsUser(const SUserAccount& account) const
    {
        const std::string strPrinter = PRINTER_NAME;
        // Nothing in the user's home is looked at before the backend is the user: their own
        // rights decide what it may read and write there, whatever links they put in its way.
        std::string strError;
        if (!m_steps.m_fnBecome(account, strError))
            return Refuse(strPrinter + " cannot act as the job's user.",
                          "cannot act as " + account.m_strName + ": " + strError);

        std::filesystem::path driveRoot;
        switch (m_steps.m_fnPrepareDriveRoot(account, driveRoot, strError))
        {
        case ELookup::Found:
            break;
        case ELookup::NotSetUp:
            // With the package the user's first Sendwell sets them up (a user without it runs the
            // Installer, which also sets them up): the line says what works for both.
            return Refuse("This user has not set up the fax printer: open Sendwell once.",
                          account.m_strName + " has not set up the fax printer " + strPrinter);
        case ELookup::Refused:
            return Refuse(strPrinter + " does not put this user's pages where they registered.",
                          strPrinter + " does not put " + account.m_strName + "'s pages there: " + strError);
        }
        Report("DEBUG", "the pages of " + account.m_strName + " go to " + driveRoot.string());
        return m_steps.m_fnRender(driveRoot) ? BACKEND_OK : BACKEND_FAILED;
    }

private:
    const SBackendJobSteps& m_steps;
};

} // namespace

int RunBackendJob(std::string_view strDeviceUri, const std::string& strUser, const SBackendJobSteps& steps)
{
    const CJob job(steps);
    const std::string strPrinter = PRINTER_NAME;
    std::string strError;
    const auto uri = SDeviceUri::Parse(strDeviceUri, strError);
    if (!uri)
    {
        job.Report("ERROR", "The fax printer is not set up right: " + strError + ". Run the Installer of " +
                                strPrinter + " again as administrator.");
        return BACKEND_STOP;
    }

    // The job's user as the spooler names them: the pages are theirs, and go nowhere else.
    const auto account = steps.m_fnFindAccount(strUser);
    if (!account)
        return job.Refuse("The job's user has no account on this computer, so " + strPrinter +
                              " has nowhere to put the pages.",
                          "the job's user \"" + strUser + "\" has no account on this computer");
    if (account->m_nUid == 0)
        return job.Refuse(strPrinter + " takes no jobs from root: print as the user who sends the fax.");
    if (!uri->IsShared() && *uri->m_nUid != account->m_nUid)
        return job.Refuse("This queue of " + strPrinter +
                          " was set up for another user only. Run the Installer of " + strPrinter +
                          " again as administrator to share it.");

    return steps.m_fnSupervise([&] { return job.WorkAsUser(*account); });
}

} // namespace driver
