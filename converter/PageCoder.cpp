#include "converter/PageCoder.h"

#include "converter/FaxRow.h"
#include "converter/RowPacker.h"
#include "platform/PageFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <system_error>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace converter
{

namespace
{

constexpr int BANDS = FAX_PAGE_ROWS / CPageCoder::ROWS_PER_BAND;
static_assert(FAX_PAGE_ROWS % CPageCoder::ROWS_PER_BAND == 0);
constexpr std::size_t BAND_BYTES = std::size_t{platform::RASTER_ROW_BYTES} * CPageCoder::ROWS_PER_BAND;

// The two threads wait for each other only briefly (a raster being mapped, a last band being
// coded), and spin through such waits before they sleep. A thread that sleeps is woken on
// the core of the thread that wakes it, and may sit there behind it for a scheduler tick of
// several milliseconds while the other core idles.
constexpr auto SPIN_LIMIT = std::chrono::microseconds(500);

void Relax()
{
#if defined(__x86_64__)
    _mm_pause();
#endif
}

// Spins until bReady() or the spin limit; true when ready.
template <class TReady> bool SpinUntil(TReady bReady)
{
    const auto until = std::chrono::steady_clock::now() + SPIN_LIMIT;
    while (!bReady())
    {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Relax();
    }
    return true;
}

// Locks the mutex, spinning first.
std::unique_lock<std::mutex> LockSoon(std::mutex& mutex)
{
    std::unique_lock lock(mutex, std::defer_lock);
    if (!SpinUntil([&] { return lock.try_lock(); }))
        lock.lock();
    return lock;
}

} // namespace

// What one thread needs to code a band: the band's raster rows where the raster is read
// rather than mapped, and the same rows packed.
struct CPageCoder::SThreadBuffers
{
    std::unique_ptr<std::uint8_t[]> m_pRaster;
    std::unique_ptr<std::uint64_t[]> m_pPacked;
};

// One page being coded: its raster, the bands still to take and done, and where each band's
// code is. Each thread codes into an encoder of its own.
struct CPageCoder::SSlot
{
    std::mutex m_mutex; // guards preparing the slot for a page, and the failure
    int m_nPage = 0;
    platform::CFileReader m_raster;
    std::unique_ptr<platform::CMappedFile> m_pMapped;
    std::atomic<int> m_nNextBand{0};
    std::atomic<int> m_nDoneBands{0};
    std::atomic<bool> m_bFailed{false};
    ECodeResult m_eResult = ECodeResult::Coded;
    std::string m_strError;
    std::array<SBand, BANDS> m_aBands;
    std::array<CT4Encoder, THREADS> m_aEncoders;
};

CPageCoder::CPageCoder(std::filesystem::path driveRoot, int nPages)
    : m_driveRoot(std::move(driveRoot)), m_nPages(nPages)
{
    for (auto& pSlot : m_apSlots)
        pSlot = std::make_unique<SSlot>();
    for (auto& pBuffers : m_apBuffers)
        pBuffers = std::make_unique<SThreadBuffers>();
}

CPageCoder::~CPageCoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_released.notify_all();
    if (m_helper.joinable())
        m_helper.join();
}

void CPageCoder::StartHelper()
{
    if (m_helper.joinable() || m_nPages < 1)
        return;
    // A new thread is queued on its creator's core, and on a machine of two cores it can wait
    // there behind its creator for a scheduler tick while the other core idles. So it is moved
    // at once to the other cores the process may use, and once it runs it may go anywhere
    // again.
    cpu_set_t everywhere;
    CPU_ZERO(&everywhere);
    const bool bCanMove =
        ::sched_getaffinity(0, sizeof everywhere, &everywhere) == 0 && ::sched_getcpu() >= 0;
    try
    {
        m_helper = std::thread(
            [this, everywhere, bCanMove]
            {
                if (bCanMove)
                {
                    m_bHelperPlaced.wait(false);
                    (void)::pthread_setaffinity_np(::pthread_self(), sizeof everywhere, &everywhere);
                }
                Help();
            });
    }
    catch (const std::system_error&)
    {
        // Short of memory or threads: the caller codes alone, as fast as one core allows.
        return;
    }
    if (bCanMove)
    {
        cpu_set_t elsewhere = everywhere;
        CPU_CLR(::sched_getcpu(), &elsewhere);
        if (CPU_COUNT(&elsewhere) > 0)
            (void)::pthread_setaffinity_np(m_helper.native_handle(), sizeof elsewhere, &elsewhere);
        m_bHelperPlaced = true;
        m_bHelperPlaced.notify_one();
    }
}

