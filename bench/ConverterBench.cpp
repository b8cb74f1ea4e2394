// The converter measured side by side with its peers, in one run:
//   - EncodePage against libtiff's CCITT Group 3 one-dimensional encoder on the same pages;
//   - one page of a 20-page run against the floor of mapping a raster, reading every byte of it
//     and removing it;
//   - Pagemill as a whole process against netpbm's pbmtog3, per page and over a document,
//     and the 10-page document against the same floor over its 10 rasters;
//   - Pagemill's peak memory for runs of 1, 20 and 254 pages.
// Every run's rasters are written as the fax printer's backend writes them (driver::CPageFileStage:
// each page its own file, on the disk before the page count names it), outside the timed part,
// so that converting a page and removing its raster do the work they do after a print job.
// The scratch folder is under TMPDIR (default /tmp); it must be on a disk, not in memory, for the
// syncs to cost what they cost.
// Run: build/bin/converter_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
// (needs Ghostscript, netpbm and the sample manual; --benchmark_filter=Document10 for the
// document alone). With VELLUM_PAGEMILL_BASELINE=/path/to/an/older/Pagemill[:/another/Pagemill...]
// the 10-page document runs of each of those are measured beside this build's, in the same run.

#include "converter/FaxRow.h"
#include "converter/PageConverter.h"
#include "converter/RowPacker.h"
#include "converter/T4Encoder.h"
#include "pages/PageFileStage.h"
#include "platform/Process.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <glob.h>
#include <map>
#include <random>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using converter::FAX_PAGE_ROWS;
using converter::FAX_ROW_PIXELS;
using platform::RASTER_BYTES;
using platform::RASTER_ROW_BYTES;

constexpr int RUN_PAGES = 20;      // pages of the run whose per-page cost is measured
constexpr int DOCUMENT_PAGES = 17; // the sample manual
constexpr int SHORT_DOCUMENT_PAGES = 10;
// Writing a run's rasters to the disk takes far longer than converting them, and is not timed:
// a fixed number of iterations keeps a benchmark's wall time bounded. Repetitions give the spread.
constexpr int RUN_ITERATIONS = 10;

// ---- test pages ---------------------------------------------------------------------

struct SPages
{
    fs::path m_dir;                          // scratch folder
    std::map<std::string, Bytes> m_aRasters; // name -> raster bytes
    std::vector<std::string> m_aDocument;    // names of the document's pages, in order
};

Bytes Pattern(const std::function<std::uint8_t(int, int)>& pixel)
{
    Bytes raster(RASTER_BYTES);
    for (int y = 0; y < FAX_PAGE_ROWS; ++y)
        for (int x = 0; x < RASTER_ROW_BYTES; ++x)
            raster[std::size_t(y) * RASTER_ROW_BYTES + x] = pixel(x, y);
    return raster;
}

