#include "sender/controls/TextFit.h"

QRect FitRectToText(const QRect& rcControl, const QSize& sizeText, Qt::Alignment alignment)
{
    // Edges as left/top inclusive, right/bottom exclusive.
    int nLeft = rcControl.x();
    int nTop = rcControl.y();
    int nRight = nLeft + rcControl.width();
    int nBottom = nTop + rcControl.height();

    if (alignment & Qt::AlignVCenter)
    {
        const int nShrink = (rcControl.height() - sizeText.height()) / 2;
        nTop += nShrink;
        nBottom -= nShrink;
    }
    else
    {
        nBottom = nTop + sizeText.height();
    }

    if (alignment & Qt::AlignHCenter)
    {
        const int nShrink = (rcControl.width() - sizeText.width()) / 2;
        nLeft += nShrink;
        nRight -= nShrink;
    }
    else if (alignment & Qt::AlignRight)
    {
        nLeft = nRight - sizeText.width();
    }
    else
    {
        nRight = nLeft + sizeText.width();
    }
    return QRect(nLeft, nTop, nRight - nLeft, nBottom - nTop);
}
