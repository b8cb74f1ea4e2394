#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"

#include <optional>
#include <string>

// The user's page watcher, which opens Sendwell after printing: started when installing in the
// user's desktop session, stopped when uninstalling.
namespace installer
{

// Starts the watcher of the settings' root in a session of its own, or finds one watching
// already; the result is ok when a watcher watches once this returns.
SStepResult StartWatcher(const SInstallSettings& settings);

// Stops the watcher of the settings' root; none when no watcher runs.
std::optional<SStepResult> StopWatcher(const SInstallSettings& settings);

// The command that starts the watcher by hand, for a shell.
std::string WatcherCommand(const SInstallSettings& settings);

} // namespace installer