// Runs a program to its end, its standard input and output from and to the files named; its
// exit code, or -1 when it could not run or a signal ended it.
int Spawn(const std::vector<std::string>& args, const char* pszIn = nullptr, const char* pszOut = nullptr)
{
    platform::SSpawnOptions options;
    const int nIn = pszIn ? open(pszIn, O_RDONLY | O_CLOEXEC) : -1;
    const int nOut = pszOut ? open(pszOut, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    if (nIn >= 0)
    {
        options.m_eInput = platform::EChildStream::Descriptor;
        options.m_nInputFd = nIn;
    }
    if (nOut >= 0)
    {
        options.m_eOutput = platform::EChildStream::Descriptor;
        options.m_nOutputFd = nOut;
    }
    platform::CProcess process;
    const bool bStarted =
        (pszIn == nullptr || nIn >= 0) && (pszOut == nullptr || nOut >= 0) && process.Start(args, options);
    for (const int fd : {nIn, nOut})
        if (fd >= 0)
            close(fd);
    if (!bStarted || process.Wait(std::chrono::milliseconds(-1)) != platform::EWaitResult::Ended)
        return -1;
    return process.ExitCode();
}

Bytes ReadFile(const fs::path& path)
{
    Bytes data(fs::file_size(path));
    FILE* pFile = std::fopen(path.c_str(), "rb");
    if (pFile == nullptr || std::fread(data.data(), 1, data.size(), pFile) != data.size())
        std::abort();
    std::fclose(pFile);
    return data;
}

void WriteFile(const fs::path& path, const void* pData, std::size_t nBytes)
{
    FILE* pFile = std::fopen(path.c_str(), "wb");
    if (pFile == nullptr || std::fwrite(pData, 1, nBytes, pFile) != nBytes)
        std::abort();
    std::fclose(pFile);
}

// The same page as a PBM file for pbmtog3: 1700 pixels a row, packed, 1 black.
void WritePbm(const fs::path& path, const Bytes& raster)
{
    std::string strPbm = "P4\n1700 2200\n";
    const int nRowBytes = (RASTER_ROW_BYTES + 7) / 8;
    for (int y = 0; y < FAX_PAGE_ROWS; ++y)
        for (int nByte = 0; nByte < nRowBytes; ++nByte)
        {
            std::uint8_t nBits = 0;
            for (int b = 0; b < 8; ++b)
            {
                const int x = nByte * 8 + b;
                if (x < RASTER_ROW_BYTES && raster[std::size_t(y) * RASTER_ROW_BYTES + x] != 0)
                    nBits |= std::uint8_t(0x80 >> b);
            }
            strPbm += char(nBits);
        }
    WriteFile(path, strPbm.data(), strPbm.size());
}

SPages& Pages()
{
    static SPages s_pages = []
    {
        SPages pages;
        pages.m_dir = fs::temp_directory_path() / ("converter-bench-" + std::to_string(getpid()));
        fs::create_directories(pages.m_dir / "doc");
        glob_t found = {};
        if (glob("/usr/share/doc/shared-mime-info/shared-mime-info-*.pdf", 0, nullptr, &found) != 0)
        {
            std::fprintf(stderr, "the sample manual of shared-mime-info is missing\n");
            std::exit(1);
        }
        const std::string strDocument = found.gl_pathv[0];
        globfree(&found);
        const int nRendered = Spawn({"/usr/bin/python3", VELLUM_SOURCE_DIR "/scripts/make-page-files.py",
                                     "--root", (pages.m_dir / "doc").string(), "--document", strDocument,
                                     "--first", "1", "--last", std::to_string(DOCUMENT_PAGES)},
                                    nullptr, "/dev/null");
        if (nRendered != 0)
            std::exit(1);
        for (int n = 1; n <= DOCUMENT_PAGES; ++n)
        {
            const std::string strName = "doc" + std::to_string(n);
            pages.m_aRasters[strName] = ReadFile(pages.m_dir / "doc/c" / ("quill." + std::to_string(n)));
            pages.m_aDocument.push_back(strName);
        }
        std::mt19937 random(1);
        pages.m_aRasters["checkerboard"] = Pattern([](int x, int y) { return std::uint8_t((x + y) % 2); });
        pages.m_aRasters["noise"] = Pattern([&](int, int) { return std::uint8_t(random() % 2); });
        pages.m_aRasters["allblack"] = Pattern([](int, int) { return std::uint8_t(1); });
        pages.m_aRasters["allwhite"] = Pattern([](int, int) { return std::uint8_t(0); });
        for (const auto& [strName, raster] : pages.m_aRasters)
        {
            WriteFile(pages.m_dir / (strName + ".raster"), raster.data(), raster.size());
            WritePbm(pages.m_dir / (strName + ".pbm"), raster);
        }
        return pages;
    }();
    return s_pages;
}

// The page buffer: 1728 pixels a row packed into 27 words, the last 28 pixels white.
std::vector<std::uint64_t> PageBuffer(const Bytes& raster)
{
    std::vector<std::uint64_t> page(std::size_t(converter::PAGE_ROW_WORDS) * FAX_PAGE_ROWS);
    for (int y = 0; y < FAX_PAGE_ROWS; ++y)
        converter::PackRow(raster.data() + std::size_t(y) * RASTER_ROW_BYTES, RASTER_ROW_BYTES,
                           page.data() + std::size_t(y) * converter::PAGE_ROW_WORDS,
                           converter::PAGE_ROW_WORDS);
    return page;
}

// ---- the encoders -------------------------------------------------------------------

// Packing the raster's bytes into the page buffer, then coding it: the whole work
// between the raster read and the file write.
void BM_PackAndEncodePage(benchmark::State& state, const std::string& strPage)
{
    const Bytes& raster = Pages().m_aRasters.at(strPage);
    std::vector<std::uint64_t> band(std::size_t(converter::PAGE_ROW_WORDS) * 40);
    converter::CT4Encoder encoder;
    for (auto _ : state)
    {
        encoder.Reset();
        for (int y = 0; y < FAX_PAGE_ROWS; y += 40)
        {
            for (int r = 0; r < 40; ++r)
                converter::PackRow(raster.data() + std::size_t(y + r) * RASTER_ROW_BYTES, RASTER_ROW_BYTES,
                                   band.data() + std::size_t(r) * converter::PAGE_ROW_WORDS,
                                   converter::PAGE_ROW_WORDS);
            encoder.EncodeRows(band.data(), FAX_ROW_PIXELS, 40);
        }
        benchmark::DoNotOptimize(encoder.Count());
    }
}

void BM_EncodePage(benchmark::State& state, const std::string& strPage)
{
    const auto page = PageBuffer(Pages().m_aRasters.at(strPage));
    converter::CT4Encoder encoder;
    for (auto _ : state)
    {
        encoder.EncodePage(page.data(), FAX_ROW_PIXELS, FAX_PAGE_ROWS);
        benchmark::DoNotOptimize(encoder.Count());
    }
    state.counters["bytes"] = double(encoder.Count());
}

// libtiff writing into memory.
struct SMemoryTiff
{
    Bytes m_aData;
    toff_t m_nPos = 0;
};

tsize_t MemRead(thandle_t, tdata_t, tsize_t)
{
    return 0;
}
tsize_t MemWrite(thandle_t h, tdata_t p, tsize_t n)
{
    auto* pFile = static_cast<SMemoryTiff*>(h);
    if (pFile->m_aData.size() < pFile->m_nPos + n)
        pFile->m_aData.resize(pFile->m_nPos + n);
    std::memcpy(pFile->m_aData.data() + pFile->m_nPos, p, n);
    pFile->m_nPos += n;
    return n;
}
toff_t MemSeek(thandle_t h, toff_t nOffset, int nWhence)
{
    auto* pFile = static_cast<SMemoryTiff*>(h);
    pFile->m_nPos = nWhence == SEEK_SET   ? nOffset
                    : nWhence == SEEK_CUR ? pFile->m_nPos + nOffset
                                          : pFile->m_aData.size() + nOffset;
    return pFile->m_nPos;
}
int MemClose(thandle_t)
{
    return 0;
}
toff_t MemSize(thandle_t h)
{
    return static_cast<SMemoryTiff*>(h)->m_aData.size();
}

void BM_LibtiffEncodePage(benchmark::State& state, const std::string& strPage)
{
    // libtiff encodes from a packed bilevel buffer: 216 bytes a row, 1 black (min-is-white).
    const Bytes& raster = Pages().m_aRasters.at(strPage);
    Bytes packed(std::size_t(FAX_ROW_PIXELS / 8) * FAX_PAGE_ROWS, 0);
    for (int y = 0; y < FAX_PAGE_ROWS; ++y)
        for (int x = 0; x < RASTER_ROW_BYTES; ++x)
            if (raster[std::size_t(y) * RASTER_ROW_BYTES + x] != 0)
                packed[std::size_t(y) * (FAX_ROW_PIXELS / 8) + x / 8] |= std::uint8_t(0x80 >> (x % 8));
    TIFFSetWarningHandler(nullptr);
    std::size_t nBytes = 0;
    for (auto _ : state)
    {
        SMemoryTiff file;
        file.m_aData.reserve(4 << 20);
        TIFF* pTiff = TIFFClientOpen("page", "w", &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                                     nullptr, nullptr);
        TIFFSetField(pTiff, TIFFTAG_IMAGEWIDTH, FAX_ROW_PIXELS);
        TIFFSetField(pTiff, TIFFTAG_IMAGELENGTH, FAX_PAGE_ROWS);
        TIFFSetField(pTiff, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(pTiff, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(pTiff, TIFFTAG_ROWSPERSTRIP, FAX_PAGE_ROWS);
        TIFFSetField(pTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(pTiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(pTiff, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
        TIFFSetField(pTiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        TIFFWriteEncodedStrip(pTiff, 0, packed.data(), tsize_t(packed.size()));
        TIFFClose(pTiff);
        nBytes = file.m_aData.size();
        benchmark::DoNotOptimize(file.m_aData.data());
    }
    state.counters["bytes"] = double(nBytes);
}

// ---- a page of a run against the floor -------------------------------------------

// Reads every byte of a raster once, eight at a time into four independent ORs, so that the
// scan runs at memory speed: whether the page has any black is the least that can be asked.
std::uint64_t ScanRaster(const std::uint8_t* pBytes)
{
    static_assert(RASTER_BYTES % 32 == 0);
    std::uint64_t aAny[4] = {};
    for (std::size_t i = 0; i < RASTER_BYTES; i += 32)
        for (std::size_t n = 0; n < 4; ++n)
        {
            std::uint64_t nWord;
            std::memcpy(&nWord, pBytes + i + 8 * n, 8);
            aAny[n] |= nWord;
        }
    return aAny[0] | aAny[1] | aAny[2] | aAny[3];
}

// The least any converter must do per page: read the raster (from the page cache) in one
// read and look at every byte once.
void BM_FloorReadAndScan(benchmark::State& state)
{
    const fs::path path = Pages().m_dir / "doc1.raster";
    Bytes buffer(RASTER_BYTES);
    for (auto _ : state)
    {
        const int fd = open(path.c_str(), O_RDONLY);
        const auto nRead = read(fd, buffer.data(), buffer.size());
        close(fd);
        benchmark::DoNotOptimize(ScanRaster(buffer.data()));
        benchmark::DoNotOptimize(nRead);
    }
}

// Maps a raster and looks at every byte once: the least a converter does per page.
void MapAndScan(const fs::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    void* pMap = mmap(nullptr, RASTER_BYTES, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    close(fd);
    if (pMap == MAP_FAILED)
        std::abort();
    benchmark::DoNotOptimize(ScanRaster(static_cast<const std::uint8_t*>(pMap)));
    munmap(pMap, RASTER_BYTES);
}

// The same floor when the raster is mapped instead of copied, as Pagemill reads it.
void BM_FloorMapAndScan(benchmark::State& state)
{
    for (auto _ : state)
        MapAndScan(Pages().m_dir / "doc1.raster");
}

// Lays out a run in a VELLUM_ROOT as a print job leaves it: the fax printer's own stage
// writes each raster as a file of its own, syncs them and writes the page-count file.
void PrepareRun(const fs::path& root, const std::vector<std::string>& pages)
{
    fs::remove_all(root);
    driver::CPageFileStage stage(root / "c");
    bool bOk = stage.Begin();
    for (const auto& strPage : pages)
        bOk = bOk && stage.AddPage(Pages().m_aRasters.at(strPage));
    if (!bOk || !stage.Commit())
    {
        std::fprintf(stderr, "cannot lay out a run: %s\n", stage.Error().c_str());
        std::exit(1);
    }
}

// The floor of a run: each raster the printer left mapped, every byte of it read once, and
// the raster removed; no converter can do with less. Pagemill shares its pages between two
// threads, so the floor is also measured with the pages shared out over state.range(0) threads,
// each taking every n-th page: the least that work costs on as many cores.
void FloorOfRun(benchmark::State& state, const fs::path& root, const std::vector<std::string>& pages)
{
    const auto nThreads = std::size_t(state.range(0));
    std::atomic<bool> bFailed = false;
    const auto work = [&](std::size_t nFirst)
    {
        for (std::size_t n = nFirst; n <= pages.size(); n += nThreads)
        {
            const fs::path raster = root / "c" / platform::RasterFileName(int(n));
            MapAndScan(raster);
            if (unlink(raster.c_str()) != 0)
                bFailed = true;
        }
    };
    for (auto _ : state)
    {
        state.PauseTiming();
        PrepareRun(root, pages);
        state.ResumeTiming();
        std::vector<std::thread> aHelpers;
        for (std::size_t nThread = 1; nThread < nThreads; ++nThread)
            aHelpers.emplace_back(work, nThread + 1);
        work(1);
        for (auto& helper : aHelpers)
            helper.join();
    }
    if (bFailed)
        state.SkipWithError("cannot remove a raster");
}

void BM_FloorOfDocument(benchmark::State& state, const std::vector<std::string>& pages)
{
    FloorOfRun(state, Pages().m_dir / "floor", pages);
}

// Converts the pages inside this process, once per iteration; only the conversion is timed.
void ConvertInProcess(benchmark::State& state, const fs::path& root, const std::vector<std::string>& pages)
{
    setenv("VELLUM_ROOT", root.c_str(), 1);
    for (auto _ : state)
    {
        state.PauseTiming();
        PrepareRun(root, pages);
        state.ResumeTiming();
        if (converter::ConvertPages() != converter::EConvertResult::Done)
            state.SkipWithError("conversion failed");
    }
}

// A document converted inside this process: what Pagemill does without starting a process.
void BM_ConvertPagesInProcess(benchmark::State& state, const std::vector<std::string>& pages)
{
    ConvertInProcess(state, Pages().m_dir / "inprocess", pages);
}

std::vector<std::string> PagesOfRun()
{
    std::vector<std::string> pages;
    for (int n = 0; n < RUN_PAGES; ++n)
        pages.push_back(Pages().m_aDocument[std::size_t(n) % Pages().m_aDocument.size()]);
    return pages;
}

void CountPerPage(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * RUN_PAGES);
    state.counters["ms_per_page"] =
        benchmark::Counter(double(state.iterations() * RUN_PAGES) / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ConvertPagesPerPageOf20(benchmark::State& state)
{
    ConvertInProcess(state, Pages().m_dir / "run", PagesOfRun());
    CountPerPage(state);
}

void BM_FloorPerPageOf20(benchmark::State& state)
{
    FloorOfRun(state, Pages().m_dir / "run", PagesOfRun());
    CountPerPage(state);
}

// ---- whole processes ------------------------------------------------------------------

void BM_ProcessPagemill(benchmark::State& state, const std::vector<std::string>& pages,
                        const std::string& strPagemill)
{
    const fs::path root = Pages().m_dir / "process";
    setenv("VELLUM_ROOT", root.c_str(), 1);
    for (auto _ : state)
    {
        state.PauseTiming();
        PrepareRun(root, pages);
        state.ResumeTiming();
        if (Spawn({strPagemill}) != 0)
            state.SkipWithError("Pagemill failed");
    }
}

void BM_ProcessPbmtog3(benchmark::State& state, const std::vector<std::string>& pages)
{
    const std::string strOut = (Pages().m_dir / "out.g3").string();
    for (auto _ : state)
        for (const auto& strPage : pages)
            if (Spawn({"pbmtog3"}, (Pages().m_dir / (strPage + ".pbm")).c_str(), strOut.c_str()) != 0)
                state.SkipWithError("pbmtog3 failed");
}

void BM_PeakMemory(benchmark::State& state)
{
    const fs::path root = Pages().m_dir / "memory";
    setenv("VELLUM_ROOT", root.c_str(), 1);
    std::vector<std::string> pages;
    for (int n = 0; n < state.range(0); ++n)
        pages.push_back(Pages().m_aDocument[std::size_t(n) % Pages().m_aDocument.size()]);
    // GNU time reports the peak of Pagemill alone; a child of this large process would
    // inherit its high-water mark through the spawn.
    const fs::path report = Pages().m_dir / "time.txt";
    long nMaxRssKb = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        PrepareRun(root, pages);
        state.ResumeTiming();
        if (Spawn({"/usr/bin/time", "-f", "%M", "-o", report.string(), VELLUM_PAGEMILL}) != 0)
            state.SkipWithError("Pagemill failed");
        const Bytes text = ReadFile(report);
        nMaxRssKb = std::max(nMaxRssKb, std::atol(std::string(text.begin(), text.end()).c_str()));
    }
    state.counters["peak_MB"] = double(nMaxRssKb) / 1024.0;
}

void RegisterAll()
{
    const std::vector<std::string> cases = {"doc1", "doc2", "checkerboard", "noise", "allblack", "allwhite"};
    for (const auto& strPage : cases)
    {
        benchmark::RegisterBenchmark(("EncodePage/ours/" + strPage).c_str(), BM_EncodePage, strPage)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("EncodePage/libtiff/" + strPage).c_str(), BM_LibtiffEncodePage, strPage)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("EncodePage/ours_with_packing/" + strPage).c_str(),
                                     BM_PackAndEncodePage, strPage)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Page/floor_read_and_scan", BM_FloorReadAndScan)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Page/floor_map_and_scan", BM_FloorMapAndScan)
        ->Unit(benchmark::kMillisecond);
    // Per page in wall time: the work is shared between threads.
    benchmark::RegisterBenchmark("Page/ConvertPages_20_page_run", BM_ConvertPagesPerPageOf20)
        ->Iterations(RUN_ITERATIONS)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Page/floor_20_page_run", BM_FloorPerPageOf20)
        ->ArgName("threads")
        ->Arg(1)
        ->Arg(2)
        ->Iterations(RUN_ITERATIONS)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    for (const auto& strPage : cases)
    {
        benchmark::RegisterBenchmark(("Process/Pagemill/" + strPage).c_str(), BM_ProcessPagemill,
                                     std::vector<std::string>{strPage}, std::string(VELLUM_PAGEMILL))
            ->Iterations(RUN_ITERATIONS)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Process/pbmtog3/" + strPage).c_str(), BM_ProcessPbmtog3,
                                     std::vector<std::string>{strPage})
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Process/Pagemill/document_17_pages", BM_ProcessPagemill,
                                 Pages().m_aDocument, std::string(VELLUM_PAGEMILL))
        ->Iterations(RUN_ITERATIONS)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Process/pbmtog3/document_17_pages", BM_ProcessPbmtog3, Pages().m_aDocument)
        ->Unit(benchmark::kMillisecond);

    // The 10 real pages of a document in one run, as Sendwell runs Pagemill, against pbmtog3
    // once per page and against the floor of mapping, reading and removing the same rasters.
    const std::vector<std::string> shortDocument(Pages().m_aDocument.begin(),
                                                 Pages().m_aDocument.begin() + SHORT_DOCUMENT_PAGES);
    benchmark::RegisterBenchmark("Document10/Pagemill", BM_ProcessPagemill, shortDocument,
                                 std::string(VELLUM_PAGEMILL))
        ->Iterations(RUN_ITERATIONS)
        ->Unit(benchmark::kMillisecond);
    const char* pszBaselines = std::getenv("VELLUM_PAGEMILL_BASELINE");
    std::string strBaselines = pszBaselines ? pszBaselines : "";
    for (int nBaseline = 1; !strBaselines.empty(); ++nBaseline)
    {
        const std::size_t nEnd = std::min(strBaselines.find(':'), strBaselines.size());
        benchmark::RegisterBenchmark(("Document10/Pagemill_baseline_" + std::to_string(nBaseline)).c_str(),
                                     BM_ProcessPagemill, shortDocument, strBaselines.substr(0, nEnd))
            ->Iterations(RUN_ITERATIONS)
            ->Unit(benchmark::kMillisecond);
        strBaselines.erase(0, nEnd + 1);
    }
    benchmark::RegisterBenchmark("Document10/pbmtog3", BM_ProcessPbmtog3, shortDocument)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Document10/ConvertPages_in_process", BM_ConvertPagesInProcess,
                                 shortDocument)
        ->Iterations(RUN_ITERATIONS)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Document10/floor_map_read_and_remove", BM_FloorOfDocument, shortDocument)
        ->ArgName("threads")
        ->Arg(1)
        ->Arg(2)
        ->Iterations(RUN_ITERATIONS)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Memory/Pagemill_pages", BM_PeakMemory)
        ->Arg(1)
        ->Arg(20)
        ->Arg(254)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(Pages().m_dir);
    return 0;
}
