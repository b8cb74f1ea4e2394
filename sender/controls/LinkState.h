#pragma once

#include <cstdint>

// The flags of a hyperlink label and the rules that move them, apart from any window, so that
// the behaviour can be checked event by event. The widget (CHyperLink1) turns Qt's events into
// these calls and carries out what they return: take or release the mouse, open the target.
class CLinkState
{
public:
    // Style bits (the default is Underline | FitText | FocusOnPress).
    static constexpr std::uint32_t UNDERLINE = 0x01;      // the link font is underlined
    static constexpr std::uint32_t HOVER_TINT = 0x02;     // the hover colour shows while hovering
    static constexpr std::uint32_t FIT_TEXT = 0x04;       // the control is resized to its text
    static constexpr std::uint32_t OPEN_ON_PRESS = 0x08;  // the target opens on the press, else the release
    static constexpr std::uint32_t FOCUS_ON_PRESS = 0x10; // a press takes the keyboard focus
    static constexpr std::uint32_t KEEP_CURSOR = 0x20;    // the hand cursor is not loaded
    static constexpr std::uint32_t NO_FOCUS_TINT = 0x40;  // the focus colour is never used
    static constexpr std::uint32_t DEFAULT_STYLE = UNDERLINE | FIT_TEXT | FOCUS_ON_PRESS;

    // Which of the class-wide colours the text is drawn in.
    enum class ETint
    {
        Link,
        Focus,
        Visited,
        Hover,
    };

    enum class EHoverChange
    {
        None,
        Entered, // the hover flag was set: repaint and take the mouse
        Left,    // the hover flag was cleared: release the mouse and repaint
    };

    struct SPressActions
    {
        bool m_bTakeFocus = false;
        bool m_bOpen = false;
    };

    [[nodiscard]] std::uint32_t Style() const { return m_uStyle; }
    [[nodiscard]] bool IsHovering() const { return m_bHover; }
    [[nodiscard]] bool HasFocusFlag() const { return m_bFocus; }
    [[nodiscard]] bool IsVisited() const { return m_bVisited; }

    // Removes, then adds style bits; refuses (false, style unchanged) when a bit is in both.
    [[nodiscard]] bool AlterStyle(std::uint32_t uRemove, std::uint32_t uAdd);
    // Clears bits outside AlterStyle (a control without a font cannot fit to its text).
    void ClearStyle(std::uint32_t uBits) { m_uStyle &= ~uBits; }

    [[nodiscard]] ETint Tint() const;

    // A mouse move seen by the control; bInside: the point lies in its client area.
    [[nodiscard]] EHoverChange MouseMoved(bool bInside);
    // The mouse left without a move reaching the control (the grab was lost).
    [[nodiscard]] EHoverChange MouseLeft();

    // Left button press: what to do first; the focus flag is set after those actions.
    [[nodiscard]] SPressActions PressActions() const;
    void Pressed() { m_bFocus = true; }
    // Left button release: whether the target opens now.
    [[nodiscard]] bool ReleaseOpens() const;

    void FocusGained() { m_bFocus = true; }
    void FocusLost();
    void Opened(bool bSucceeded);

private:
    bool m_bFocus = false;
    bool m_bHover = false;
    bool m_bVisited = false;
    std::uint32_t m_uStyle = DEFAULT_STYLE;
};
