#include "sender/controls/BalloonGeometry.h"

CBalloonGeometry::CBalloonGeometry(const QRect& rcClient)
{
    const int nLeft = rcClient.x();
    const int nTop = rcClient.y();
    const int nRight = nLeft + rcClient.width();
    const int nBottom = nTop + rcClient.height();

    const int nWidth = nRight - (nLeft + POINTER_ROOM);
    const int nHeight = nBottom - nTop;
    const int nHalfA = static_cast<int>(nWidth * 0.5 * INSCRIBED_RATIO);
    const int nHalfB = static_cast<int>(nHeight * 0.5 * INSCRIBED_RATIO);
    m_text = {nWidth / 2 - nHalfA + POINTER_ROOM, nHeight / 2 - nHalfB, nWidth / 2 + nHalfA + POINTER_ROOM,
              nHeight / 2 + nHalfB};

    m_body = {nLeft + POINTER_ROOM, nTop, nRight, nBottom};

    const int nMiddle = nBottom / 2;
    m_pointer = QPolygon({QPoint(nLeft, nMiddle - POINTER_RISE),
                          QPoint(nLeft + POINTER_LENGTH, nMiddle - POINTER_HALF_BASE),
                          QPoint(nLeft + POINTER_LENGTH, nMiddle + POINTER_HALF_BASE)});
}

QRegion CBalloonGeometry::Region() const
{
    const QRect rcBody = m_body.ToRect();
    if (rcBody.isEmpty())
        return {};
    return QRegion(rcBody, QRegion::Ellipse).united(QRegion(m_pointer, Qt::OddEvenFill));
}

QSize CBalloonGeometry::SizeToHold(const QSize& szMinimum, const std::function<bool(const QRect&)>& holds)
{
    if (szMinimum.isEmpty())
        return szMinimum;
    const double dAspect = static_cast<double>(szMinimum.width()) / szMinimum.height();
    QSize size = szMinimum;
    for (int nExtra = 0; nExtra <= szMinimum.height() * (MAX_GROWTH - 1); ++nExtra)
    {
        size = QSize(szMinimum.width() + qRound(nExtra * dAspect), szMinimum.height() + nExtra);
        if (holds(CBalloonGeometry(QRect(QPoint(0, 0), size)).TextRect().ToRect()))
            break;
    }
    return size;
}

QRegion CBalloonGeometry::FrameOf(const QRegion& region, int nWidth, int nHeight)
{
    QRegion inner = region;
    inner &= region.translated(nWidth, 0);
    inner &= region.translated(-nWidth, 0);
    inner &= region.translated(0, nHeight);
    inner &= region.translated(0, -nHeight);
    return region.subtracted(inner);
}
