#include "sender/report/FaxPdf.h"

#include "sender/faxpage/FaxPageReader.h"
#include "sender/report/ReportPages.h"

#include <QColor>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace
{

constexpr double POINTS_PER_INCH = 72.0;
constexpr double INDEX_TEXT_INCHES = 0.1;

// A page of nRows fax rows, in points, exactly: no near standard size takes its place.
QPageSize FaxPageSize(int nRows)
{
    return QPageSize(
        QSizeF(FAX_PAGE_WIDTH * POINTS_PER_INCH / FAX_X_DPI, nRows * POINTS_PER_INCH / FAX_Y_DPI),
        QPageSize::Point, QString(), QPageSize::ExactMatch);
}

} // namespace

bool WriteFaxPdf(const SSentFax& fax, const std::vector<std::filesystem::path>& aPages,
                 const std::filesystem::path& target, std::string& strError)
{
    if (aPages.empty())
    {
        strError = FaxDescription(fax) + " has no pages";
        return false;
    }
    return WritePdfFile(
        target,
        [&](QPdfWriter& writer, std::string& strDrawError)
        {
            writer.setTitle(QString::fromStdString("Fax: " + FaxDescription(fax)));
            writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
            QPainter painter;
            for (std::size_t i = 0; i < aPages.size(); ++i)
            {
                const int nPage = static_cast<int>(i) + 1;
                const auto image = ReadFaxPageImage(fax, nPage, aPages[i], strDrawError);
                if (!image)
                    return false;
                writer.setPageSize(FaxPageSize(image->height()));
                if (nPage == 1 && !painter.begin(&writer))
                {
                    strDrawError = "cannot make a PDF of " + FaxDescription(fax);
                    return false;
                }
                // The page as it is, bit for bit, never a lossy copy.
                painter.setRenderHint(QPainter::LosslessImageRendering);
                if (nPage > 1 && !writer.newPage())
                {
                    strDrawError = "cannot add page " + std::to_string(nPage) + " to the PDF";
                    return false;
                }
                // The whole page, in the writer's units, is the image: 1 fax pixel is 1/204 by
                // 1/196 of an inch.
                const double nUnitsPerInch = writer.resolution();
                painter.drawImage(QRectF(0, 0, FAX_PAGE_WIDTH * nUnitsPerInch / FAX_X_DPI,
                                         image->height() * nUnitsPerInch / FAX_Y_DPI),
                                  *image);
                // Under the image's top edge, in a colour that shows nothing, what the page is:
                // a search of the PDF or a desktop index finds the fax by its recipient, number
                // or Message-ID, while the page looks exactly as it went out.
                QFont font(QStringLiteral("Sans Serif"));
                font.setPixelSize(qRound(nUnitsPerInch * INDEX_TEXT_INCHES));
                painter.setFont(font);
                painter.setPen(QColor(0, 0, 0, 0));
                painter.drawText(QPointF(0, font.pixelSize()),
                                 QString::fromStdString("Page " + std::to_string(nPage) + " of " +
                                                        std::to_string(aPages.size()) + " of " +
                                                        FaxDescription(fax) + ", Message-ID ") +
                                     DrawableText(fax.m_strMessageId));
            }
            return painter.end();
        },
        strError);
}
