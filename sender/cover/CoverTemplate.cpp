#include "sender/cover/CoverTemplate.h"

#include "platform/BinaryFile.h"
#include "platform/Text.h"

#include <QStringView>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <system_error>

namespace
{

constexpr std::string_view PLACEHOLDER_OPEN = "{{";
constexpr std::string_view PLACEHOLDER_CLOSE = "}}";
// A placeholder's name is short lower-case letters and underscores; anything longer between
// braces is no placeholder we could mean.
constexpr std::size_t MAX_PLACEHOLDER_NAME = 32;

bool StartsWithNoCase(QStringView strText, QStringView strStart)
{
    return strText.startsWith(strStart, Qt::CaseInsensitive);
}

// A reference that stays inside the document: a fragment of it, or data carried in the URL.
bool IsInternalReference(QStringView strTarget)
{
    strTarget = strTarget.trimmed();
    return strTarget.startsWith(u'#') || StartsWithNoCase(strTarget, u"data:");
}

// Whether every url(...) in a style text or presentation attribute points inside the document.
bool UrlsAreInternal(QStringView strText)
{
    qsizetype nFrom = 0;
    for (;;)
    {
        const qsizetype nAt = strText.indexOf(u"url(", nFrom, Qt::CaseInsensitive);
        if (nAt < 0)
            return true;
        QStringView strTarget = strText.mid(nAt + 4).trimmed();
        if (strTarget.startsWith(u'"') || strTarget.startsWith(u'\''))
            strTarget = strTarget.mid(1);
        if (!IsInternalReference(strTarget))
            return false;
        nFrom = nAt + 4;
    }
}

// CSS can also load through @import, with or without url().
bool HoldsImport(QStringView strText)
{
    return strText.contains(u"@import", Qt::CaseInsensitive);
}

std::string ReferenceText(QStringView strValue)
{
    return platform::PrintableText(strValue.toString().toStdString(), 80);
}

QString EscapedForXml(const QString& strText)
{
    QString strOut;
    strOut.reserve(strText.size());
    for (const QChar ch : strText)
    {
        switch (ch.unicode())
        {
        case '&':
            strOut += u"&amp;";
            break;
        case '<':
            strOut += u"&lt;";
            break;
        case '>':
            strOut += u"&gt;";
            break;
        case '"':
            strOut += u"&quot;";
            break;
        case '\'':
            strOut += u"&apos;";
            break;
        default:
            strOut += ch;
        }
    }
    return strOut;
}

} // namespace

QString PrintableCoverText(std::string_view strText, bool bLines)
{
    const QString strIn = QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
    QString strOut;
    strOut.reserve(strIn.size());
    const auto aCodes = strIn.toUcs4();
    for (qsizetype n = 0; n < aCodes.size(); ++n)
    {
        char32_t nCode = aCodes[n];
        if (nCode == '\r' && n + 1 < aCodes.size() && aCodes[n + 1] == '\n')
            continue; // CR LF is one line end
        const bool bLineEnd = nCode == '\n' || nCode == '\r' || nCode == 0x2028 || nCode == 0x2029;
        if (bLineEnd || nCode == '\t')
        {
            strOut += bLines && bLineEnd ? u'\n' : u' ';
            continue;
        }
        if (QChar::category(nCode) == QChar::Other_Control || QChar::isNonCharacter(nCode) ||
            QChar::category(nCode) == QChar::Other_Surrogate)
            continue;
        strOut += QString::fromUcs4(&nCode, 1);
    }
    return strOut;
}

bool CCoverTemplate::Refuse(std::string_view strWhy, std::string& strError) const
{
    strError = "The cover template \"" + platform::PrintableUtf8(m_path.string()) + "\" " +
               std::string(strWhy) + ".";
    return false;
}

bool CCoverTemplate::Load(const std::filesystem::path& path, std::string& strError)
{
    m_path = path;
    m_strSvg.clear();
    m_bNoteBox = false;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return Refuse("does not exist", strError);
    if (!std::filesystem::is_regular_file(status))
        return Refuse("is not a file", strError);
    platform::CFileReader reader;
    if (!reader.Open(path))
        return Refuse(platform::ErrnoText("cannot be read"), strError);
    // The size first, so that a huge file is refused without reading it; the read stops past
    // the limit too, for a file that grows meanwhile.
    const auto nSize = reader.Size();
    if (nSize && *nSize > MAX_BYTES)
        return Refuse("is larger than " + platform::ByteSizeText(MAX_BYTES) + " (" +
                          platform::ByteSizeText(*nSize) + ")",
                      strError);
    std::string strSvg(MAX_BYTES + 1, '\0');
    const std::size_t nRead = reader.Read(strSvg.data(), strSvg.size());
    if (reader.Failed())
        return Refuse(platform::ErrnoText("cannot be read"), strError);
    if (nRead > MAX_BYTES)
        return Refuse("is larger than " + platform::ByteSizeText(MAX_BYTES), strError);
    strSvg.resize(nRead);
    m_strSvg = std::move(strSvg);
    const std::string strWhy =
        CheckSvg(QByteArray::fromRawData(m_strSvg.data(), qsizetype(m_strSvg.size())), m_bNoteBox);
    const bool bOk = strWhy.empty() ? CheckPlaceholders(strError) : Refuse(strWhy, strError);
    if (!bOk)
        m_strSvg.clear();
    return bOk;
}

