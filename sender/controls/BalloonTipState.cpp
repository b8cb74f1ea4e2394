#include "sender/controls/BalloonTipState.h"

void CBalloonTipState::AddTip(Handle hControl, Handle hWindow, const std::string& strText,
                              const QColor& colour)
{
    if (m_tips.contains(hControl))
        return;
    const bool bDefault = !colour.isValid() || (colour.rgb() & 0xFFFFFF) == 0;
    m_tips.emplace(hControl, STip{hWindow, strText, bDefault ? m_textColour : colour});
}

const CBalloonTipState::STip* CBalloonTipState::FindTip(Handle hControl) const
{
    const auto it = m_tips.find(hControl);
    return it == m_tips.end() ? nullptr : &it->second;
}

void CBalloonTipState::ForgetWindow(Handle hWindow)
{
    for (auto& [hControl, tip] : m_tips)
    {
        if (tip.m_hWindow == hWindow)
            tip.m_hWindow = nullptr;
    }
    if (m_hCurrent == hWindow)
        m_hCurrent = nullptr;
}

CBalloonTipState::EAction CBalloonTipState::KeyOrButton(bool bVisible) const
{
    return bVisible ? EAction::Hide : EAction::None;
}

CBalloonTipState::EAction CBalloonTipState::MouseMove(bool bFocused, Handle hReceiver, Handle hUnderMouse)
{
    if (!bFocused || m_tips.empty())
        return EAction::None;
    if (m_bShowing)
    {
        if (hUnderMouse == m_hCurrent)
            return EAction::None;
        m_bShowing = false;
        return EAction::Hide;
    }
    if (hReceiver == nullptr)
        return EAction::None;
    for (const auto& [hControl, tip] : m_tips)
    {
        if (tip.m_hWindow != hReceiver)
            continue;
        m_bShowing = true;
        m_textColour = tip.m_colour;
        m_strText = tip.m_strText;
        m_hCurrent = tip.m_hWindow;
        return EAction::Show;
    }
    return EAction::None;
}
