#pragma once

#include "sender/controls/TintedStatic.h"

#include <QImage>

// The preview surface (control 1038): the control paints its own background and frame,
// and then the last view drawn into it, so that the view survives every repaint.
class CPreviewPane : public CTintedStatic
{
    Q_OBJECT

public:
    explicit CPreviewPane(QWidget* pParent = nullptr);

    // Keeps the view and repaints; it is drawn at VIEW_ORIGIN in the control's window,
    // border included, and clipped by the control.
    void SetView(QImage view);
    const QImage& View() const { return m_view; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QImage m_view;
};
