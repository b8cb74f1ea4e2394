#include "tests/support/SmtpPeer.h"

#include "platform/Environment.h"

namespace
{

using namespace std::chrono_literals;

constexpr const char* PORT_PREFIX = "PORT ";
// A line per problem and a last one.
constexpr std::size_t MAX_REPORT_BYTES = 1 << 20;

} // namespace

int CSmtpPeer::Start(const std::vector<std::string>& aArgs, const std::vector<std::string>& aEnvironment)
{
    std::vector<std::string> aCommand = {VELLUM_PYTHON, SMTP_PEER_SCRIPT};
    aCommand.insert(aCommand.end(), aArgs.begin(), aArgs.end());
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    if (!aEnvironment.empty())
        options.m_aEnvironment = platform::EnvironmentWith(aEnvironment);
    std::string strLine;
    if (!m_process.Start(aCommand, options) || !m_process.ReadOutputLine(strLine, 30s) ||
        !strLine.starts_with(PORT_PREFIX))
        return 0;
    return std::atoi(strLine.c_str() + std::char_traits<char>::length(PORT_PREFIX));
}

bool CSmtpPeer::Finish(std::string& strReport)
{
    (void)m_process.ReadOutput(strReport, 60s, MAX_REPORT_BYTES);
    if (m_process.Wait(30s) != platform::EWaitResult::Ended)
        strReport += "(the peer did not end)\n";
    else if (!m_process.Succeeded())
        strReport += "(the peer's " + m_process.Describe() + ")\n";
    return m_process.Succeeded() && strReport.find("DONE ok") != std::string::npos;
}
