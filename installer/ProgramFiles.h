#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"
#include "pages/FaxPrinter.h"

#include <filesystem>
#include <string>
#include <vector>

// The distribution's files and how they are placed: the user's folders made, each file copied
// from the distribution into the system directory, and the renderer the driver needs found.
namespace installer
{

// The distribution's files, by the names they have in the source and the system directory.
inline constexpr const char* BACKEND_FILE = "vellumfax"; // also the device URI's scheme
inline constexpr const char* PPD_FILE = driver::PPD_FILE_NAME;
inline constexpr const char* PAGEMILL_FILE = "Pagemill";
inline constexpr const char* MESSAGE_MODULE_FILE = "libvellum_msgbox.so";
inline constexpr const char* SENDWELL_FILE = "Sendwell";
inline constexpr const char* WATCHER_FILE = "Pagewatch";
inline constexpr const char* HELP_FILE = "Sample.html";
inline constexpr const char* ICON_FILE = "vellum-sendwell.png";
// The default cover page template, which Sendwell finds beside itself.
inline constexpr const char* COVER_TEMPLATE_FILE = "Cover.svg";
inline constexpr const char* INSTALLED_FILES[] = {BACKEND_FILE,        PPD_FILE,      PAGEMILL_FILE,
                                                  MESSAGE_MODULE_FILE, SENDWELL_FILE, WATCHER_FILE,
                                                  HELP_FILE,           ICON_FILE,     COVER_TEMPLATE_FILE};

// Copies a file so that the target is either the old file or the whole new one, with the
// given permissions from the start. Replacing by rename also works while the old program runs.
[[nodiscard]] bool CopyAtomically(const std::filesystem::path& from, const std::filesystem::path& to,
                                  std::filesystem::perms permissions, std::string& strError);

// Creates the system directory and the page files' folder, both private to the user (in a
// folder of root's choosing, the page files' folder when it is new).
std::vector<SStepResult> MakeFolders(const SInstallSettings& settings);

// Copies one file of the distribution into the system directory, keeping its mode.
SStepResult CopyFromSource(const SInstallSettings& settings, const char* pszName);

// Whether the renderer the driver shares with other printers is on this computer.
SStepResult FindGhostscript(const SInstallSettings& settings);

} // namespace installer
