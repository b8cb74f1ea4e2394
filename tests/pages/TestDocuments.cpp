#include "tests/pages/TestDocuments.h"

#include "pages/FaxBackend.h"
#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"

#include <cctype>
#include <cstdlib>

namespace testdocs
{

namespace
{

constexpr std::uint64_t MAX_REFERENCE_BYTES = 64ull * 1024 * 1024;

} // namespace

std::string TwoPagePostScript()
{
    return "%!PS\n"
           "/Helvetica findfont 48 scalefont setfont\n"
           "72 640 moveto (Page one of two) show\n"
           "100 100 200 300 rectfill\n"
           "0.5 setgray 350 150 150 150 rectfill 0 setgray\n"
           "showpage\n"
           "/Times-Roman findfont 36 scalefont setfont\n"
           "72 400 moveto (Second page) show\n"
           "8 setlinewidth 300 550 100 0 360 arc stroke\n"
           "showpage\n";
}

std::string NumberedPagesPostScript(int nPages)
{
    return "%!PS\n/Helvetica findfont 24 scalefont setfont\n1 1 " + std::to_string(nPages) +
           " { 72 700 moveto 10 string cvs show showpage } for\n";
}

std::string MakePdf(const std::string& strPostScript, const std::filesystem::path& pdf)
{
    const auto source = pdf.parent_path() / (pdf.stem().string() + ".ps");
    if (!platform::WriteWholeFile(source, strPostScript))
        return "cannot write " + source.string();
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = std::chrono::seconds(60);
    const auto result =
        platform::RunProgram({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                              "-sPAPERSIZE=letter", "-sOutputFile=" + pdf.string(), source.string()},
                             options);
    return result.Succeeded() ? std::string() : "gs: " + result.Describe() + " " + result.m_strOutput;
}

std::string MakeImage(const std::string& strPostScript, const std::string& strDevice,
                      const std::filesystem::path& image)
{
    const auto source = image.parent_path() / (image.stem().string() + ".ps");
    if (!platform::WriteWholeFile(source, strPostScript))
        return "cannot write " + source.string();
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = std::chrono::seconds(60);
    const auto result = platform::RunProgram(
        {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + strDevice, "-r50", "-sPAPERSIZE=letter",
         "-dLastPage=1", "-sOutputFile=" + image.string(), source.string()},
        options);
    return result.Succeeded() ? std::string() : "gs: " + result.Describe() + " " + result.m_strOutput;
}

std::vector<std::vector<std::uint8_t>> RenderReference(const std::filesystem::path& document,
                                                       std::string& strError)
{
    const auto output = document.parent_path() / (document.filename().string() + ".reference.pbm");
    auto args = driver::CFaxBackend::RenderArguments("gs", document.string());
    for (auto& strArg : args)
    {
        if (strArg == "-sOutputFile=-")
            strArg = "-sOutputFile=" + output.string();
    }
    platform::SRunOptions options;
    options.m_eOutput = platform::SRunOptions::EOutput::Capture;
    options.m_durTimeout = std::chrono::seconds(120);
    const auto result = platform::RunProgram(args, options);
    if (!result.Succeeded())
    {
        strError = "gs: " + result.Describe() + " " + result.m_strOutput;
        return {};
    }
    const auto data = platform::ReadWholeFile(output, MAX_REFERENCE_BYTES);
    if (!data)
    {
        strError = "cannot read " + output.string();
        return {};
    }

    // Netpbm P4: "P4", blanks or comments, width, height, one blank, rows padded to bytes.
    std::vector<std::vector<std::uint8_t>> pages;
    std::size_t nPos = 0;
    auto skipBlanks = [&]
    {
        while (nPos < data->size())
        {
            if ((*data)[nPos] == '#')
                nPos = data->find('\n', nPos);
            else if (std::isspace(static_cast<unsigned char>((*data)[nPos])))
                ++nPos;
            else
                break;
        }
    };
    auto number = [&]
    {
        skipBlanks();
        std::size_t nValue = 0;
        while (nPos < data->size() && std::isdigit(static_cast<unsigned char>((*data)[nPos])))
            nValue = nValue * 10 + static_cast<std::size_t>((*data)[nPos++] - '0');
        return nValue;
    };
    while (nPos < data->size())
    {
        skipBlanks();
        if (nPos >= data->size())
            break;
        if (data->compare(nPos, 2, "P4") != 0)
        {
            strError = "the reference is not a P4 bitmap stream";
            return {};
        }
        nPos += 2;
        const std::size_t nWidth = number();
        const std::size_t nHeight = number();
        ++nPos;
        const std::size_t nRowBytes = (nWidth + 7) / 8;
        if (nWidth != platform::RASTER_ROW_BYTES || nHeight != platform::RASTER_ROWS ||
            nPos + nRowBytes * nHeight > data->size())
        {
            strError = "the reference page has an unexpected size";
            return {};
        }
        std::vector<std::uint8_t> raster(nWidth * nHeight);
        for (std::size_t y = 0; y < nHeight; ++y)
            for (std::size_t x = 0; x < nWidth; ++x)
                raster[y * nWidth + x] =
                    (static_cast<std::uint8_t>((*data)[nPos + y * nRowBytes + x / 8]) >> (7 - x % 8)) & 1;
        nPos += nRowBytes * nHeight;
        pages.push_back(std::move(raster));
    }
    return pages;
}

std::vector<std::uint8_t> ReadRasterFile(const std::filesystem::path& path)
{
    const auto data = platform::ReadWholeFile(path, 2 * platform::RASTER_BYTES).value_or(std::string());
    std::vector<std::uint8_t> raster(data.size());
    for (std::size_t i = 0; i < data.size(); ++i)
        raster[i] = data[i] != 0 ? 1 : 0;
    return raster;
}

std::filesystem::path MakeTempFolder(const std::string& strPrefix)
{
    std::string strTemplate = (std::filesystem::temp_directory_path() / (strPrefix + ".XXXXXX")).string();
    if (::mkdtemp(strTemplate.data()) == nullptr)
        return {};
    return strTemplate;
}

} // namespace testdocs
