#include "sender/cover/CoverPage.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Text.h"

#include <QDate>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextLayout>
#include <cmath>

namespace
{

// The most of a note that is laid out: far more than any page holds.
constexpr int MAX_NOTE_CHARACTERS = 8000;

std::string TemplateText(const CCoverTemplate& coverTemplate)
{
    return "The cover template \"" + platform::PrintableUtf8(coverTemplate.Path().string()) + "\" ";
}

// Draws the note into rcBox (page pixels), clipped to it.
bool DrawNote(QPainter& painter, const QString& strNote, QRectF rcBox)
{
    const QFont font = CoverNoteFont();
    const QRectF rcText =
        rcBox.adjusted(COVER_NOTE_MARGIN, COVER_NOTE_MARGIN, -COVER_NOTE_MARGIN, -COVER_NOTE_MARGIN);
    const QStringList aLines = CoverNoteLines(strNote, font, rcText.width(), rcText.height());
    if (aLines.isEmpty())
        return false;
    const QFontMetricsF metrics(font, painter.device());
    painter.save();
    painter.setClipRect(rcBox);
    painter.setFont(font);
    painter.setPen(Qt::black);
    qreal nBaseline = rcText.top() + metrics.ascent();
    for (const QString& strLine : aLines)
    {
        painter.drawText(QPointF(rcText.left(), nBaseline), strLine);
        nBaseline += metrics.lineSpacing();
    }
    painter.restore();
    return true;
}

} // namespace

QFont CoverNoteFont()
{
    QFont font(QString::fromLatin1(COVER_NOTE_FAMILY));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(COVER_NOTE_PIXELS);
    return font;
}

QStringList CoverNoteLines(const QString& strNote, const QFont& font, qreal nWidth, qreal nHeight)
{
    const QFontMetricsF metrics(font);
    const int nMaxLines = nWidth > 0 ? static_cast<int>(std::floor(nHeight / metrics.lineSpacing())) : 0;
    QStringList aLines;
    if (nMaxLines < 1)
        return aLines;
    for (const QString& strParagraph : strNote.split(u'\n'))
    {
        if (strParagraph.trimmed().isEmpty())
        {
            aLines.append(QString());
            continue;
        }
        QTextLayout layout(strParagraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        {
            line.setLineWidth(nWidth);
            aLines.append(strParagraph.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
    }
    // Blank lines at the end show nothing and cut nothing.
    while (!aLines.isEmpty() && aLines.back().isEmpty())
        aLines.removeLast();
    if (aLines.size() > nMaxLines)
    {
        while (aLines.size() > nMaxLines)
            aLines.removeLast();
        QString& strLast = aLines.back();
        strLast = metrics.elidedText(strLast + QString::fromUtf16(COVER_NOTE_MARK), Qt::ElideRight, nWidth);
    }
    return aLines;
}

bool DrawCoverPage(const CCoverTemplate& coverTemplate, const SCoverFields& fields,
                   std::span<std::uint8_t> raster, std::string& strError)
{
    if (raster.size() != platform::RASTER_BYTES)
    {
        strError = "A cover page raster must hold " + std::to_string(platform::RASTER_BYTES) + " bytes.";
        return false;
    }
    const std::string strToday = QDate::currentDate().toString(Qt::ISODate).toStdString();
    QByteArray svg;
    if (!coverTemplate.Fill(fields, strToday, svg, strError))
        return false;
    QSvgRenderer renderer(svg);
    QRectF rcView = renderer.viewBoxF();
    if (!renderer.isValid() || rcView.isEmpty())
    {
        strError = TemplateText(coverTemplate) + "cannot be drawn.";
        return false;
    }
    const QString strNote = PrintableCoverText(fields.m_strNote, true).left(MAX_NOTE_CHARACTERS).trimmed();
    if (!strNote.isEmpty() && !renderer.elementExists(QString::fromLatin1(COVER_NOTE_ID.data())))
    {
        strError = TemplateText(coverTemplate) + "has no box for the note (an element with the id \"note\").";
        return false;
    }

    // The template's view box, scaled to fit the page and centred on it.
    const qreal nScale =
        std::min(platform::RASTER_ROW_BYTES / rcView.width(), platform::RASTER_ROWS / rcView.height());
    const QSizeF size = rcView.size() * nScale;
    const QRectF rcPage((platform::RASTER_ROW_BYTES - size.width()) / 2,
                        (platform::RASTER_ROWS - size.height()) / 2, size.width(), size.height());
    QImage image(platform::RASTER_ROW_BYTES, platform::RASTER_ROWS, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter, rcPage);
    if (!strNote.isEmpty())
    {
        const QString strId = QString::fromLatin1(COVER_NOTE_ID.data());
        const QTransform viewToPage = QTransform::fromTranslate(rcPage.left(), rcPage.top())
                                          .scale(nScale, nScale)
                                          .translate(-rcView.left(), -rcView.top());
        const QRectF rcBox =
            viewToPage.mapRect(renderer.transformForElement(strId).mapRect(renderer.boundsOnElement(strId)));
        if (!DrawNote(painter, strNote, rcBox))
        {
            strError = TemplateText(coverTemplate) + "has a note box too small for one line of the note.";
            return false;
        }
    }
    painter.end();

    for (int nRow = 0; nRow < platform::RASTER_ROWS; ++nRow)
    {
        const std::uint8_t* pGrey = image.constScanLine(nRow);
        std::uint8_t* pOut =
            raster.data() + std::size_t{static_cast<unsigned>(nRow)} * platform::RASTER_ROW_BYTES;
        for (int x = 0; x < platform::RASTER_ROW_BYTES; ++x)
            pOut[x] = pGrey[x] < COVER_THRESHOLD ? platform::RASTER_BLACK : platform::RASTER_WHITE;
    }
    return true;
}

bool WriteCoverPage(const SCoverFields& fields, const std::filesystem::path& templatePath,
                    const std::filesystem::path& rasterPath, std::string& strError)
{
    CCoverTemplate coverTemplate;
    if (!coverTemplate.Load(templatePath, strError))
        return false;
    std::vector<std::uint8_t> aRaster(platform::RASTER_BYTES);
    if (!DrawCoverPage(coverTemplate, fields, aRaster, strError))
        return false;
    // The cover names people and numbers: the user's own, like the other page files.
    platform::CFileWriter file;
    if (!file.Create(rasterPath, platform::EWriteMode::Atomic) ||
        !file.SetPermissions(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write) ||
        !file.Write(aRaster.data(), aRaster.size()) || !file.Close())
    {
        strError = "Cannot write the cover page " + platform::PrintableUtf8(rasterPath.string()) + ": " +
                   file.Error();
        file.Discard();
        return false;
    }
    return true;
}
