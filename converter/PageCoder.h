#pragma once

#include "converter/T4Encoder.h"
#include "platform/BinaryFile.h"
#include "platform/MappedFile.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace converter
{

enum class ECodeResult
{
    Coded,
    Failed,      // the raster is missing, unreadable or short (see Error())
    OutOfMemory, // the page's code did not fit into memory
};

// Codes the page rasters of a run (quill.1 ... quill.N in a drive root) ahead of their
// writing, on the calling thread and one helper thread. A page is coded in bands of rows that
// both threads take as they come; every row's code ends on a byte boundary, so the bands'
// codes joined in order are exactly the page's code. The helper maps the next page's raster
// while both code the current one, and begins the next page while the caller writes; it never
// gets more than two pages ahead, so that a run holds at most three rasters however long it
// is. A raster stays mapped until its slot takes a later page. Coding only reads rasters:
// which files a run creates and removes, and in which order, stays the caller's business alone.
class CPageCoder
{
public:
    CPageCoder(std::filesystem::path driveRoot, int nPages);
    CPageCoder(const CPageCoder&) = delete;
    CPageCoder& operator=(const CPageCoder&) = delete;
    // Stops the helper and waits for it.
    ~CPageCoder();

    // Starts the helper; when no thread can be made the caller codes every band itself.
    void StartHelper();

    // Codes page nPage (pages in order, from 1) and returns once its code is complete.
    [[nodiscard]] ECodeResult Code(int nPage);
    // The code of the page last coded, in order, and its length in bytes.
    const std::vector<std::span<const std::uint8_t>>& Segments() const { return m_aSegments; }
    std::size_t Count() const { return m_nCount; }
    // Why the page last coded failed.
    const std::string& Error() const { return m_strError; }
    // Page nPage has been written: its memory may take the page after the next.
    void Release(int nPage);

    static constexpr int ROWS_PER_BAND = 40;

private:
    static constexpr int CALLER = 0;
    static constexpr int HELPER = 1;
    static constexpr int THREADS = 2;
    static constexpr int SLOTS = 3;

    struct SBand
    {
        const CT4Encoder* m_pEncoder = nullptr;
        std::size_t m_nOffset = 0;
        std::size_t m_nBytes = 0;
    };
    struct SThreadBuffers;
    struct SSlot;

    SSlot& SlotOf(int nPage);
    // Sets the slot up for page nPage; false when it already holds a later page.
    bool Prepare(SSlot& slot, int nPage);
    void CodeBands(SSlot& slot, int nThread);
    void CodeBand(SSlot& slot, int nBand, int nThread);
    void Fail(SSlot& slot, ECodeResult eResult, std::string strError);
    // Waits until the slot of nPage may take it; false when the coder stops.
    bool WaitForSlotOf(int nPage);
    void Help();

    std::filesystem::path m_driveRoot;
    int m_nPages;
    std::array<std::unique_ptr<SSlot>, SLOTS> m_apSlots;
    std::array<std::unique_ptr<SThreadBuffers>, THREADS> m_apBuffers;

    std::mutex m_mutex; // guards m_nReleased and m_bStop
    std::condition_variable m_released;
    int m_nReleased = 0;
    bool m_bStop = false;
    std::thread m_helper;
    std::atomic<int> m_nCallerPage{0};
    std::atomic<bool> m_bHelperPlaced{false}; // the helper has been moved off its creator's core

    std::vector<std::span<const std::uint8_t>> m_aSegments;
    std::size_t m_nCount = 0;
    std::string m_strError;
};

} // namespace converter