std::string CCoverTemplate::CheckSvg(const QByteArray& svg, bool& bNoteBox)
{
    static constexpr std::string_view OUTSIDE = "; a template may refer to nothing outside itself";
    QXmlStreamReader reader(svg);
    bool bRoot = true;
    int nStyleDepth = 0;
    bNoteBox = false;
    while (!reader.atEnd())
    {
        switch (reader.readNext())
        {
        case QXmlStreamReader::DTD:
            // A document type may name an outside file or declare entities that expand without
            // end; an SVG needs neither.
            if (!reader.dtdSystemId().isEmpty() || !reader.dtdPublicId().isEmpty() ||
                !reader.entityDeclarations().isEmpty() || reader.text().contains(u"<!ENTITY"))
                return "declares a document type or entities (remove its <!DOCTYPE ...>)" +
                       std::string(OUTSIDE);
            break;
        case QXmlStreamReader::ProcessingInstruction:
            return "holds the processing instruction <?" +
                   ReferenceText(reader.processingInstructionTarget()) + "?>" + std::string(OUTSIDE);
        case QXmlStreamReader::StartElement:
            if (bRoot && reader.name() != u"svg")
                return "is not an SVG file (its first element is <" + ReferenceText(reader.name()) + ">)";
            bRoot = false;
            if (reader.name() == u"style")
                ++nStyleDepth;
            for (const auto& attribute : reader.attributes())
            {
                const QStringView strValue = attribute.value();
                if (attribute.name() == u"href" && !IsInternalReference(strValue))
                    return "refers to \"" + ReferenceText(strValue) + "\"" + std::string(OUTSIDE);
                if (!UrlsAreInternal(strValue) || HoldsImport(strValue))
                    return "refers to something outside itself in \"" + ReferenceText(strValue) + "\"" +
                           std::string(OUTSIDE);
                if (attribute.name() == u"id" && strValue == QString::fromUtf8(COVER_NOTE_ID.data()))
                    bNoteBox = true;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == u"style")
                --nStyleDepth;
            break;
        case QXmlStreamReader::Characters:
            if (nStyleDepth > 0 && (!UrlsAreInternal(reader.text()) || HoldsImport(reader.text())))
                return "loads a style from outside itself" + std::string(OUTSIDE);
            break;
        case QXmlStreamReader::EntityReference:
            return "uses the entity &" + ReferenceText(reader.name()) + ";";
        default:
            break;
        }
    }
    if (reader.hasError() && !bRoot)
        return "is not well-formed SVG: " + ReferenceText(reader.errorString()) + " at line " +
               std::to_string(reader.lineNumber());
    if (bRoot)
        return "is not an SVG file";
    return {};
}

bool CCoverTemplate::CheckPlaceholders(std::string& strError) const
{
    std::set<std::string, std::less<>> aFound;
    std::size_t nFrom = 0;
    for (;;)
    {
        const std::size_t nOpen = m_strSvg.find(PLACEHOLDER_OPEN, nFrom);
        if (nOpen == std::string::npos)
            break;
        const std::size_t nName = nOpen + PLACEHOLDER_OPEN.size();
        const std::size_t nClose = m_strSvg.find(PLACEHOLDER_CLOSE, nName);
        if (nClose == std::string::npos || nClose - nName > MAX_PLACEHOLDER_NAME)
            return Refuse("holds a \"{{\" that opens no placeholder", strError);
        const std::string strName = m_strSvg.substr(nName, nClose - nName);
        if (!IsCoverField(strName))
            return Refuse("uses the unknown field {{" + platform::PrintableText(strName, 40) + "}}",
                          strError);
        aFound.insert(strName);
        nFrom = nClose + PLACEHOLDER_CLOSE.size();
    }
    for (const std::string_view strRequired : COVER_REQUIRED_FIELDS)
        if (!aFound.contains(strRequired))
            return Refuse("lacks the field {{" + std::string(strRequired) +
                              "}}, which every cover page shows",
                          strError);
    return true;
}

bool CCoverTemplate::Fill(const SCoverFields& fields, const std::string& strToday, QByteArray& out,
                          std::string& strError) const
{
    out.clear();
    out.reserve(static_cast<qsizetype>(m_strSvg.size()) + 1024);
    std::size_t nFrom = 0;
    for (;;)
    {
        const std::size_t nOpen = m_strSvg.find(PLACEHOLDER_OPEN, nFrom);
        if (nOpen == std::string::npos)
            break;
        const std::size_t nName = nOpen + PLACEHOLDER_OPEN.size();
        const std::size_t nClose = m_strSvg.find(PLACEHOLDER_CLOSE, nName);
        out.append(m_strSvg.data() + nFrom, static_cast<qsizetype>(nOpen - nFrom));
        const std::string strName = m_strSvg.substr(nName, nClose - nName);
        const QString strText =
            PrintableCoverText(CoverFieldText(fields, strName, strToday), false).left(MAX_FIELD_CHARACTERS);
        out.append(EscapedForXml(strText).toUtf8());
        nFrom = nClose + PLACEHOLDER_CLOSE.size();
    }
    out.append(m_strSvg.data() + nFrom, static_cast<qsizetype>(m_strSvg.size() - nFrom));
    // Escaping keeps every value text, but a value in an attribute could still name something
    // (style="fill:{{subject}}"), and one in a comment could break it: the whole is checked again.
    bool bNoteBox = false;
    const std::string strWhy = CheckSvg(out, bNoteBox);
    return strWhy.empty() || Refuse("with these fields " + strWhy, strError);
}
