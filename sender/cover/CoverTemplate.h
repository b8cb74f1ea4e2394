#pragma once

#include "sender/cover/CoverFields.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

// A cover page template: an SVG file with {{field}} placeholders (CoverFields.h) in its text
// or attributes, and optionally an element with the id "note" whose bounds are the box the
// note is drawn into. Load() refuses, naming the file, what cannot serve as a cover: a file
// that cannot be read, is too large, is no SVG or no well-formed XML, lacks a required field,
// names an unknown one, or refers to anything outside itself (an href other than a #fragment
// or data: URL, a url() to anything else, a style sheet import, a document type or an entity
// declaration). Nothing a template names is ever fetched, so a template cannot make a send
// reach a file or a network address.
class CCoverTemplate
{
public:
    // Large enough for any hand-made or editor-saved page of text and rules; a template that
    // embeds a large photograph as a data: URL is no fax cover.
    static constexpr std::uint64_t MAX_BYTES = 1000 * 1000;
    // What a single-line field shows at most; a page holds no more in one line.
    static constexpr int MAX_FIELD_CHARACTERS = 200;

    [[nodiscard]] bool Load(const std::filesystem::path& path, std::string& strError);

    const std::filesystem::path& Path() const { return m_path; }
    bool HasNoteBox() const { return m_bNoteBox; }

    // The SVG with each placeholder replaced by the printable part of its field's text,
    // escaped for XML, on one line and at most MAX_FIELD_CHARACTERS long; an empty date is
    // strToday. Refuses, as Load() does, a result that refers outside itself or is no SVG.
    [[nodiscard]] bool Fill(const SCoverFields& fields, const std::string& strToday, QByteArray& svg,
                            std::string& strError) const;

private:
    bool Refuse(std::string_view strWhy, std::string& strError) const;
    // Why svg cannot serve as a template (see above), or nothing; whether it has a note box.
    static std::string CheckSvg(const QByteArray& svg, bool& bNoteBox);
    bool CheckPlaceholders(std::string& strError) const;

    std::filesystem::path m_path;
    std::string m_strSvg;
    bool m_bNoteBox = false;
};

// The text as it may be drawn: the replacement character for what is not UTF-8, no control
// characters, no noncharacters. bLines keeps line ends (as '\n'); otherwise every line end and
// tab becomes a blank.
QString PrintableCoverText(std::string_view strText, bool bLines);
