#include "sender/report/TransmissionReport.h"

#include "sender/common/Branding.h"
#include "sender/faxpage/FaxPageReader.h"
#include "sender/report/ReportPages.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QLocale>
#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>
#include <QTextLayout>
#include <algorithm>

namespace
{

constexpr double POINTS_PER_INCH = 72.0;
constexpr double PAGE_MARGIN = 42.0;
// Type sizes and spacing, in points: black type on white for any printer or fax.
constexpr int TITLE_SIZE = 20;
constexpr int TEXT_SIZE = 11;
constexpr int SMALL_SIZE = 9;
constexpr double LABEL_WIDTH = 120.0;
constexpr double FIELD_GAP = 4.0;
constexpr double RULE_WIDTH = 0.75;
// A field longer than this many lines is cut, its last line ending in the mark.
constexpr int MAX_FIELD_LINES = 6;
constexpr const char16_t* CUT_MARK = u" [\u2026]";
// The reduced first page: drawn at this resolution, smoothed from the fax page.
constexpr double IMAGE_DPI = 150.0;
constexpr double MIN_IMAGE_HEIGHT = 120.0;

QFont Font(int nSize, bool bBold = false)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    // The painter draws in points (Draw scales it), so a pixel here is a point on the page.
    font.setPixelSize(nSize);
    font.setBold(bBold);
    return font;
}

