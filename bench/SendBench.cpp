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
//
// Beside it, what a secure connection adds: the same 10-page send below the dialog
// (RunSendJob: Pagemill, the message, the delivery), once with the plain dialogue and once
// with STARTTLS and AUTH PLAIN, each to a scripted server on loopback that holds a certificate
// of the test CA (trusted through SSL_CERT_FILE only). The difference of the two medians is
// the cost of security. The password comes with the job, as the dialog hands it over once the
// keyring or the user has given it: where it comes from is the same for every send and no part
// of the delivery, so the dialog is left out of this pair. The secure send runs twice: trusting
// the test CA alone (SSL_CERT_FILE), and trusting it among the system's own authorities as a
// user's Sendwell does, with OpenSSL's default paths: SSL_CERT_FILE unset, so the system's
// bundle file counts, and SSL_CERT_DIR naming the system's folder and one with the test CA.
// The same variants then time the connection alone (Config's Test: connect,
// secure, sign in, QUIT) to show how much of the difference the connection is.
//   send_bench [--benchmark_filter=...]
#include "platform/BinaryFile.h"
#include "platform/Process.h"
#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/SendDialog.h"
#include "sender/common/Branding.h"
#include "sender/send/SendOperation.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/TrustedTestCa.h"

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
const char* const LOGIN = "ann@example.org";
const char* const PASSWORD = "bench pa55word";

fs::path g_work;    // everything of this run
fs::path g_rasters; // the rendered pages, linked into each run's page files
fs::path g_root;    // VELLUM_ROOT
fs::path g_log;     // VELLUM_MESSAGE_LOG
CTrustedTestCa* g_pCa = nullptr;
fs::path g_noCertificates; // an empty folder, for SSL_CERT_DIR
fs::path g_hashedTestCa;   // a folder with the test CA under its name hash

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

// The dialogue a provider's submission port holds: EHLO, STARTTLS, the handshake, EHLO again
// and AUTH PLAIN before the envelope; or the plain one with HELO.
std::vector<std::string> ServerScript(ESmtpSecurity eSecurity, bool bMail)
{
    std::vector<std::string> aScript;
    if (eSecurity == ESmtpSecurity::None)
        aScript = {"S: 220 bench", "C: HELO *", "S: 250 hi"};
    else
        aScript = {"S: 220 bench ESMTP",
                   "C: EHLO *",
                   "S: 250-bench\r\n250-PIPELINING\r\n250-STARTTLS\r\n250 8BITMIME",
                   "C: STARTTLS",
                   "S: 220 2.0.0 go ahead",
                   "T:",
                   "C: EHLO *",
                   "S: 250-bench\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME",
                   "C: AUTH PLAIN *",
                   "S: 235 2.7.0 accepted"};
    if (bMail)
        aScript.insert(aScript.end(), {"C: MAIL *", "S: 250 ok", "C: RCPT *", "S: 250 ok", "C: DATA",
                                       "S: 354 go", "C: <DATA>", "S: 250 ok"});
    aScript.insert(aScript.end(), {"C: QUIT", "S: 221 bye"});
    return aScript;
}

CScriptedSmtpServer::SOptions ServerOptions()
{
    CScriptedSmtpServer::SOptions options;
    options.m_bKeepData = false;
    options.m_strCertificate = g_pCa->Certificate("good");
    options.m_strKey = g_pCa->Key("good");
    return options;
}

// The authorities the client trusts in a variant.
enum class ETrust
{
    TestCaOnly,
    SystemAndTestCa,
};

// Points SSL_CERT_FILE and SSL_CERT_DIR, which the client reads at each connection, at the
// variant's authorities; false when they are not there.
bool Trust(ETrust eTrust)
{
    if (eTrust == ETrust::TestCaOnly)
        // The CA's own certificate lies beside the leaves, as "ca".
        return ::setenv("SSL_CERT_FILE", g_pCa->Certificate("ca").c_str(), 1) == 0 &&
               ::setenv("SSL_CERT_DIR", g_noCertificates.c_str(), 1) == 0;
    const std::string strFolders = std::string(SYSTEM_CERTIFICATE_FOLDER) + ":" + g_hashedTestCa.string();
    return !g_hashedTestCa.empty() && fs::is_directory(SYSTEM_CERTIFICATE_FOLDER) &&
           ::unsetenv("SSL_CERT_FILE") == 0 && ::setenv("SSL_CERT_DIR", strFolders.c_str(), 1) == 0;
}

