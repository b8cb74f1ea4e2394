#include "sender/controls/LinkLabel.h"

#include "sender/controls/LinkOpener.h"

#include <QFontMetrics>
#include <QPainter>

CLinkLabel::CLinkLabel(QWidget* pParent) : QLabel(pParent)
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

CLinkLabel::~CLinkLabel() = default;

int CLinkLabel::OpenWithShell(const std::string& strTarget)
{
    return CLinkOpener::Open(strTarget, CLinkOpener::EFallback::Browser);
}

void CLinkLabel::Attach()
{
    m_bAttached = true;
    if (m_strTarget.empty())
        m_strTarget = text().toStdString();
    if (text().isEmpty())
        setText(QString::fromStdString(m_strTarget));
    SetLinkFont(FontUnderlined(IsUnderlined()));
    FitToText();
    TakeCursor();
    ShowTargetAsToolTip();
}

void CLinkLabel::SetTarget(const std::string& strTarget)
{
    m_strTarget = strTarget;
    if (m_bAttached)
        ShowNewTarget();
}

void CLinkLabel::ShowNewTarget()
{
    FitToText();
    ShowTargetAsToolTip();
}

QFont CLinkLabel::FontUnderlined(bool bUnderline) const
{
    QFont linkFont = font();
    linkFont.setUnderline(bUnderline);
    return linkFont;
}

void CLinkLabel::SetLinkFont(const QFont& font)
{
    m_linkFont = font;
    setFont(m_linkFont);
}

QSize CLinkLabel::TextSize() const
{
    const QFontMetrics metrics(m_linkFont);
    return {metrics.horizontalAdvance(text()), metrics.height()};
}

void CLinkLabel::paintEvent(QPaintEvent*)
{
    // No background: the dialog shows through, as behind any label.
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());
    painter.setPen(CurrentColour());
    int nFlags = static_cast<int>(alignment());
    if (wordWrap())
        nFlags |= Qt::TextWordWrap;
    painter.drawText(contentsRect(), nFlags, text());
}
