#pragma once

#include "installer/StepResult.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// The processes of one user that run a program from one folder: uninstalling ends them before
// it removes the programs, since an open Sendwell would fail at its next send without Pagemill
// and would write a new address book into a folder just purged.
namespace installer
{

struct SRunningProgram
{
    pid_t m_nPid = 0;
    std::string m_strName;
};

// The processes whose real user is nUid and whose program (the link /proc/PID/exe, which
// names the file the kernel runs, not what the process says of itself) is one of aNames in
// folder.
std::vector<SRunningProgram> FindRunningPrograms(const std::filesystem::path& folder,
                                                 const std::vector<std::string>& aNames, uid_t nUid);

// Asks the process to end (SIGTERM) and waits for it at most durWait. The process is held by
// a process descriptor from before its program and user are checked again, so that a process
// id taken over meanwhile by another process is never signalled.
SStepResult EndRunningProgram(const SRunningProgram& program, const std::filesystem::path& folder, uid_t nUid,
                              std::chrono::milliseconds durWait);

} // namespace installer
