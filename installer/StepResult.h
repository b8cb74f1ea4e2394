#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace installer
{

// One step of installing or uninstalling, as the completion message reports it.
struct SStepResult
{
    std::string m_strStep; // "copying Sendwell"
    bool m_bOk = false;
    std::string m_strDetail; // why it failed
};

inline bool AllSucceeded(const std::vector<SStepResult>& aSteps)
{
    return std::all_of(aSteps.begin(), aSteps.end(), [](const SStepResult& step) { return step.m_bOk; });
}

} // namespace installer
