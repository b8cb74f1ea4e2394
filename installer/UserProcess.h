#pragma once

#include "installer/StepResult.h"
#include "pages/UserAccount.h"

#include <functional>
#include <vector>

namespace installer
{

// Runs fnPart in a child process that has become account for good (its groups and ids, its
// HOME, USER and LOGNAME, umask 022), so that what fnPart does in the user's home is done with
// the user's rights only. Returns the steps fnPart returned there, and a failed step "acting as
// the user NAME" where the child could not be made, could not become the user or ended early.
std::vector<SStepResult> RunAsUser(const driver::SUserAccount& account,
                                   const std::function<std::vector<SStepResult>()>& fnPart);

} // namespace installer
