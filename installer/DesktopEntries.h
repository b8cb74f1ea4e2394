#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"

#include <filesystem>
#include <string>

// The desktop entries the Installer gives a user: the page watcher's in the autostart folder,
// so that Sendwell opens after printing, and Sendwell's in the applications menu.
namespace installer
{

inline constexpr const char* AUTOSTART_FILE = "vellum-pagewatch.desktop";
inline constexpr const char* MENU_FILE = "vellum-sendwell.desktop";

// The entries' text for programs installed in systemDirectory, run with VELLUM_ROOT set to root.
std::string AutostartEntry(const std::filesystem::path& root, const std::filesystem::path& systemDirectory);
std::string MenuEntry(const std::filesystem::path& root, const std::filesystem::path& systemDirectory);

// Write the entries into the settings' autostart and applications folders.
SStepResult InstallAutostart(const SInstallSettings& settings);
SStepResult InstallMenuEntry(const SInstallSettings& settings);

} // namespace installer
