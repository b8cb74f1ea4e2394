#pragma once

#include "sender/controls/LinkLabel.h"

#include <QColor>
#include <string>

// A simpler link label: its own colours, always underlined unless told otherwise, always sized
// to its text, opening its target on a click. Its visited state follows the last attempt.
//
// Use: create it in place of the dialog's label, call Attach() once, then SetTarget() and
// SetUnderlined() as needed.
class CLinkStatic : public CLinkLabel
{
    Q_OBJECT

public:
    enum class EUnderline
    {
        Off,
        On,
    };

    explicit CLinkStatic(QWidget* pParent = nullptr);
    ~CLinkStatic() override;

    void MarkVisited(bool bVisited);
    void SetUnderlined(EUnderline eUnderline);
    void FitToText() override;

    // Opens the target, as a click does.
    void OpenTarget();

    static void ShowOpenError(int nCode);
    void LoadHandCursor();

    [[nodiscard]] QColor LinkColour() const { return m_linkColour; }
    [[nodiscard]] QColor VisitedColour() const { return m_visitedColour; }
    [[nodiscard]] QColor HoverColour() const { return m_hoverColour; }

    // The state the label is drawn from.
    [[nodiscard]] QColor CurrentColour() const override;
    [[nodiscard]] bool IsHovering() const { return m_bHover; }
    [[nodiscard]] bool IsVisited() const { return m_bVisited; }
    [[nodiscard]] bool IsUnderlined() const override { return m_bUnderline; }
    [[nodiscard]] bool IsHandCursorLoaded() const { return m_bHandCursor; }

protected:
    void TakeCursor() override { LoadHandCursor(); }
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;

private:
    void EndHover();

    QColor m_linkColour{0, 0, 238};
    QColor m_visitedColour{85, 26, 139};
    QColor m_hoverColour;
    bool m_bHover = false;
    bool m_bVisited = false;
    bool m_bUnderline = true;
    bool m_bFit = true;
    bool m_bHandCursor = false;
};
