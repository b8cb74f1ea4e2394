#include "sender/controls/LinkState.h"

bool CLinkState::AlterStyle(std::uint32_t uRemove, std::uint32_t uAdd)
{
    if ((uRemove & uAdd) != 0)
        return false;
    m_uStyle = (m_uStyle & ~uRemove) | uAdd;
    return true;
}

CLinkState::ETint CLinkState::Tint() const
{
    if (m_bHover && (m_uStyle & HOVER_TINT) != 0)
        return ETint::Hover;
    if ((m_uStyle & NO_FOCUS_TINT) == 0 && m_bFocus)
        return ETint::Focus;
    if (m_bVisited)
        return ETint::Visited;
    return ETint::Link;
}

CLinkState::EHoverChange CLinkState::MouseMoved(bool bInside)
{
    // Any move that reaches the control while it does not hover starts hovering: without the
    // grab, moves only arrive from inside.
    if (!m_bHover)
    {
        m_bHover = true;
        return EHoverChange::Entered;
    }
    if (!bInside)
    {
        m_bHover = false;
        return EHoverChange::Left;
    }
    return EHoverChange::None;
}

CLinkState::EHoverChange CLinkState::MouseLeft()
{
    if (!m_bHover)
        return EHoverChange::None;
    m_bHover = false;
    return EHoverChange::Left;
}

CLinkState::SPressActions CLinkState::PressActions() const
{
    return {(m_uStyle & FOCUS_ON_PRESS) != 0, (m_uStyle & OPEN_ON_PRESS) != 0};
}

bool CLinkState::ReleaseOpens() const
{
    return m_bFocus && (m_uStyle & OPEN_ON_PRESS) == 0;
}

void CLinkState::FocusLost()
{
    m_bHover = false;
    m_bFocus = false;
}

void CLinkState::Opened(bool bSucceeded)
{
    // Once visited, a link stays visited.
    if (bSucceeded)
        m_bVisited = true;
}