// Lines of strText wrapped to nWidth, at most nMaxLines; when the text goes on, the last line
// ends in the cut mark.
QStringList WrapLines(const QString& strText, const QFont& font, double nWidth, int nMaxLines)
{
    QStringList aLines;
    const QStringList aParagraphs = strText.split(u'\n');
    const QFontMetricsF metrics(font);
    bool bCut = false;
    for (const QString& strParagraph : aParagraphs)
    {
        if (aLines.size() >= nMaxLines)
        {
            bCut = true;
            break;
        }
        QTextLayout layout(strParagraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        {
            line.setLineWidth(nWidth);
            if (aLines.size() >= nMaxLines)
            {
                bCut = true;
                break;
            }
            aLines << strParagraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        if (strParagraph.isEmpty() && aLines.size() < nMaxLines)
            aLines << QString();
    }
    if (bCut && !aLines.isEmpty())
    {
        const QString strMark = QString::fromUtf16(CUT_MARK);
        QString& strLast = aLines.last();
        while (!strLast.isEmpty() && metrics.horizontalAdvance(strLast + strMark) > nWidth)
            strLast.chop(1);
        strLast += strMark;
    }
    return aLines;
}

// "2026-03-08 14:03:20 (UTC+01:00)": local time, and where it stands from UTC.
QString TimeText(std::int64_t nSentAt)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(nSentAt);
    const int nOffset = time.offsetFromUtc();
    const int nMinutes = std::abs(nOffset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QStringLiteral(" (UTC%1%2:%3)")
               .arg(QString(nOffset < 0 ? QChar(u'-') : QChar(u'+')))
               .arg(nMinutes / 60, 2, 10, QChar(u'0'))
               .arg(nMinutes % 60, 2, 10, QChar(u'0'));
}

// "123 456": thousands set apart by a blank, which reads the same in every language.
QString GroupedNumber(std::uint64_t nNumber)
{
    QString strDigits = QString::number(static_cast<qulonglong>(nNumber));
    for (qsizetype nAt = strDigits.size() - 3; nAt > 0; nAt -= 3)
        strDigits.insert(nAt, u' ');
    return strDigits;
}

} // namespace

bool CTransmissionReport::Load(const SSentFax& fax, const std::filesystem::path& firstPage,
                               std::string& strError)
{
    m_fax = fax;
    m_firstPage = QImage();
    if (fax.m_nPages < 1)
        return true;
    auto image = ReadFaxPageImage(fax, 1, firstPage, strError);
    if (!image)
        return false;
    m_firstPage = std::move(*image);
    return true;
}

QPageLayout CTransmissionReport::DefaultLayout()
{
    const bool bLetter = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    return QPageLayout(QPageSize(bLetter ? QPageSize::Letter : QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(PAGE_MARGIN, PAGE_MARGIN, PAGE_MARGIN, PAGE_MARGIN), QPageLayout::Point);
}

void CTransmissionReport::Draw(QPainter& painter, const QPageLayout& layout) const
{
    painter.save();
    // From here on a unit is a point, whatever the device's resolution.
    const double nScale = painter.device()->logicalDpiY() / POINTS_PER_INCH;
    painter.scale(painter.device()->logicalDpiX() / POINTS_PER_INCH, nScale);
    const QRectF rcPaint(QPointF(0, 0), layout.paintRect(QPageLayout::Point).size());
    painter.setPen(QPen(Qt::black, RULE_WIDTH));
    painter.setBrush(Qt::NoBrush);

    double y = 0;
    const auto drawLine = [&](const QString& strText, const QFont& font, double x)
    {
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        painter.drawText(QPointF(x, y + metrics.ascent()), strText);
        y += metrics.lineSpacing();
    };
    const auto rule = [&]
    {
        y += FIELD_GAP;
        painter.drawLine(QPointF(0, y), QPointF(rcPaint.width(), y));
        y += FIELD_GAP * 2;
    };

    drawLine(QString::fromUtf8(PRODUCT_NAME), Font(SMALL_SIZE), 0);
    drawLine(QStringLiteral("TRANSMISSION REPORT"), Font(TITLE_SIZE, true), 0);
    rule();

    const QFont label = Font(TEXT_SIZE, true);
    const QFont text = Font(TEXT_SIZE);
    const double nValueWidth = rcPaint.width() - LABEL_WIDTH;
    const auto field = [&](const char* pszLabel, const QString& strValue)
    {
        const double yTop = y;
        drawLine(QString::fromLatin1(pszLabel), label, 0);
        y = yTop;
        for (const QString& strLine : WrapLines(strValue, text, nValueWidth, MAX_FIELD_LINES))
            drawLine(strLine, text, LABEL_WIDTH);
        y += FIELD_GAP;
    };
    QString strPages = QString::number(m_fax.m_nPages);
    if (m_fax.m_bCoverSent)
        strPages += QStringLiteral(", including the cover page");
    field("Time sent", TimeText(m_fax.m_nSentAt));
    field("Recipient", DrawableText(m_fax.m_strRecipient));
    field("Fax number", DrawableText(m_fax.m_strFaxNumber));
    field("Gateway address", DrawableText(m_fax.m_strGatewayAddress));
    field("Pages", strPages);
    field("Mail size", GroupedNumber(m_fax.m_nMailBytes) + QStringLiteral(" bytes"));
    field("Message-ID", DrawableText(m_fax.m_strMessageId));
    field("Server reply", DrawableText(m_fax.m_strServerReply, true));
    // The record holds only faxes that the mail server took; the gateway's word on delivery
    // comes by mail to the sender, and is shown once a status notice has given it.
    QString strStatus = QStringLiteral("Accepted by the mail server");
    if (m_fax.m_eStatus == ESentStatus::Delivered)
        strStatus = QStringLiteral("Delivered");
    else if (m_fax.m_eStatus == ESentStatus::Failed)
        strStatus = m_fax.m_strStatusReason.empty()
                        ? QStringLiteral("Failed")
                        : QStringLiteral("Failed (%1)").arg(DrawableText(m_fax.m_strStatusReason));
    if (m_fax.m_eStatus != ESentStatus::Sent && m_fax.m_nNoticeAt > 0)
        strStatus += QStringLiteral(", notice of ") + TimeText(m_fax.m_nNoticeAt);
    field("Status", strStatus);
    rule();

    const QFont small = Font(SMALL_SIZE);
    const double nFootHeight = QFontMetricsF(small).lineSpacing() + FIELD_GAP;
    if (!m_firstPage.isNull())
    {
        drawLine(QStringLiteral("First page"), label, 0);
        y += FIELD_GAP;
        // The page's true proportions: its width at 204 dpi against its rows at 196 dpi.
        const double nPageWidth = FAX_PAGE_WIDTH * POINTS_PER_INCH / FAX_X_DPI;
        const double nPageHeight = m_firstPage.height() * POINTS_PER_INCH / FAX_Y_DPI;
        const double nHeight = std::min(rcPaint.height() - y - nFootHeight, nPageHeight);
        if (nHeight >= MIN_IMAGE_HEIGHT)
        {
            const double nWidth = nHeight * nPageWidth / nPageHeight;
            const QRectF rcImage(0, y, nWidth, nHeight);
            const QImage reduced = m_firstPage.convertToFormat(QImage::Format_Grayscale8)
                                       .scaled(qRound(nWidth * IMAGE_DPI / POINTS_PER_INCH),
                                               qRound(nHeight * IMAGE_DPI / POINTS_PER_INCH),
                                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            painter.setRenderHint(QPainter::LosslessImageRendering);
            painter.drawImage(rcImage, reduced);
            painter.drawRect(rcImage);
            y += nHeight + FIELD_GAP;
        }
    }
    y = rcPaint.height() - nFootHeight + FIELD_GAP;
    drawLine(QStringLiteral("Report made %1").arg(TimeText(QDateTime::currentSecsSinceEpoch())), small, 0);
    painter.restore();
}

bool CTransmissionReport::WritePdf(const std::filesystem::path& target, std::string& strError) const
{
    return WritePdfFile(
        target,
        [&](QPdfWriter& writer, std::string& strDrawError)
        {
            writer.setTitle(QString::fromStdString("Transmission report: " + FaxDescription(m_fax)));
            writer.setPageLayout(DefaultLayout());
            QPainter painter;
            if (!painter.begin(&writer))
            {
                strDrawError = "cannot make the report of " + FaxDescription(m_fax);
                return false;
            }
            Draw(painter, writer.pageLayout());
            return painter.end();
        },
        strError);
}
