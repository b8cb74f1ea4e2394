#pragma once

#include "installer/InstallSettings.h"
#include "installer/StepResult.h"

#include <filesystem>
#include <string>
#include <vector>

// Installs Vellum Zeru 3.0 from a distribution folder (the current directory), or removes it.
//
// The fax printer is one CUPS queue that every user of the computer shares; each job's pages
// go to the user who printed it. Installing therefore has two parts:
//   - the machine's: the backend and the PPD placed for CUPS, and the queue (an administrator's);
//   - a user's: the programs and the help document in their system directory, their
//     registration with the printer (which root their pages go to), the autostart entry of
//     the page watcher, the menu entry of Sendwell, the printer as their default printer, and
//     the watcher started in their session.
// Run by a user, it does their part, and the machine's part when they may (or finds it in
// place). Run by root through sudo or pkexec, it does the invoking user's part as that user
// and the machine's part itself. Run by root alone, it does the machine's part and says how
// each user sets themselves up; given VELLUM_ROOT as well, it also places the programs there
// (to run them without printing: the printer takes no jobs of root).
//
// Every step runs even when an earlier one failed; the completion message then names each
// step that failed instead of announcing success, and a user who may not administer CUPS
// is told the exact commands that register the printer.
namespace installer
{

class CInstaller
{
public:
    explicit CInstaller(SInstallSettings settings);

    // Runs every step of the chosen action in order.
    void Run();

    const std::vector<SStepResult>& Steps() const { return m_steps; }
    bool Succeeded() const;
    // The caption and text of the completion message (lines separated by '\n').
    std::string CompletionCaption() const;
    std::string CompletionText() const;

private:
    void Record(std::string strStep, bool bOk, std::string strDetail = {});
    void Record(SStepResult step);
    // Runs a part as the user set up: in this process when that is who runs it, else in a
    // child process that has become the user, whose steps are added to these.
    void AsUser(void (CInstaller::*pPart)());

    // Installing.
    void InstallUserFiles();
    void InstallUserPrinter();
    void RegisterUser();

    // The shared queue alone (--add-queue, --remove-queue).
    void AddSharedQueue();
    void RemoveSharedQueue();
    // Whether root runs this; else records why the step may not run.
    bool RunsAsRoot(const std::string& strStep);

    // Removing.
    void UninstallUserFiles();
    void UninstallMachinePart();
    void Remove(const std::string& strWhat, const std::filesystem::path& path);
    void ForgetDefaultPrinter();
    std::vector<std::string> OtherRegisteredUsers() const;

    SInstallSettings m_settings;
    std::vector<SStepResult> m_steps;
    // Whether the page watcher runs for the user once installing is done.
    bool m_bWatcherRunning = false;
    // Uninstalling: the users who still use the printer, so its machine part stays.
    std::vector<std::string> m_aOtherUsers;
    // Uninstalling: the package vellum-zeru provides the printer, so its machine part stays.
    bool m_bPackageKeepsPrinter = false;
};

} // namespace installer
