#include "sender/controls/LinkStatic.h"

#include "platform/Shell.h"
#include "sender/controls/LinkOpener.h"
#include "sender/controls/TextFit.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace
{

constexpr const char* OPEN_ERROR_PREFIX = "Unable to open hyperlink:\n\n";

} // namespace

CLinkStatic::CLinkStatic(QWidget* pParent)
    : QLabel(pParent), m_hoverColour(palette().color(QPalette::Highlight))
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

CLinkStatic::~CLinkStatic() = default;

void CLinkStatic::Attach()
{
    m_bAttached = true;
    if (m_strTarget.empty())
        m_strTarget = text().toStdString();
    if (text().isEmpty())
        setText(QString::fromStdString(m_strTarget));

    QFont linkFont = font();
    linkFont.setUnderline(m_bUnderline);
    m_linkFont = linkFont;
    setFont(m_linkFont);
    FitToText();
    LoadHandCursor();
    setToolTip(QString::fromStdString(m_strTarget));
}

void CLinkStatic::SetTarget(const std::string& strTarget)
{
    m_strTarget = strTarget;
    if (!m_bAttached)
        return;
    FitToText();
    setToolTip(QString::fromStdString(m_strTarget));
}

void CLinkStatic::MarkVisited(bool bVisited)
{
    m_bVisited = bVisited;
    if (m_bAttached)
        update();
}

void CLinkStatic::SetUnderlined(EUnderline eUnderline)
{
    m_bUnderline = eUnderline == EUnderline::On;
    if (!m_bAttached)
        return;
    QFont linkFont = font();
    linkFont.setUnderline(m_bUnderline);
    m_linkFont = linkFont;
    setFont(m_linkFont);
    update();
}

void CLinkStatic::FitToText()
{
    if (!m_bAttached || !m_bFit)
        return;
    const QFontMetrics metrics(m_linkFont);
    const QSize sizeText(metrics.horizontalAdvance(text()), metrics.height());
    setGeometry(FitRectToText(geometry(), sizeText, alignment()));
}

void CLinkStatic::OpenTarget()
{
    const int nResult = OpenWithShell(m_strTarget);
    // The visited state is the outcome of this attempt.
    m_bVisited = platform::ShellSucceeded(nResult);
    if (m_bVisited)
    {
        MarkVisited(true);
        return;
    }
    ShowOpenError(nResult);
}

int CLinkStatic::OpenWithShell(const std::string& strTarget)
{
    return CLinkOpener::Open(strTarget, CLinkOpener::EFallback::Browser);
}

void CLinkStatic::ShowOpenError(int nCode)
{
    CLinkOpener::ShowError(OPEN_ERROR_PREFIX, nCode);
}

void CLinkStatic::LoadHandCursor()
{
    if (m_bHandCursor)
        return;
    m_bHandCursor = true;
    setCursor(Qt::PointingHandCursor);
}

QColor CLinkStatic::CurrentColour() const
{
    if (m_bHover)
        return m_hoverColour;
    return m_bVisited ? m_visitedColour : m_linkColour;
}

void CLinkStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(font());
    painter.setPen(CurrentColour());
    int nFlags = static_cast<int>(alignment());
    if (wordWrap())
        nFlags |= Qt::TextWordWrap;
    painter.drawText(contentsRect(), nFlags, text());
}

void CLinkStatic::mouseMoveEvent(QMouseEvent* pEvent)
{
    QLabel::mouseMoveEvent(pEvent);
    if (!m_bHover)
    {
        m_bHover = true;
        repaint();
        if (isVisible())
            grabMouse();
    }
    else if (!rect().contains(pEvent->position().toPoint()))
    {
        EndHover();
    }
    pEvent->accept();
}

void CLinkStatic::leaveEvent(QEvent* pEvent)
{
    // Reached only when the mouse was not held (the grab was lost).
    if (m_bHover)
        EndHover();
    QLabel::leaveEvent(pEvent);
}

void CLinkStatic::enterEvent(QEnterEvent* pEvent)
{
    if (m_bHandCursor)
        setCursor(Qt::PointingHandCursor);
    QLabel::enterEvent(pEvent);
}

void CLinkStatic::EndHover()
{
    m_bHover = false;
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    repaint();
}

void CLinkStatic::mousePressEvent(QMouseEvent* pEvent)
{
    // A click on the label is its click notification, which comes with the press.
    if (pEvent->button() != Qt::LeftButton)
    {
        QLabel::mousePressEvent(pEvent);
        return;
    }
    OpenTarget();
    pEvent->accept();
}
