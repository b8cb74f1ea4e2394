#pragma once

#include <QColor>
#include <string>
#include <unordered_map>

// What the balloon tip shows and when, apart from any window: the registered tips, the control
// the balloon is showing for, and the decisions the relayed input leads to. Windows and controls
// are opaque handles here; the widget (CBalloonTip) supplies them and carries out the actions.
class CBalloonTipState
{
public:
    using Handle = const void*;

    struct STip
    {
        Handle m_hWindow = nullptr; // the control's window, taken when the tip is registered
        std::string m_strText;
        QColor m_colour;
    };

    enum class EAction
    {
        None,
        Hide,
        Show, // at the mouse position, with CurrentText() in TextColour()
    };

    // The first registration of a control stays; a colour of 0 (black, or none) stands for
    // the current text colour.
    void AddTip(Handle hControl, Handle hWindow, const std::string& strText, const QColor& colour);
    [[nodiscard]] bool HasTips() const { return !m_tips.empty(); }
    [[nodiscard]] const STip* FindTip(Handle hControl) const;
    // A window that goes away no longer matches any tip.
    void ForgetWindow(Handle hWindow);

    // A key press or a left or right button press: the balloon hides but keeps its control, so
    // that it does not come back until the mouse has been over another window.
    [[nodiscard]] EAction KeyOrButton(bool bVisible) const;

    // A mouse move addressed to hReceiver, with hUnderMouse the window under the mouse.
    // bFocused: a window of this program has the keyboard focus.
    [[nodiscard]] EAction MouseMove(bool bFocused, Handle hReceiver, Handle hUnderMouse);

    [[nodiscard]] bool IsShowing() const { return m_bShowing; }
    [[nodiscard]] Handle CurrentControl() const { return m_hCurrent; }
    [[nodiscard]] const std::string& CurrentText() const { return m_strText; }
    [[nodiscard]] QColor TextColour() const { return m_textColour; }

private:
    std::unordered_map<Handle, STip> m_tips;
    Handle m_hCurrent = nullptr;
    bool m_bShowing = false;
    std::string m_strText;
    QColor m_textColour{0, 0, 0};
};
