#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"
#include "pages/FaxPrinter.h"
#include "platform/Process.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace installer
{

inline constexpr const char* QUEUE_NAME = driver::QUEUE_NAME;
inline constexpr const char* PRINTER_DESCRIPTION = driver::PRINTER_NAME;
// The queue's operation policy, one that CUPS's stock cupsd.conf defines: a client proves who it
// is before it may create a job (over the local socket by its peer credentials), and the job is
// that user's whatever name the client claims. Under the stock "default" policy CUPS believes
// the claimed name, and the backend, which writes each job's pages as its user, would let one
// user print into another's folder.
inline constexpr const char* QUEUE_OP_POLICY = "authenticated";
// Where under CUPS's data folder the PPD is listed among the drivers.
inline constexpr const char* MODEL_FOLDER = "model/vellum";

// The fax printer's part in CUPS: its driver (backend and PPD) placed where CUPS finds them, its
// queue made with lpadmin and checked to ask who sends a job, and the printer chosen as a user's
// default with lpoptions. Every CUPS tool runs with the settings' time limit.
class CCupsSetup
{
public:
    explicit CCupsSetup(const SInstallSettings& settings) : m_settings(settings) {}

    // Where CUPS finds the backend and the PPD.
    std::filesystem::path BackendPath() const;
    std::filesystem::path ModelFolder() const;
    std::filesystem::path PpdPath() const;
    // The PPD the queue is made with: the one placed for CUPS, or with --add-queue the one next to
    // the Installer (the package's).
    std::filesystem::path QueuePpdPath() const;

    // The queue's device URI: it names nobody, each job's pages go to the user who printed it.
    std::string DeviceUri() const;
    // The lpadmin argument vector that creates the queue.
    std::vector<std::string> QueueCommand() const;
    // Shell commands a CUPS administrator runs to do what the registration steps do.
    std::vector<std::string> AdministratorCommands() const;

    // Places the backend and the PPD, or, for a user, finds them placed by an administrator.
    SStepResult RegisterDriver() const;
    // Makes the queue, or, for a user, finds it in place.
    SStepResult RegisterQueue() const;
    // Makes the printer the default printer of the user this process runs as.
    SStepResult MakeDefaultPrinter() const;

    // Whether the package vellum-zeru placed the backend and the PPD: dpkg's list of its files names
    // the backend. The Installer then neither copies nor removes them, and the queue takes the
    // package's PPD.
    bool PackageProvidesDriver() const;

    // Whether the scheduler knows a queue of this name, whatever its device.
    bool QueueExists() const;
    SStepResult RemoveQueue() const;
    // Whether the scheduler answers (lpstat -r).
    bool SchedulerRuns() const;
    // What the scheduler keeps in its cache folder of the queue, which it leaves when the queue goes.
    std::vector<std::filesystem::path> CachedQueueFiles() const;

    // Whether one of these steps failed to register the driver or the queue.
    static bool RegistrationFailed(const std::vector<SStepResult>& aSteps);

    // Runs a CUPS tool to its end or the settings' time limit, capturing what it says.
    platform::SRunResult RunTool(const std::vector<std::string>& args) const;

private:
    bool DriverInPlace() const;
    bool QueueInPlace() const;
    // Whether the scheduler asks who sends a job to the queue; none when it cannot be told.
    std::optional<bool> QueueAsksWhoSends() const;

    // The setup lives no longer than the settings it is made with.
    const SInstallSettings& m_settings;
};

} // namespace installer
