#include "sender/controls/HyperLink1.h"

#include "platform/Shell.h"
#include "sender/controls/LinkOpener.h"
#include "sender/controls/TextFit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace
{

constexpr const char* OPEN_ERROR_PREFIX = "Can't open link:\n\n";

// The hand is loaded once, by the first link that wants it, and then serves every link.
bool g_bHandCursorLoaded = false;

} // namespace

// A label is not a tab stop; it takes the focus only when a press gives it (LinkFocusOnPress).
CHyperLink1::CHyperLink1(QWidget* pParent) : CLinkLabel(pParent) {}

CHyperLink1::~CHyperLink1() = default;

bool CHyperLink1::IsUnderlined() const
{
    return (m_state.Style() & LinkUnderline) != 0;
}

void CHyperLink1::TakeCursor()
{
    if ((m_state.Style() & LinkKeepCursor) == 0)
        LoadHandCursor();
    UpdateCursor();
}

void CHyperLink1::ShowNewTarget()
{
    // Held back from painting while it changes size, so that it never shows half-updated.
    setUpdatesEnabled(false);
    CLinkLabel::ShowNewTarget();
    setUpdatesEnabled(true);
}

bool CHyperLink1::AlterLinkStyle(std::uint32_t uRemove, std::uint32_t uAdd, EApply eApply)
{
    if (!m_state.AlterStyle(uRemove, uAdd))
        return false;
    if (eApply == EApply::Later || !IsAttached())
        return true;

    if (((uRemove | uAdd) & LinkUnderline) != 0)
        ApplyLinkFont(FontUnderlined(IsUnderlined()));
    if ((uAdd & LinkFitText) != 0)
        FitToText();
    if ((uRemove & LinkHoverTint) != 0)
        update();
    return true;
}

void CHyperLink1::ApplyLinkFont(const QFont& font)
{
    setUpdatesEnabled(false);
    SetLinkFont(font);
    FitToText();
    setUpdatesEnabled(true);
    update();
}

void CHyperLink1::FitToText()
{
    if (!IsAttached() || (m_state.Style() & LinkFitText) == 0)
        return;
    const QRect rcFit = FitRectToText(geometry(), TextSize(), alignment());
    // The frame, if any, comes on top of the text.
    const int nBorderWidth = width() - contentsRect().width();
    const int nBorderHeight = height() - contentsRect().height();
    setGeometry(rcFit.x(), rcFit.y(), rcFit.width() + nBorderWidth, rcFit.height() + nBorderHeight);
    update();
}

void CHyperLink1::OpenTarget()
{
    const int nResult = OpenWithShell(Target());
    if (platform::ShellSucceeded(nResult))
    {
        m_state.Opened(true);
        update();
        return;
    }
    ShowOpenError(nResult);
}

void CHyperLink1::ShowOpenError(int nCode)
{
    CLinkOpener::ShowError(OPEN_ERROR_PREFIX, nCode);
}

void CHyperLink1::LoadHandCursor()
{
    g_bHandCursorLoaded = true;
}

bool CHyperLink1::IsHandCursorLoaded()
{
    return g_bHandCursorLoaded;
}

QColor CHyperLink1::CurrentColour() const
{
    switch (m_state.Tint())
    {
    case CLinkState::ETint::Hover:
        return HoverColour();
    case CLinkState::ETint::Focus:
        return FocusColour();
    case CLinkState::ETint::Visited:
        return VisitedColour();
    case CLinkState::ETint::Link:
        break;
    }
    return LinkColour();
}

void CHyperLink1::HoverChanged(CLinkState::EHoverChange eChange)
{
    // The mouse is held while hovering, so that the move that leaves the label reaches it.
    switch (eChange)
    {
    case CLinkState::EHoverChange::Entered:
        update();
        if (isVisible())
            grabMouse();
        break;
    case CLinkState::EHoverChange::Left:
        if (QWidget::mouseGrabber() == this)
            releaseMouse();
        update();
        break;
    case CLinkState::EHoverChange::None:
        break;
    }
}

void CHyperLink1::mouseMoveEvent(QMouseEvent* pEvent)
{
    HoverChanged(m_state.MouseMoved(rect().contains(pEvent->position().toPoint())));
    UpdateCursor();
    pEvent->accept();
}

void CHyperLink1::leaveEvent(QEvent* pEvent)
{
    HoverChanged(m_state.MouseLeft());
    CLinkLabel::leaveEvent(pEvent);
}

void CHyperLink1::enterEvent(QEnterEvent* pEvent)
{
    UpdateCursor();
    CLinkLabel::enterEvent(pEvent);
}

void CHyperLink1::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton)
    {
        CLinkLabel::mousePressEvent(pEvent);
        return;
    }
    const auto actions = m_state.PressActions();
    if (actions.m_bTakeFocus)
        setFocus(Qt::MouseFocusReason);
    if (actions.m_bOpen)
        OpenTarget();
    m_state.Pressed();
    pEvent->accept();
}

void CHyperLink1::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton)
    {
        CLinkLabel::mouseReleaseEvent(pEvent);
        return;
    }
    if (m_state.ReleaseOpens())
        OpenTarget();
    pEvent->accept();
}

void CHyperLink1::focusInEvent(QFocusEvent* pEvent)
{
    m_state.FocusGained();
    update();
    CLinkLabel::focusInEvent(pEvent);
}

void CHyperLink1::focusOutEvent(QFocusEvent* pEvent)
{
    // Losing the focus ends the hover too; the mouse is held exactly while hovering.
    const bool bWasHovering = m_state.IsHovering();
    m_state.FocusLost();
    if (bWasHovering && QWidget::mouseGrabber() == this)
        releaseMouse();
    update();
    CLinkLabel::focusOutEvent(pEvent);
}

void CHyperLink1::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Space)
    {
        OpenTarget();
        pEvent->accept();
        return;
    }
    CLinkLabel::keyPressEvent(pEvent);
}

void CHyperLink1::UpdateCursor()
{
    if (g_bHandCursorLoaded)
        setCursor(Qt::PointingHandCursor);
}
