#include "sender/app/PreviewPane.h"

#include "sender/app/PageRaster.h"

#include <QPainter>

CPreviewPane::CPreviewPane(QWidget* pParent) : CTintedStatic(pParent) {}

void CPreviewPane::SetView(QImage view)
{
    m_view = std::move(view);
    update();
}

void CPreviewPane::paintEvent(QPaintEvent* pEvent)
{
    CTintedStatic::paintEvent(pEvent);
    if (m_view.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(VIEW_ORIGIN_X, VIEW_ORIGIN_Y, m_view);
}
