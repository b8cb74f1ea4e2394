#pragma once

#include "pages/UserAccount.h"

#include <filesystem>
#include <string>
#include <system_error>

// A user's root made and the user set up for the fax printer: what the Installer does in a
// user's home, and what the packaged Sendwell and Pagewatch do for a user on their first start,
// so that a user who never ran the Installer gets their pages too.
namespace driver
{

// How a folder of a root is left once it is there.
enum class EFolderAccess
{
    Private,        // the owner's alone (0700), also when an older version made it readable by all
    PrivateWhenNew, // the owner's alone when it was made now; one that was there is left as it is
    AsItIs,         // as it was, or as the umask makes it
};

// Makes the folder and those above it that are missing, then sets its access.
std::error_code MakeRootFolder(const std::filesystem::path& folder, EFolderAccess eAccess);

enum class ESetUp
{
    NotNeeded, // set up already (a registration is there), or root, whose print jobs the printer refuses
    Done,
    Failed, // nothing registered: the next start tries again
};

// Sets up a user whom the fax printer does not know yet: the root's system directory and drive
// root made, both the user's alone, and the user's registration written naming the root. A
// user with a registration, whether the Installer wrote it or an earlier start, keeps it and
// their folders as they are. Run as the user.
[[nodiscard]] ESetUp SetUpUser(const SUserAccount& account, const std::filesystem::path& vellumRoot,
                               std::string& strError);

// SetUpUser for the user running this program (from the user database) and their root
// (platform::VellumRoot()), when the program is the packaged one; a program run from a build or
// from a user's system directory has been set up by the Installer and needs nothing.
[[nodiscard]] ESetUp SetUpOnFirstStart(std::string& strError);

} // namespace driver
