#pragma once

#include "sender/cover/CoverFields.h"
#include "sender/cover/CoverTemplate.h"

#include <QFont>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

// Draws a cover page as a page raster like every other page of a fax (platform/PageFiles.h):
// the template scaled to fit the page, centred, then every pixel black or white by a
// threshold low enough that a hairline rule survives. The note is drawn wrapped into the
// template's note box and never outside it: a note longer than the box ends in
// COVER_NOTE_MARK. Needs a QGuiApplication (fonts).

// What ends a note cut short.
inline constexpr const char16_t* COVER_NOTE_MARK = u"\u2026";
// A pixel darker than this (0 black, 255 white) becomes black. Qt SVG draws antialiased, so a
// rule thinner than a pixel arrives as a light grey line: anything that covers a tenth of a pixel
// is kept, and a rule of 0.2 pixels (0.025 mm) or wider survives wherever it lies. A template
// has no greys to lose: only the lightest (above 232, #e8e8e8) turn white, the rest black.
inline constexpr int COVER_THRESHOLD = 232;
// The note's type: a sans-serif at 36 pixels is 13 points at 200 dpi.
inline constexpr const char* COVER_NOTE_FAMILY = "Liberation Sans";
inline constexpr int COVER_NOTE_PIXELS = 36;
// Room between the note box's edges and the text, in page pixels.
inline constexpr int COVER_NOTE_MARGIN = 16;

QFont CoverNoteFont();

// The lines of strNote as drawn with font into a box of this width and height: wrapped at
// words (anywhere within a word longer than a line), its own line ends kept. When the note
// needs more lines than the box holds, the last line that fits ends in COVER_NOTE_MARK.
QStringList CoverNoteLines(const QString& strNote, const QFont& font, qreal nWidth, qreal nHeight);

// Draws the cover into raster (platform::RASTER_BYTES bytes). Fails, saying why and naming the
// template, when the template cannot be drawn, or when there is a note and the template has no
// box for it (or one too small for a line).
[[nodiscard]] bool DrawCoverPage(const CCoverTemplate& coverTemplate, const SCoverFields& fields,
                                 std::span<std::uint8_t> raster, std::string& strError);

// What the send path calls: reads the template at templatePath, draws the cover with fields and
// writes it as a page raster to rasterPath, atomically (the file is the old one or the whole
// new page, never a part). On failure strError says why, naming the template or the file.
[[nodiscard]] bool WriteCoverPage(const SCoverFields& fields, const std::filesystem::path& templatePath,
                                  const std::filesystem::path& rasterPath, std::string& strError);