CPageCoder::SSlot& CPageCoder::SlotOf(int nPage)
{
    return *m_apSlots[static_cast<std::size_t>(nPage % SLOTS)];
}

void CPageCoder::Fail(SSlot& slot, ECodeResult eResult, std::string strError)
{
    std::lock_guard lock(slot.m_mutex);
    if (slot.m_bFailed)
        return;
    slot.m_eResult = eResult;
    slot.m_strError = std::move(strError);
    slot.m_bFailed = true;
}

bool CPageCoder::Prepare(SSlot& slot, int nPage)
{
    const auto lock = LockSoon(slot.m_mutex);
    // A helper that fell behind finds its page done and the slot holding a later one.
    if (slot.m_nPage >= nPage)
        return slot.m_nPage == nPage;
    // The page this slot held before has been written and released; its raster goes now.
    slot.m_nPage = nPage;
    slot.m_pMapped.reset();
    slot.m_raster.Close();
    slot.m_bFailed = false;
    slot.m_eResult = ECodeResult::Coded;
    slot.m_strError.clear();
    for (auto& encoder : slot.m_aEncoders)
        encoder.Reset();
    slot.m_nDoneBands = 0;

    const auto rasterPath = m_driveRoot / platform::RasterFileName(nPage);
    if (!slot.m_raster.Open(rasterPath))
    {
        slot.m_eResult = ECodeResult::Failed;
        slot.m_strError = rasterPath.string() + " cannot be opened";
        slot.m_bFailed = true;
        slot.m_nNextBand = BANDS;
        slot.m_nDoneBands = BANDS;
        return true;
    }
    // Mapped where the system allows, which saves copying 3.7 MB a page; read band by band
    // otherwise.
    try
    {
        slot.m_pMapped = std::make_unique<platform::CMappedFile>();
        if (!slot.m_pMapped->Map(slot.m_raster, platform::RASTER_BYTES))
            slot.m_pMapped.reset();
    }
    catch (const std::bad_alloc&)
    {
        slot.m_pMapped.reset();
    }
    slot.m_nNextBand = 0;
    return true;
}

void CPageCoder::CodeBand(SSlot& slot, int nBand, int nThread)
{
    if (slot.m_bFailed)
        return;
    SThreadBuffers& buffers = *m_apBuffers[static_cast<std::size_t>(nThread)];
    const std::uint8_t* pRows = nullptr;
    if (slot.m_pMapped)
        pRows = slot.m_pMapped->Data() + BAND_BYTES * static_cast<std::size_t>(nBand);
    else
    {
        if (!buffers.m_pRaster)
            buffers.m_pRaster.reset(new (std::nothrow) std::uint8_t[BAND_BYTES]);
        if (!buffers.m_pRaster)
            return Fail(slot, ECodeResult::OutOfMemory, "no memory for a band of the raster");
        std::size_t nDone = 0;
        const auto nStart = static_cast<off_t>(BAND_BYTES * static_cast<std::size_t>(nBand));
        while (nDone < BAND_BYTES)
        {
            const ssize_t n = ::pread(slot.m_raster.Descriptor(), buffers.m_pRaster.get() + nDone,
                                      BAND_BYTES - nDone, nStart + static_cast<off_t>(nDone));
            if (n < 0 && errno == EINTR)
                continue;
            const auto rasterPath = m_driveRoot / platform::RasterFileName(slot.m_nPage);
            if (n < 0)
                return Fail(slot, ECodeResult::Failed, rasterPath.string() + " cannot be read");
            if (n == 0)
                return Fail(slot, ECodeResult::Failed, rasterPath.string() + " is shorter than a page");
            nDone += static_cast<std::size_t>(n);
        }
        pRows = buffers.m_pRaster.get();
    }
    if (!buffers.m_pPacked)
        buffers.m_pPacked.reset(new (std::nothrow)
                                    std::uint64_t[std::size_t{PAGE_ROW_WORDS} * ROWS_PER_BAND]);
    if (!buffers.m_pPacked)
        return Fail(slot, ECodeResult::OutOfMemory, "no memory for a band of the page");

    // Packed 1 for every nonzero byte and 0 for zero, the columns 1700 to 1727 white.
    for (int nRow = 0; nRow < ROWS_PER_BAND; ++nRow)
        PackRow(pRows + std::size_t{platform::RASTER_ROW_BYTES} * nRow, platform::RASTER_ROW_BYTES,
                buffers.m_pPacked.get() + std::size_t{PAGE_ROW_WORDS} * nRow, PAGE_ROW_WORDS);
    CT4Encoder& encoder = slot.m_aEncoders[static_cast<std::size_t>(nThread)];
    const std::size_t nOffset = encoder.Count();
    try
    {
        encoder.EncodeRows(buffers.m_pPacked.get(), FAX_ROW_PIXELS, ROWS_PER_BAND);
    }
    catch (const std::bad_alloc&)
    {
        return Fail(slot, ECodeResult::OutOfMemory, "no memory for the page's code");
    }
    slot.m_aBands[static_cast<std::size_t>(nBand)] = {&encoder, nOffset, encoder.Count() - nOffset};
}

