#include "tests/support/MailDrop.h"

#include "platform/BinaryFile.h"

#include <cstdlib>

namespace
{

using namespace std::chrono_literals;

constexpr const char* PORT_PREFIX = "PORT ";

} // namespace

int CMailDrop::Start(const std::filesystem::path& folder, const std::vector<std::string>& aArgs)
{
    m_folder = folder;
    std::vector<std::string> aCommand = {VELLUM_PYTHON,   MAIL_DROP_SCRIPT, "--folder",
                                         folder.string(), "--timeout",      "120"};
    aCommand.insert(aCommand.end(), aArgs.begin(), aArgs.end());
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    std::string strLine;
    if (!m_process.Start(aCommand, options) || !m_process.ReadOutputLine(strLine, 30s) ||
        !strLine.starts_with(PORT_PREFIX))
        return 0;
    return std::atoi(strLine.c_str() + std::char_traits<char>::length(PORT_PREFIX));
}

bool CMailDrop::Finish()
{
    std::string strOutput;
    (void)m_process.ReadOutput(strOutput, 60s, 1 << 16);
    return m_process.Wait(30s) == platform::EWaitResult::Ended && m_process.Succeeded();
}

std::string CMailDrop::Envelope(int n) const
{
    return platform::ReadWholeFile(m_folder / ("message-" + std::to_string(n) + ".json"), 1 << 16)
        .value_or(std::string());
}
