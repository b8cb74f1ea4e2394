#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"
#include "pages/FaxPrinter.h"

#include <string>
#include <vector>

// The message the Installer ends with: what it did, what failed and why, and what the user
// does next (the commands an administrator runs, how to start the watcher by hand).
namespace installer
{

inline const std::string COMPLETION_CAPTION = std::string("Welcome to use ") + driver::PRINTER_NAME;
inline const std::string UNINSTALL_CAPTION = std::string("Removing ") + driver::PRINTER_NAME;

// The text after installing with these steps (lines separated by '\n').
std::string InstallText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps,
                        bool bWatcherRunning);

// The text after uninstalling with these steps; the printer stays when aOtherUsers still use it
// or when the package vellum-zeru provides it (bPackageKeepsPrinter).
std::string UninstallText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps,
                          const std::vector<std::string>& aOtherUsers, bool bPackageKeepsPrinter = false);

// The text after --add-queue or --remove-queue with these steps.
std::string QueueText(const SInstallSettings& settings, const std::vector<SStepResult>& aSteps);

} // namespace installer
