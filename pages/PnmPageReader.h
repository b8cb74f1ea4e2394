#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads the pages Ghostscript renders, a stream of binary portable bitmaps (P4, one bit a
// pixel, 1 black) or graymaps (P5, one byte a pixel up to 255, darker than half black),
// and turns each page into a page raster: one byte a pixel, 0 white, 1 black.
// It is fed bytes as they arrive, in pieces of any size, and hands over each page as soon
// as its last row is in.
namespace driver
{

enum class EFeedResult
{
    More,      // all bytes taken; more may follow
    BadStream, // the bytes are not a page stream of the expected size (see Error())
    Stopped,   // the page sink asked to stop
};

class CPnmPageReader
{
public:
    // Called with each complete page raster (1700 x 2200 bytes); false stops the reading.
    using PageSink = std::function<bool(const std::vector<std::uint8_t>& raster)>;

    explicit CPnmPageReader(PageSink sink);

    [[nodiscard]] EFeedResult Feed(const std::uint8_t* pData, std::size_t nBytes);
    // The stream has ended: false if it ended inside a page (Error() says where).
    [[nodiscard]] bool Finish();

    int PagesRead() const { return m_nPages; }
    const std::string& Error() const { return m_strError; }

private:
    enum class EState
    {
        Magic,
        Header,
        Comment,
        Pixels,
        Failed,
    };

    bool HeaderByte(std::uint8_t byte);
    bool EndToken();
    void BeginPixels();
    void ConvertRow();
    bool Fail(std::string strError);

    PageSink m_sink;
    EState m_eState = EState::Magic;
    char m_chFormat = 0; // '4' or '5'
    std::size_t m_nMagicBytes = 0;
    unsigned m_values[3] = {}; // width, height, maximum gray
    int m_nValues = 0;
    int m_nDigits = 0;
    unsigned m_nToken = 0;
    std::size_t m_nRowBytes = 0;
    std::size_t m_nRowFill = 0;
    std::size_t m_nRow = 0;
    std::vector<std::uint8_t> m_row;
    std::vector<std::uint8_t> m_raster;
    int m_nPages = 0;
    std::string m_strError;
};

} // namespace driver
