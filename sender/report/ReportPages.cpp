#include "sender/report/ReportPages.h"

#include "sender/common/Branding.h"
#include "sender/faxpage/FaxPageReader.h"

#include <QDateTime>
#include <QPdfWriter>
#include <QSaveFile>

std::string FaxDescription(const SSentFax& fax)
{
    const QString strTime =
        QDateTime::fromSecsSinceEpoch(fax.m_nSentAt).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    return "the fax to " + DrawableText(fax.m_strRecipient).toStdString() + " (" +
           DrawableText(fax.m_strFaxNumber).toStdString() + ") sent " + strTime.toStdString();
}

QString DrawableText(const std::string& strText, bool bLines)
{
    QString strDrawable = QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
    for (QChar& ch : strDrawable)
    {
        const char16_t nCode = ch.unicode();
        const bool bDirection = (nCode >= 0x202a && nCode <= 0x202e) ||
                                (nCode >= 0x2066 && nCode <= 0x2069) || nCode == 0x200e || nCode == 0x200f ||
                                nCode == 0x061c;
        if ((ch.category() == QChar::Other_Control && !(bLines && ch == u'\n')) || bDirection)
            ch = QChar::ReplacementCharacter;
    }
    return strDrawable;
}

std::optional<QImage> ReadFaxPageImage(const SSentFax& fax, int nPage, const std::filesystem::path& path,
                                       std::string& strError)
{
    std::string strProblem = "its copy is missing";
    const auto page = path.empty() ? std::nullopt : ReadFaxPage(path, strProblem);
    if (!page)
    {
        strError =
            "page " + std::to_string(nPage) + " of " + FaxDescription(fax) + " cannot be used: " + strProblem;
        return std::nullopt;
    }
    QImage image(FAX_PAGE_WIDTH, page->m_nRows, QImage::Format_Mono);
    if (image.isNull())
    {
        strError = "page " + std::to_string(nPage) + " of " + FaxDescription(fax) + " does not fit in memory";
        return std::nullopt;
    }
    // Format_Mono holds the leftmost pixel in the highest bit, as the fax page does. Its colours
    // are black for 0 and white for 1, the one order in which Qt's PDF writer keeps an image at
    // one bit a pixel; the fax page's bits (1 black) are turned round for it.
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int nRow = 0; nRow < page->m_nRows; ++nRow)
    {
        const std::uint8_t* pFrom = page->m_aBits.data() + std::size_t(nRow) * FAX_PAGE_ROW_BYTES;
        uchar* pTo = image.scanLine(nRow);
        for (int i = 0; i < FAX_PAGE_ROW_BYTES; ++i)
            pTo[i] = static_cast<uchar>(~pFrom[i]);
    }
    image.setDotsPerMeterX(qRound(FAX_X_DPI / 0.0254));
    image.setDotsPerMeterY(qRound(FAX_Y_DPI / 0.0254));
    return image;
}

bool WritePdfFile(const std::filesystem::path& target,
                  const std::function<bool(QPdfWriter& writer, std::string& strError)>& fnDraw,
                  std::string& strError)
{
    const std::string strName = target.filename().string();
    QSaveFile file(QString::fromStdString(target.string()));
    if (!file.open(QIODevice::WriteOnly))
    {
        strError = "cannot write " + strName + ": " + file.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setCreator(QString::fromUtf8(PRODUCT_NAME));
        if (!fnDraw(writer, strError))
        {
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit())
    {
        strError = "cannot write " + strName + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}
