#include "pages/UserRoot.h"

#include "pages/UserRegistration.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"

#include <unistd.h>

namespace driver
{

std::error_code MakeRootFolder(const std::filesystem::path& folder, EFolderAccess eAccess)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const bool bExisted = fs::is_directory(folder, error);
    fs::create_directories(folder, error);
    // The programs run as the user, who keeps every right; nobody else needs any.
    if (!error &&
        (eAccess == EFolderAccess::Private || (eAccess == EFolderAccess::PrivateWhenNew && !bExisted)))
        fs::permissions(folder, fs::perms::owner_all, error);
    return error;
}

ESetUp SetUpUser(const SUserAccount& account, const std::filesystem::path& vellumRoot, std::string& strError)
{
    const CUserRegistration registration(account);
    if (account.m_nUid == 0 || registration.Exists())
        return ESetUp::NotNeeded;
    // A user's own root keeps what is theirs alone: the settings, the address book and the sent
    // faxes in the system directory, the pages printed in the drive root.
    for (const auto& folder : {platform::SystemDirectory(vellumRoot), platform::DriveRoot(vellumRoot)})
    {
        if (const std::error_code error = MakeRootFolder(folder, EFolderAccess::Private))
        {
            strError = "the folder " + folder.string() + " cannot be made (" + error.message() + ")";
            return ESetUp::Failed;
        }
    }
    // Written last: a registration is what tells this start from the next, which tries again.
    if (!registration.Write(vellumRoot, strError))
        return ESetUp::Failed;
    return ESetUp::Done;
}

ESetUp SetUpOnFirstStart(std::string& strError)
{
    if (!platform::IsPackagedProgram())
        return ESetUp::NotNeeded;
    const auto account = SUserAccount::ById(::getuid());
    if (!account)
    {
        strError = "user " + std::to_string(::getuid()) + " is missing from the user database";
        return ESetUp::Failed;
    }
    return SetUpUser(*account, platform::VellumRoot(), strError);
}

} // namespace driver
