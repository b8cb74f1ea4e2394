// Drawing a cover page from the default template: the fields filled into the SVG, the page
// drawn, the note wrapped into its box and every pixel thresholded to black or white. Beside it,
// what the send path pays in all: reading and checking the template, drawing, and writing the
// page raster atomically. The goal is under 50 ms for the drawing.
//   cover_bench [--benchmark_filter=...]
#include "platform/PageFiles.h"
#include "sender/cover/CoverPage.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>

namespace
{

SCoverFields Fields()
{
    SCoverFields fields;
    fields.m_strRecipient = "Margaret Holloway";
    fields.m_strRecipientCompany = "Acme Trading Co.";
    fields.m_strRecipientFax = "4930123456789";
    fields.m_strSenderName = "Peter Lindqvist";
    fields.m_strSenderCompany = "Lindqvist & Söhne";
    fields.m_strSenderVoice = "+49 30 555 1234";
    fields.m_strSenderFax = "4930555123499";
    fields.m_strSenderEmail = "peter@example.org";
    fields.m_strSubject = "Quotation 2026-118";
    fields.m_nPages = 3;
    for (int n = 0; n < 8; ++n)
        fields.m_strNote +=
            "Please find the quotation attached; the prices hold until the end of the month.\n";
    return fields;
}

void BM_DrawCoverPage(benchmark::State& state)
{
    CCoverTemplate coverTemplate;
    std::string strError;
    if (!coverTemplate.Load(DEFAULT_TEMPLATE, strError))
    {
        state.SkipWithError(strError.c_str());
        return;
    }
    const SCoverFields fields = Fields();
    std::vector<std::uint8_t> aRaster(platform::RASTER_BYTES);
    for (auto _ : state)
    {
        if (!DrawCoverPage(coverTemplate, fields, aRaster, strError))
        {
            state.SkipWithError(strError.c_str());
            break;
        }
        benchmark::DoNotOptimize(aRaster.data());
    }
}
BENCHMARK(BM_DrawCoverPage)->Unit(benchmark::kMillisecond);

void BM_WriteCoverPage(benchmark::State& state)
{
    char szFolder[] = "/tmp/cover-bench.XXXXXX";
    if (::mkdtemp(szFolder) == nullptr)
    {
        state.SkipWithError("cannot make a folder");
        return;
    }
    const std::filesystem::path raster = std::filesystem::path(szFolder) / platform::RasterFileName(1);
    const SCoverFields fields = Fields();
    std::string strError;
    for (auto _ : state)
    {
        if (!WriteCoverPage(fields, DEFAULT_TEMPLATE, raster, strError))
        {
            state.SkipWithError(strError.c_str());
            break;
        }
    }
    std::filesystem::remove_all(szFolder);
}
BENCHMARK(BM_WriteCoverPage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
