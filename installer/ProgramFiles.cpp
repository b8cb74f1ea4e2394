#include "installer/ProgramFiles.h"

#include "pages/UserRoot.h"
#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <system_error>

namespace installer
{

namespace
{

// The programs are a few MiB: they are copied in pieces of this size.
constexpr std::size_t COPY_CHUNK_BYTES = 64 * 1024;

} // namespace

bool CopyAtomically(const std::filesystem::path& from, const std::filesystem::path& to,
                    std::filesystem::perms permissions, std::string& strError)
{
    platform::CFileReader reader;
    if (!reader.Open(from))
    {
        strError = platform::ErrnoText("cannot copy " + from.string());
        return false;
    }
    platform::CFileWriter writer;
    if (writer.Create(to, platform::EWriteMode::Atomic) && writer.SetPermissions(permissions))
    {
        std::vector<char> chunk(COPY_CHUNK_BYTES);
        for (;;)
        {
            const std::size_t n = reader.Read(chunk.data(), chunk.size());
            if (reader.Failed())
            {
                strError = platform::ErrnoText("cannot read " + from.string());
                // What was written goes with the temporary file: the target keeps the old copy.
                writer.Discard();
                return false;
            }
            if (!writer.Write(chunk.data(), n) || n < chunk.size())
                break;
        }
    }
    if (!writer.Close())
    {
        strError = "cannot copy " + from.string() + ": " + writer.Error();
        return false;
    }
    return true;
}

std::vector<SStepResult> MakeFolders(const SInstallSettings& settings)
{
    std::vector<SStepResult> aSteps;
    // A user's own root keeps what is theirs alone: the settings, the address book and the sent
    // faxes beside the programs in the system directory, the pages printed in the drive root.
    // Both folders are the user's only, also when an older version made them readable by all;
    // the programs run as the user, who keeps every right. Programs that root places into a
    // folder of its choice are left for whoever is to run them, only the pages made private.
    const bool bUsersRoot = settings.m_eFor != EInstallFor::Folder;
    for (const auto& folder : {settings.m_systemDirectory, settings.m_driveRoot})
    {
        const auto eAccess = bUsersRoot                       ? driver::EFolderAccess::Private
                             : folder == settings.m_driveRoot ? driver::EFolderAccess::PrivateWhenNew
                                                              : driver::EFolderAccess::AsItIs;
        const std::error_code error = driver::MakeRootFolder(folder, eAccess);
        aSteps.push_back({"creating the folder " + folder.string(), !error, error.message()});
    }
    return aSteps;
}

SStepResult CopyFromSource(const SInstallSettings& settings, const char* pszName)
{
    std::string strError;
    const auto from = settings.m_sourceDirectory / pszName;
    std::error_code error;
    const auto status = std::filesystem::status(from, error);
    bool bOk = false;
    if (!std::filesystem::is_regular_file(status))
        strError = from.string() + " is missing";
    else
        bOk = CopyAtomically(from, settings.m_systemDirectory / pszName, status.permissions(), strError);
    return {std::string("copying ") + pszName, bOk, strError};
}

SStepResult FindGhostscript(const SInstallSettings& settings)
{
    // The driver shares the system's renderer with other printers; it cannot be copied from
    // here, only found. Without it nothing printed to the fax printer can become pages.
    const bool bFound = !platform::FindProgramOnPath(settings.m_strGhostscript).empty();
    return {"finding Ghostscript", bFound,
            bFound ? std::string()
                   : "the program " + settings.m_strGhostscript +
                         " is missing; install the package ghostscript"};
}

} // namespace installer
