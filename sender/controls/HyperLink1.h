#pragma once

#include "sender/controls/LinkLabel.h"
#include "sender/controls/LinkState.h"

#include <QColor>
#include <QFont>
#include <cstdint>
#include <string>

// A label that is a link: drawn in the link colours shared by all such labels, it opens its
// target (a URL or a "mailto: " address) through the desktop on a click or the space bar, shows
// the target as its tool tip, shows a pointing hand, and sizes itself to its text.
//
// Use: create it in place of the dialog's label (text, geometry and font as the dialog table has
// them), call Attach() once, then SetTarget() and AlterLinkStyle() as needed:
//     auto* pLink = new CHyperLink1(pDialog);
//     pLink->setText("..."); pLink->setGeometry(...); pLink->Attach();
//     pLink->SetTarget("https://..."); pLink->AlterLinkStyle(0, CHyperLink1::LinkOpenOnPress,
//     CHyperLink1::EApply::Now);
class CHyperLink1 : public CLinkLabel
{
    Q_OBJECT

public:
    static constexpr std::uint32_t LinkUnderline = CLinkState::UNDERLINE;
    static constexpr std::uint32_t LinkHoverTint = CLinkState::HOVER_TINT;
    static constexpr std::uint32_t LinkFitText = CLinkState::FIT_TEXT;
    static constexpr std::uint32_t LinkOpenOnPress = CLinkState::OPEN_ON_PRESS;
    static constexpr std::uint32_t LinkFocusOnPress = CLinkState::FOCUS_ON_PRESS;
    static constexpr std::uint32_t LinkKeepCursor = CLinkState::KEEP_CURSOR;
    static constexpr std::uint32_t LinkNoFocusTint = CLinkState::NO_FOCUS_TINT;

    enum class EApply
    {
        Later, // only store the new style
        Now,   // also rebuild the font, refit and repaint as the change needs
    };

    explicit CHyperLink1(QWidget* pParent = nullptr);
    ~CHyperLink1() override;

    // Removes, then adds style bits. Refuses (false, nothing changed) when a bit is in both.
    bool AlterLinkStyle(std::uint32_t uRemove, std::uint32_t uAdd, EApply eApply);
    [[nodiscard]] std::uint32_t LinkStyle() const { return m_state.Style(); }

    // Underlined with LinkUnderline.
    [[nodiscard]] bool IsUnderlined() const override;
    // Gives the label a copy of the font and fits it to its text.
    void ApplyLinkFont(const QFont& font);
    // Resizes the label to its text (only with LinkFitText), keeping the edge its alignment names.
    void FitToText() override;

    // Opens the target; success marks the link visited, failure beeps and tells the user.
    void OpenTarget();

    // Class-wide operations.
    static void ShowOpenError(int nCode);
    static void LoadHandCursor();
    [[nodiscard]] static bool IsHandCursorLoaded();

    [[nodiscard]] static QColor LinkColour() { return QColor(0, 0, 255); }
    [[nodiscard]] static QColor FocusColour() { return QColor(0, 128, 128); }
    [[nodiscard]] static QColor VisitedColour() { return QColor(128, 0, 128); }
    [[nodiscard]] static QColor HoverColour() { return QColor(255, 0, 0); }

    // The state the label is drawn from.
    [[nodiscard]] QColor CurrentColour() const override;
    [[nodiscard]] bool IsHovering() const { return m_state.IsHovering(); }
    [[nodiscard]] bool HasFocusFlag() const { return m_state.HasFocusFlag(); }
    [[nodiscard]] bool IsVisited() const { return m_state.IsVisited(); }

protected:
    // Loads the hand cursor unless LinkKeepCursor is set.
    void TakeCursor() override;
    void ShowNewTarget() override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void HoverChanged(CLinkState::EHoverChange eChange);
    void UpdateCursor();

    CLinkState m_state;
};