// A folder as OpenSSL looks up authorities in, by the hash of their name, that holds the test
// CA alone. Empty when it cannot be made.
fs::path HashedTestCa(const std::string& strTestCa)
{
    const fs::path folder = g_work / "hashed-test-ca";
    platform::SRunOptions options;
    options.m_durTimeout = 60s;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    const auto hash = platform::RunProgram({"openssl", "x509", "-hash", "-noout", "-in", strTestCa}, options);
    const std::string strHash = hash.m_strOutput.substr(0, hash.m_strOutput.find('\n'));
    std::error_code error;
    fs::create_directories(folder, error);
    if (!hash.Succeeded() || strHash.size() != 8 || error)
        return {};
    fs::create_symlink(strTestCa, folder / (strHash + ".0"), error);
    return error ? fs::path() : folder;
}

// The job the dialog hands to its worker after Send, with the password already given.
SSendJob Job(ESmtpSecurity eSecurity, int nPort)
{
    SSendJob job;
    job.m_strSmtpServer = "127.0.0.1:" + std::to_string(nPort);
    job.m_eSecurity = eSecurity;
    if (eSecurity != ESmtpSecurity::None)
    {
        job.m_strLogin = LOGIN;
        job.m_strPassword = PASSWORD;
    }
    job.m_strFrom = LOGIN;
    job.m_strRecipientAddress = GatewayAddress("Acme_Trading_Co_", FAX_NUMBER);
    job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
    job.m_fnRunConverter = RunInstalledConverter;
    return job;
}

void BM_SendJobTenTextPages(benchmark::State& state, ESmtpSecurity eSecurity, ETrust eTrust)
{
    if (!Trust(eTrust))
        state.SkipWithError("no system certificates in " SYSTEM_CERTIFICATE_FOLDER);
    for (auto _ : state)
    {
        Print();
        CScriptedSmtpServer server(ServerScript(eSecurity, true), ServerOptions());
        const SSendJob job = Job(eSecurity, server.Port());

        const auto start = std::chrono::steady_clock::now();
        const SSendResult result = RunSendJob(job);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());

        const std::string strFaults = server.Finish();
        if (result.m_eOutcome != ESendOutcome::Sent || !strFaults.empty())
        {
            state.SkipWithError(("not sent: " + result.m_strDetail + " " + strFaults).c_str());
            break;
        }
    }
    state.counters["pages"] = PAGES;
}
BENCHMARK_CAPTURE(BM_SendJobTenTextPages, plain, ESmtpSecurity::None, ETrust::TestCaOnly)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_SendJobTenTextPages, starttls_auth, ESmtpSecurity::StartTls, ETrust::TestCaOnly)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_SendJobTenTextPages, starttls_auth_system_store, ESmtpSecurity::StartTls,
                  ETrust::SystemAndTestCa)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(20)
    ->ReportAggregatesOnly(true);

// The connection alone, as Config's Test makes it: connect, greet, secure and sign in, QUIT.
void BM_ConnectAndSignIn(benchmark::State& state, ESmtpSecurity eSecurity, ETrust eTrust)
{
    if (!Trust(eTrust))
        state.SkipWithError("no system certificates in " SYSTEM_CERTIFICATE_FOLDER);
    for (auto _ : state)
    {
        CScriptedSmtpServer server(ServerScript(eSecurity, false), ServerOptions());
        const SSendJob job = Job(eSecurity, server.Port());

        const auto start = std::chrono::steady_clock::now();
        const SServerTestResult result = TestMailServer(job);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());

        const std::string strFaults = server.Finish();
        if (!result.m_bWorked || !strFaults.empty())
        {
            state.SkipWithError((result.m_strText + " " + strFaults).c_str());
            break;
        }
    }
}
BENCHMARK_CAPTURE(BM_ConnectAndSignIn, plain, ESmtpSecurity::None, ETrust::TestCaOnly)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(50)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ConnectAndSignIn, starttls_auth, ESmtpSecurity::StartTls, ETrust::TestCaOnly)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(50)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ConnectAndSignIn, starttls_auth_system_store, ESmtpSecurity::StartTls,
                  ETrust::SystemAndTestCa)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(50)
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
    // The secure server's certificate, from a CA that this process alone trusts.
    CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "send-bench-ca");
    if (!ca.Failure().empty())
    {
        std::fprintf(stderr, "send_bench: the test CA: %s\n", ca.Failure().c_str());
        return 1;
    }
    g_pCa = &ca;
    g_noCertificates = g_work / "no-certificates";
    fs::create_directories(g_noCertificates);
    g_hashedTestCa = HashedTestCa(ca.Certificate("ca"));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_pCa = nullptr;
    fs::remove_all(g_work);
    return 0;
}