void CPageCoder::CodeBands(SSlot& slot, int nThread)
{
    for (;;)
    {
        const int nBand = slot.m_nNextBand.fetch_add(1);
        if (nBand >= BANDS)
            return;
        CodeBand(slot, nBand, nThread);
        // The last band done wakes whoever waits for the page. Nothing else of the slot is
        // touched here after that: the waiter may at once write the page and prepare the slot
        // for a later one.
        if (slot.m_nDoneBands.fetch_add(1) + 1 == BANDS)
            slot.m_nDoneBands.notify_all();
    }
}

bool CPageCoder::WaitForSlotOf(int nPage)
{
    std::unique_lock lock(m_mutex);
    m_released.wait(lock, [&] { return m_bStop || m_nReleased >= nPage - SLOTS; });
    return !m_bStop;
}

void CPageCoder::Help()
{
    for (int nPage = 1; nPage <= m_nPages; ++nPage)
    {
        // A helper that fell behind joins the caller on the caller's page.
        nPage = std::max(nPage, m_nCallerPage.load());
        // The next page is mapped first, while the caller codes this one: mapping is the
        // one step of a page that the two threads cannot share, and done here it is ready
        // before the caller needs it.
        if (nPage < m_nPages)
        {
            if (!WaitForSlotOf(nPage + 1))
                return;
            (void)Prepare(SlotOf(nPage + 1), nPage + 1);
        }
        if (!WaitForSlotOf(nPage))
            return;
        SSlot& slot = SlotOf(nPage);
        if (!Prepare(slot, nPage))
            continue;
        CodeBands(slot, HELPER);
        // The run stops at a page that fails; nothing after it is needed.
        if (slot.m_bFailed)
            return;
    }
}

ECodeResult CPageCoder::Code(int nPage)
{
    m_aSegments.clear();
    m_nCount = 0;
    m_strError.clear();
    m_nCallerPage = nPage;
    SSlot& slot = SlotOf(nPage);
    (void)Prepare(slot, nPage);
    CodeBands(slot, CALLER);
    (void)SpinUntil([&] { return slot.m_nDoneBands.load() == BANDS; });
    for (int nDone = slot.m_nDoneBands.load(); nDone != BANDS; nDone = slot.m_nDoneBands.load())
        slot.m_nDoneBands.wait(nDone);

    const auto lock = LockSoon(slot.m_mutex);
    if (slot.m_bFailed)
    {
        m_strError = slot.m_strError;
        return slot.m_eResult;
    }
    m_aSegments.reserve(BANDS);
    for (const SBand& band : slot.m_aBands)
    {
        m_aSegments.emplace_back(band.m_pEncoder->Data() + band.m_nOffset, band.m_nBytes);
        m_nCount += band.m_nBytes;
    }
    return ECodeResult::Coded;
}

void CPageCoder::Release(int nPage)
{
    {
        std::lock_guard lock(m_mutex);
        m_nReleased = std::max(m_nReleased, nPage);
    }
    m_released.notify_all();
}

} // namespace converter
