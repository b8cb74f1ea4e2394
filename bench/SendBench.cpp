// From pressing Send to the success message, for a fax of 10 text pages: the click on the
// main dialog's Send button (on Qt's offscreen platform) until it returns with the message
// logged. In between: the checks, the settings and the address book, the installed Pagemill
// run as a process on the 10 rasters, the message built, and the SMTP dialogue with a
// server on loopback that takes the message without looking at it.
//
// The pages are the first 10 of a manual that Debian ships, rendered once with Ghostscript
// (scripts/make-page-files.py); every run gets them as hard links, since Pagemill deletes
// the rasters it has converted. Only the click is timed; preparing the page files, the
// server and the dialog is not.
//   send_bench [--benchmark_filter=...]
#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "resources/DialogTables.h"
#include "sender/Branding.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/SendDialog.h"
#include "sender/send/SendOperation.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/ScriptedSmtpServer.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int PAGES = 10;
const char* const RECIPIENT = "Acme Trading Co.";
const char* const FAX_NUMBER = "12345678901";

fs::path g_work;    // everything of this run
fs::path g_rasters; // the rendered pages, linked into each run's page files
fs::path g_root;    // VELLUM_ROOT
fs::path g_log;     // VELLUM_MESSAGE_LOG

fs::path Drive(const std::string& strName)
{
    return g_root / "c" / strName;
}

std::string FindManual()
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(MANUAL_FOLDER, error))
    {
        const std::string strName = entry.path().filename().string();
        if (strName.rfind("shared-mime-info-", 0) == 0 && entry.path().extension() == ".pdf")
            return entry.path().string();
    }
    return {};
}

// Renders the pages once and installs Pagemill as the Installer would.
bool Prepare(std::string& strError)
{
    g_work = fs::temp_directory_path() / ("send-bench-" + std::to_string(::getpid()));
    g_rasters = g_work / "rendered";
    g_root = g_work / "root";
    g_log = g_work / "messages.log";
    const std::string strManual = FindManual();
    if (strManual.empty())
    {
        strError = std::string("no shared-mime-info manual in ") + MANUAL_FOLDER;
        return false;
    }
    platform::SSpawnOptions options;
    options.m_eOutput = platform::EChildStream::Pipe;
    platform::CProcess render;
    std::string strPages;
    // The script says how many pages it made, once it has made them.
    if (!render.Start({VELLUM_PYTHON, MAKE_PAGE_FILES, "--root", g_rasters.string(), "--document", strManual,
                       "--first", "1", "--last", std::to_string(PAGES)},
                      options) ||
        !render.ReadOutputLine(strPages, 300s) || render.Wait(60s) != platform::EWaitResult::Ended ||
        !render.Succeeded() || strPages != std::to_string(PAGES))
    {
        strError = "rendering the manual failed";
        return false;
    }
    fs::create_directories(g_root / "c");
    fs::create_directories(g_root / "windows/system");
    for (const char* pszFile : {"Pagemill", "libvellum_msgbox.so"})
        fs::copy_file(fs::path(BIN_DIR) / pszFile, g_root / "windows/system" / pszFile);
    ::setenv("VELLUM_ROOT", g_root.c_str(), 1);
    ::setenv("VELLUM_MESSAGE_LOG", g_log.c_str(), 1);
    return true;
}

// The page files as the printer leaves them, and nothing else in the page folder.
void Print()
{
    for (const auto& entry : fs::directory_iterator(g_root / "c"))
        fs::remove(entry.path());
    for (int n = 1; n <= PAGES; ++n)
        fs::create_hard_link(g_rasters / "c" / ("quill." + std::to_string(n)),
                             Drive("quill." + std::to_string(n)));
    fs::copy_file(g_rasters / "c" / "Page.tmp", Drive("Page.tmp"));
}

std::vector<std::string> Transcript()
{
    return {"S: 220 bench", "C: HELO *", "S: 250 hi", "C: MAIL *", "S: 250 ok", "C: RCPT *", "S: 250 ok",
            "C: DATA",      "S: 354 go", "C: <DATA>", "S: 250 ok", "C: QUIT",   "S: 221 bye"};
}

void BM_SendTenTextPages(benchmark::State& state)
{
    std::string strSuccess = std::string(PRODUCT_NAME) + "\t" + SEND_SUCCESS_TEXT + "\n";
    CScriptedSmtpServer::SOptions options;
    options.m_bKeepData = false;
    for (auto _ : state)
    {
        Print();
        CScriptedSmtpServer server(Transcript(), options);
        std::string strError;
        if (!WriteSettings("127.0.0.1:" + std::to_string(server.Port()), "ann@example.org", "Ann", strError))
        {
            state.SkipWithError(strError.c_str());
            break;
        }
        fs::remove(g_log);
        CSendDialog dialog;
        dialog.show();
        CDialogBuilder::Control<QComboBox>(dialog, resources::IDC_RECIPIENT)->setEditText(RECIPIENT);
        CDialogBuilder::Control<QLineEdit>(dialog, resources::IDC_FAX_NUMBER)->setText(FAX_NUMBER);
        auto* pSend = CDialogBuilder::Control<QPushButton>(dialog, resources::IDOK);

        const auto start = std::chrono::steady_clock::now();
        QTest::mouseClick(pSend, Qt::LeftButton);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());

        const std::string strFaults = server.Finish();
        const std::string strSaid = platform::ReadWholeFile(g_log, 1 << 20).value_or("(nothing)");
        if (!strFaults.empty() || strSaid != strSuccess || dialog.result() != QDialog::Accepted)
        {
            state.SkipWithError(("not sent: " + strFaults + strSaid).c_str());
            break;
        }
        // Pagemill made every page of this run: the folder was emptied before it.
        for (int n = 1; n <= PAGES; ++n)
            if (!fs::exists(Drive("quill" + std::to_string(n) + ".tif")) ||
                fs::exists(Drive("quill." + std::to_string(n))))
                state.SkipWithError(("page " + std::to_string(n) + " was not converted").c_str());
    }
    state.counters["pages"] = PAGES;
}
BENCHMARK(BM_SendTenTextPages)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);

// The share of it that is Pagemill: the same 10 pages converted by the installed program.
void BM_ConvertTenTextPages(benchmark::State& state)
{
    for (auto _ : state)
    {
        state.PauseTiming();
        Print();
        state.ResumeTiming();
        const SConverterRun run = RunInstalledConverter();
        if (!run.m_bSucceeded)
        {
            state.SkipWithError(run.m_strWhy.c_str());
            break;
        }
    }
}
BENCHMARK(BM_ConvertTenTextPages)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    std::string strError;
    if (!Prepare(strError))
    {
        std::fprintf(stderr, "send_bench: %s\n", strError.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(g_work);
    return 0;
}
