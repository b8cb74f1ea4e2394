#include "resources/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace resources
{

namespace
{

constexpr int ICON_SIZES[] = {16, 24, 32, 48, 64, 128, 256};

} // namespace

QImage DrawProgramIcon(int nSize)
{
    QImage image(nSize, nSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Everything is drawn on a 64-unit grid and scaled to the size asked for.
    painter.scale(nSize / 64.0, nSize / 64.0);

    // The page, its top right corner folded down.
    QPainterPath page;
    page.moveTo(10, 4);
    page.lineTo(36, 4);
    page.lineTo(48, 16);
    page.lineTo(48, 60);
    page.lineTo(10, 60);
    page.closeSubpath();
    painter.setPen(QPen(QColor(60, 60, 60), 2.0));
    painter.setBrush(Qt::white);
    painter.drawPath(page);
    QPainterPath fold;
    fold.moveTo(36, 4);
    fold.lineTo(36, 16);
    fold.lineTo(48, 16);
    painter.setBrush(QColor(210, 210, 210));
    painter.drawPath(fold);

    // Lines of text on the page.
    painter.setPen(QPen(QColor(90, 90, 90), 3.0, Qt::SolidLine, Qt::FlatCap));
    for (int y : {24, 32, 40})
        painter.drawLine(QPointF(16, y), QPointF(y == 24 ? 36 : 42, y));
    painter.drawLine(QPointF(16, 48), QPointF(28, 48));

    // The arrow that sends the page on its way, lower right.
    QPainterPath arrow;
    arrow.moveTo(26, 50);
    arrow.lineTo(46, 50);
    arrow.lineTo(46, 44);
    arrow.lineTo(62, 54);
    arrow.lineTo(46, 64);
    arrow.lineTo(46, 58);
    arrow.lineTo(26, 58);
    arrow.closeSubpath();
    painter.setPen(QPen(QColor(10, 40, 120), 1.5));
    painter.setBrush(QColor(30, 90, 220));
    painter.drawPath(arrow);
    painter.end();
    return image;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int nSize : ICON_SIZES)
        icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(nSize)));
    return icon;
}

} // namespace resources
