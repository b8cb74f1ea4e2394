#include "installer/DesktopEntries.h"

#include "installer/ProgramFiles.h"
#include "installer/Quoting.h"
#include "pages/FaxPrinter.h"
#include "platform/BinaryFile.h"
#include "platform/Text.h"

#include <system_error>

namespace installer
{

namespace
{

const std::string PRINTER = driver::PRINTER_NAME;

// A desktop entry's Exec value that runs program with VELLUM_ROOT set to root.
std::string ExecWithRoot(const std::filesystem::path& root, const std::filesystem::path& program)
{
    return "env " + DesktopExecArgument("VELLUM_ROOT=" + root.string()) + " " +
           DesktopExecArgument(program.string());
}

// Writes an entry into folder, made first if need be; an empty folder is one that no variable named.
SStepResult WriteEntry(const std::string& strStep, const std::filesystem::path& folder,
                       const char* pszVariables, const char* pszFile, const std::string& strEntry)
{
    if (folder.empty())
        return {strStep, false, std::string("neither ") + pszVariables + " nor HOME is set"};
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return {strStep, false, folder.string() + ": " + error.message()};
    const bool bOk = platform::WriteWholeFile(folder / pszFile, strEntry);
    return {strStep, bOk, bOk ? "" : platform::ErrnoText("cannot write " + folder.string())};
}

} // namespace

std::string AutostartEntry(const std::filesystem::path& root, const std::filesystem::path& systemDirectory)
{
    std::string strEntry = "[Desktop Entry]\n"
                           "Type=Application\n";
    strEntry += "Name=" + PRINTER + " pages\n";
    strEntry += "Comment=Opens Sendwell when a document is printed to the fax printer " + PRINTER + "\n";
    strEntry += "Exec=" + ExecWithRoot(root, systemDirectory / WATCHER_FILE) + "\n";
    strEntry += "Terminal=false\n"
                "NoDisplay=true\n"
                "X-GNOME-Autostart-enabled=true\n";
    return strEntry;
}

std::string MenuEntry(const std::filesystem::path& root, const std::filesystem::path& systemDirectory)
{
    // Sendwell shows the pages waiting to be sent, or an empty page list for Config and the address book.
    std::string strEntry = "[Desktop Entry]\n"
                           "Type=Application\n";
    strEntry += "Name=" + PRINTER + " Fax\n";
    strEntry += "GenericName=Fax Sender\n";
    strEntry += "Comment=Send the pages printed to " + PRINTER +
                " as a fax; edit the settings and the address book\n";
    // "Open with" hands it a document, an image or a text file, whose pages it shows to send.
    strEntry += "Exec=" + ExecWithRoot(root, systemDirectory / SENDWELL_FILE) + " %f\n";
    strEntry +=
        "MimeType=application/pdf;application/postscript;image/png;image/jpeg;image/tiff;text/plain;\n";
    strEntry += "Icon=" + (systemDirectory / ICON_FILE).string() + "\n";
    strEntry += "Terminal=false\n"
                "Categories=Office;\n"
                "Actions=SentFaxes;\n"
                "\n"
                "[Desktop Action SentFaxes]\n"
                "Name=Sent faxes\n";
    strEntry += "Exec=" + ExecWithRoot(root, systemDirectory / SENDWELL_FILE) + " --sent\n";
    return strEntry;
}

SStepResult InstallAutostart(const SInstallSettings& settings)
{
    return WriteEntry("arranging for Sendwell to open after printing", settings.m_autostartDirectory,
                      "XDG_CONFIG_HOME", AUTOSTART_FILE,
                      AutostartEntry(settings.m_vellumRoot, settings.m_systemDirectory));
}

SStepResult InstallMenuEntry(const SInstallSettings& settings)
{
    return WriteEntry("adding Sendwell to the applications menu", settings.m_applicationsDirectory,
                      "XDG_DATA_HOME", MENU_FILE,
                      MenuEntry(settings.m_vellumRoot, settings.m_systemDirectory));
}

} // namespace installer
