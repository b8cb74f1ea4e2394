#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Documents and reference pages for the fax printer's tests, made with the real Ghostscript.
namespace testdocs
{

// A two-page PostScript program: text and filled shapes that differ from page to page.
std::string TwoPagePostScript();
// A PostScript program of nPages pages, each with its number.
std::string NumberedPagesPostScript(int nPages);

// Writes strPostScript as a US letter PDF at pdf; empty on success, else what went wrong.
std::string MakePdf(const std::string& strPostScript, const std::filesystem::path& pdf);

// Renders the first page of strPostScript at 50 dpi as an image with a Ghostscript device
// ("pnggray", "jpeggray", "tiffgray"); empty on success, else what went wrong.
std::string MakeImage(const std::string& strPostScript, const std::string& strDevice,
                      const std::filesystem::path& image);

// Renders a document exactly as the fax printer does and returns one raster a page
// (1700 x 2200 bytes, 1 black, 0 white); the bitmaps are read here, not by the printer's reader.
std::vector<std::vector<std::uint8_t>> RenderReference(const std::filesystem::path& document,
                                                       std::string& strError);

// A page raster file's pixels, normalised to 0 (white) and 1 (anything else: black).
std::vector<std::uint8_t> ReadRasterFile(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder; removed by the caller.
std::filesystem::path MakeTempFolder(const std::string& strPrefix);

} // namespace testdocs
