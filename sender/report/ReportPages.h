#pragma once

#include "sender/record/SentFaxStore.h"

#include <QImage>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QPdfWriter;

// What the transmission report and the fax as a PDF share: the words that name a fax, a kept
// page as an image, and writing a PDF in place of a file without ever leaving half of one.

// "the fax to Acme (4930111) sent 2026-03-08 14:03", the time in local time.
std::string FaxDescription(const SSentFax& fax);

// Text from the record (a name, the server's reply) made safe to draw as it is: control and
// direction-changing characters become U+FFFD, so that nothing in it moves or hides the rest;
// with bLines, line feeds stay and break the lines.
QString DrawableText(const std::string& strText, bool bLines = false);

// Page nPage (from 1) of a fax, read from its kept file: FAX_PAGE_WIDTH pixels wide, 1 bit a
// pixel (QImage::Format_Mono, white and black). Nullopt with strError naming the fax and the
// page when the file is missing or cannot be decoded.
std::optional<QImage> ReadFaxPageImage(const SSentFax& fax, int nPage, const std::filesystem::path& path,
                                       std::string& strError);

// Writes a PDF to target through a temporary file beside it that is renamed over it only when
// fnDraw returned true and everything was written; otherwise target stays as it was. fnDraw
// gets the writer before a painter is begun on it, so that it can set the first page's size.
[[nodiscard]] bool WritePdfFile(const std::filesystem::path& target,
                                const std::function<bool(QPdfWriter& writer, std::string& strError)>& fnDraw,
                                std::string& strError);
