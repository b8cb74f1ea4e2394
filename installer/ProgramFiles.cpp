#include "installer/ProgramFiles.h"

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
    std::error_code error;
    std::filesystem::create_directories(settings.m_systemDirectory, error);
    aSteps.push_back({"creating the folder " + settings.m_systemDirectory.string(), !error, error.message()});
    // The page files are the user's own: the printer writes them as that user, nobody else reads them.
    const bool bExisted = std::filesystem::is_directory(settings.m_driveRoot, error);
    std::filesystem::create_directories(settings.m_driveRoot, error);
    if (!error && !bExisted)
        std::filesystem::permissions(settings.m_driveRoot, std::filesystem::perms::owner_all, error);
    aSteps.push_back({"creating the folder " + settings.m_driveRoot.string(), !error, error.message()});
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
