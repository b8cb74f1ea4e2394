#include "sender/controls/LinkStatic.h"

#include "platform/Shell.h"
#include "sender/controls/LinkOpener.h"
#include "sender/controls/TextFit.h"

#include <QMouseEvent>

namespace
{

constexpr const char* OPEN_ERROR_PREFIX = "Unable to open hyperlink:\n\n";

} // namespace

CLinkStatic::CLinkStatic(QWidget* pParent)
    : CLinkLabel(pParent), m_hoverColour(palette().color(QPalette::Highlight))
{
}

CLinkStatic::~CLinkStatic() = default;

void CLinkStatic::MarkVisited(bool bVisited)
{
    m_bVisited = bVisited;
    if (IsAttached())
        update();
}

void CLinkStatic::SetUnderlined(EUnderline eUnderline)
{
    m_bUnderline = eUnderline == EUnderline::On;
    if (!IsAttached())
        return;
    SetLinkFont(FontUnderlined(m_bUnderline));
    update();
}

void CLinkStatic::FitToText()
{
    if (!IsAttached() || !m_bFit)
        return;
    setGeometry(FitRectToText(geometry(), TextSize(), alignment()));
}

void CLinkStatic::OpenTarget()
{
    const int nResult = OpenWithShell(Target());
    // The visited state is the outcome of this attempt.
    m_bVisited = platform::ShellSucceeded(nResult);
    if (m_bVisited)
    {
        MarkVisited(true);
        return;
    }
    ShowOpenError(nResult);
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

void CLinkStatic::mouseMoveEvent(QMouseEvent* pEvent)
{
    CLinkLabel::mouseMoveEvent(pEvent);
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
    CLinkLabel::leaveEvent(pEvent);
}

void CLinkStatic::enterEvent(QEnterEvent* pEvent)
{
    if (m_bHandCursor)
        setCursor(Qt::PointingHandCursor);
    CLinkLabel::enterEvent(pEvent);
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
        CLinkLabel::mousePressEvent(pEvent);
        return;
    }
    OpenTarget();
    pEvent->accept();
}
