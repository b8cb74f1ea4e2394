// Throughput of the mail layer: Base64, building a fax message, and sending it to a server on
// loopback. The fax pages are real Pagemill output: an all-white page (the smallest a page
// gets) and a one-pixel checkerboard (about the largest), copied as often as a run needs.
//   mail_bench [--benchmark_filter=...]
#include "platform/Environment.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/mail/Base64Codec.h"
#include "sender/mail/MimeMail.h"
#include "sender/mail/SmtpLink.h"
#include "tests/support/ScriptedSmtpServer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int MAX_WHITE_PAGES = 254;
constexpr int MAX_CHECKER_PAGES = 20;

fs::path g_dir;
std::vector<std::string> g_aWhitePages;
std::vector<std::string> g_aCheckerPages;

// Runs Pagemill on an all-white and a checkerboard raster and copies its two pages.
bool MakePageFiles()
{
    g_dir = fs::temp_directory_path() / ("mail-bench-" + std::to_string(::getpid()));
    fs::create_directories(g_dir / "c");
    std::string strWhite(std::size_t{platform::RASTER_ROW_BYTES} * platform::RASTER_ROWS, '\0');
    std::string strChecker = strWhite;
    for (int y = 0; y < platform::RASTER_ROWS; ++y)
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            strChecker[std::size_t(y) * platform::RASTER_ROW_BYTES + x] = static_cast<char>((x + y) % 2);
    std::ofstream(g_dir / "c" / "quill.1", std::ios::binary) << strWhite;
    std::ofstream(g_dir / "c" / "quill.2", std::ios::binary) << strChecker;
    std::ofstream(g_dir / "c" / "Page.tmp", std::ios::binary) << '\3';
    platform::SRunOptions pagemill;
    pagemill.m_aEnvironment = platform::EnvironmentWith(
        {"VELLUM_ROOT=" + g_dir.string(), "VELLUM_MESSAGE_LOG=" + (g_dir / "messages").string()});
    pagemill.m_durTimeout = 300s;
    if (!platform::RunProgram({PAGEMILL_PROGRAM}, pagemill).Succeeded() ||
        !fs::exists(g_dir / "c" / "quill2.tif"))
        return false;
    for (int i = 1; i <= MAX_WHITE_PAGES; ++i)
    {
        g_aWhitePages.push_back((g_dir / ("white" + std::to_string(i) + ".tif")).string());
        fs::copy_file(g_dir / "c" / "quill1.tif", g_aWhitePages.back());
    }
    for (int i = 1; i <= MAX_CHECKER_PAGES; ++i)
    {
        g_aCheckerPages.push_back((g_dir / ("checker" + std::to_string(i) + ".tif")).string());
        fs::copy_file(g_dir / "c" / "quill2.tif", g_aCheckerPages.back());
    }
    std::printf("page files from Pagemill: all white %ju bytes, checkerboard %ju bytes\n",
                static_cast<std::uintmax_t>(fs::file_size(g_aWhitePages[0])),
                static_cast<std::uintmax_t>(fs::file_size(g_aCheckerPages[0])));
    return true;
}

std::int64_t TotalBytes(const std::vector<std::string>& files, int nCount)
{
    std::int64_t nTotal = 0;
    for (int i = 0; i < nCount; ++i)
        nTotal += static_cast<std::int64_t>(fs::file_size(files[static_cast<std::size_t>(i)]));
    return nTotal;
}

void FillFax(CMimeMail& mail, const std::vector<std::string>& files, int nPages)
{
    mail.m_strFrom = "me@example.com";
    mail.AddRecipients("remote-printer.Bob@4930123456.fax.example");
    mail.m_strSubject = "Hi! I am: bench";
    mail.m_strBody = "";
    for (int i = 0; i < nPages; ++i)
        mail.AddPart(files[static_cast<std::size_t>(i)].c_str(), AGENT_TIFF_ATTACHMENT, "");
}

// Encoding as the attachment agent does it: 54 bytes at a time.
void BM_Base64Encode(benchmark::State& state)
{
    std::string strData(std::size_t(1) << 20, '\0');
    std::mt19937 random(1);
    for (char& ch : strData)
        ch = static_cast<char>(random());
    const auto* pData = reinterpret_cast<const std::uint8_t*>(strData.data());
    CBase64Codec codec;
    for (auto _ : state)
    {
        std::size_t nChars = 0;
        for (std::size_t nAt = 0; nAt < strData.size(); nAt += 54)
            nChars +=
                codec.Encode(pData + nAt, static_cast<int>(std::min<std::size_t>(54, strData.size() - nAt)))
                    .size();
        benchmark::DoNotOptimize(nChars);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(strData.size()));
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);

void BuildFax(benchmark::State& state, const std::vector<std::string>& files)
{
    const int nPages = static_cast<int>(state.range(0));
    for (auto _ : state)
    {
        CMimeMail mail;
        FillFax(mail, files, nPages);
        mail.Build();
        benchmark::DoNotOptimize(mail.m_strBody.data());
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes(files, nPages));
    state.SetComplexityN(TotalBytes(files, nPages));
}

// Sends a built message over a fresh connection each time; building is left out.
class CBenchLink : public CSmtpLink
{
public:
    using CSmtpLink::CSmtpLink;
    using CSmtpLink::TransmitMessage;
};

void SendFax(benchmark::State& state, const std::vector<std::string>& files)
{
    const int nPages = static_cast<int>(state.range(0));
    CMimeMail mail;
    FillFax(mail, files, nPages);
    mail.Build();
    const std::int64_t nWireBytes =
        static_cast<std::int64_t>(mail.GetHeader().size() + mail.m_strBody.size());
    CScriptedSmtpServer::SOptions options;
    options.m_bKeepData = false;
    for (auto _ : state)
    {
        CScriptedSmtpServer server({"S: 220 bench", "C: HELO *", "S: 250 hi", "C: MAIL *", "S: 250 ok",
                                    "C: RCPT *", "S: 250 ok", "C: DATA", "S: 354 go", "C: <DATA>",
                                    "S: 250 ok", "C: QUIT", "S: 221 bye"},
                                   options);
        CBenchLink link("127.0.0.1", server.Port());
        if (!link.Connect() || !link.TransmitMessage(mail) || !link.Disconnect())
            state.SkipWithError(link.m_strError.c_str());
        const std::string strFaults = server.Finish();
        if (!strFaults.empty())
            state.SkipWithError(strFaults.c_str());
    }
    state.SetBytesProcessed(state.iterations() * nWireBytes);
    state.SetComplexityN(nWireBytes);
}

void BM_BuildWhitePages(benchmark::State& state)
{
    BuildFax(state, g_aWhitePages);
}
void BM_SendWhitePages(benchmark::State& state)
{
    SendFax(state, g_aWhitePages);
}
void BM_BuildCheckerPages(benchmark::State& state)
{
    BuildFax(state, g_aCheckerPages);
}
void BM_SendCheckerPages(benchmark::State& state)
{
    SendFax(state, g_aCheckerPages);
}

BENCHMARK(BM_BuildWhitePages)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Arg(254)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendWhitePages)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Arg(254)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_BuildCheckerPages)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendCheckerPages)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!MakePageFiles())
    {
        std::fprintf(stderr, "Pagemill did not make the page files\n");
        fs::remove_all(g_dir);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(g_dir);
    return 0;
}
