// Opening the sent faxes window on a record of 10,000 faxes, until its first screen has been
// painted: the store opened, the count and the first batch of rows read, the window laid out,
// shown and drawn (grabbed) on Qt's offscreen platform, with the newest fax chosen and its
// page decoded for the preview. The goal is under 100 ms.
//
// The records are written once, in one transaction, beside a real fax page made by the
// installed-in-the-build Pagemill; every record points at its copy. Only the opening is timed.
//   sent_bench [--benchmark_filter=...]
#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "sender/app/PreviewPane.h"
#include "sender/app/SentFaxModel.h"
#include "sender/app/SentFaxWindow.h"
#include "sender/record/SentFaxStore.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace
{

namespace fs = std::filesystem;

constexpr int RECORDS = 10000;
constexpr const char* FOLDER = "20260101-000000-00";

fs::path g_work;

bool Prepare(std::string& strError)
{
    char szTemplate[] = "/tmp/sent-bench.XXXXXX";
    if (::mkdtemp(szTemplate) == nullptr)
    {
        strError = "cannot make a folder";
        return false;
    }
    g_work = szTemplate;
    ::setenv("VELLUM_ROOT", g_work.c_str(), 1);
    fs::create_directories(g_work / "c");
    std::string strRaster(platform::RASTER_BYTES, '\0');
    for (std::size_t i = 0; i < platform::RASTER_BYTES; i += 131)
        strRaster[i] = 1;
    if (!platform::WriteWholeFile(g_work / "c/quill.1", strRaster) ||
        !platform::WriteWholeFile(g_work / "c/Page.tmp", std::string(1, '\x02')))
    {
        strError = "cannot write the page files";
        return false;
    }
    if (!platform::RunProgram({PAGEMILL_PROGRAM}).Succeeded())
    {
        strError = "Pagemill failed";
        return false;
    }
    const fs::path sent = g_work / "windows/system/sent";
    CSentFaxStore store(sent);
    if (!store.Open(strError))
        return false;
    fs::create_directories(sent / FOLDER);
    fs::copy_file(g_work / "c/quill1.tif", sent / FOLDER / "quill1.tif");

    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench");
    db.setDatabaseName(QString::fromStdString((sent / SENT_DATABASE_NAME).string()));
    if (!db.open() || !db.transaction())
    {
        strError = "cannot write the records";
        return false;
    }
    QSqlQuery insert(db);
    insert.prepare(
        "INSERT INTO sent_fax (sent_at, recipient, fax_number, gateway_address, pages, mail_bytes, "
        "message_id, server_reply, folder, folder_bytes) VALUES (?, ?, ?, ?, 1, 30000, ?, ?, ?, 20000)");
    for (int n = 0; n < RECORDS; ++n)
    {
        insert.bindValue(0, 1'800'000'000 + n * 60);
        insert.bindValue(1, QString("Recipient_%1").arg(n));
        insert.bindValue(2, QString::number(4930000000LL + n));
        insert.bindValue(3,
                         QString("remote-printer.Recipient_%1@%2.fax.example").arg(n).arg(4930000000LL + n));
        insert.bindValue(4, QString("<%1@example.org>").arg(n));
        insert.bindValue(5, QString("250 2.0.0 Ok: queued as Q%1").arg(n));
        // One folder of copies for all: the window reads only the fax it shows.
        insert.bindValue(6, n == RECORDS - 1 ? QString(FOLDER) : QString("%1-x").arg(n));
        if (!insert.exec())
        {
            strError = "cannot write the records";
            return false;
        }
    }
    if (!db.commit())
    {
        strError = "cannot write the records";
        return false;
    }
    insert.finish();
    db.close();
    return true;
}

void BM_OpenSentFaxesWindow(benchmark::State& state)
{
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        {
            CSentFaxWindow window;
            window.show();
            QApplication::processEvents();
            const QPixmap screen = window.grab();
            const auto elapsed = std::chrono::steady_clock::now() - start;
            state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
            if (window.Model()->MatchCount() != RECORDS || screen.isNull() ||
                window.Preview()->View().isNull())
            {
                state.SkipWithError("the window did not show the records");
                break;
            }
        }
    }
    state.counters["records"] = RECORDS;
}
BENCHMARK(BM_OpenSentFaxesWindow)
    ->UseManualTime()
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
        std::fprintf(stderr, "sent_bench: %s\n", strError.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QSqlDatabase::removeDatabase("bench");
    fs::remove_all(g_work);
    return 0;
}
