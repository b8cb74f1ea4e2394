#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <string>

// What the link labels (CHyperLink1, CLinkStatic) share: a label that carries a target, takes
// its text and its target from each other when attached, measures its text in its link font,
// opens the target through the desktop and draws the text, with no background, in the colour
// that the label's own state picks.
class CLinkLabel : public QLabel
{
    Q_OBJECT

public:
    ~CLinkLabel() override;

    [[nodiscard]] bool IsAttached() const { return m_bAttached; }
    [[nodiscard]] const std::string& Target() const { return m_strTarget; }

    [[nodiscard]] static int OpenWithShell(const std::string& strTarget);

    // The colour the text is drawn in now.
    [[nodiscard]] virtual QColor CurrentColour() const = 0;

protected:
    // Not a tab stop (it takes the focus only when a press gives it), tracks the mouse, and
    // keeps its text at the top left.
    explicit CLinkLabel(QWidget* pParent);

    // Marks the label attached: an empty target becomes the text and an empty text the target;
    // the link font is the label's font, underlined or not.
    void TakeOver(bool bUnderline);
    void StoreTarget(const std::string& strTarget) { m_strTarget = strTarget; }
    void ShowTargetAsToolTip() { setToolTip(QString::fromStdString(m_strTarget)); }

    // The label's font with the underline set or cleared.
    [[nodiscard]] QFont FontUnderlined(bool bUnderline) const;
    // Gives the label a copy of the font as its link font.
    void SetLinkFont(const QFont& font);
    // The text's size in the link font.
    [[nodiscard]] QSize TextSize() const;

    void paintEvent(QPaintEvent* pEvent) override;

private:
    std::string m_strTarget;
    QFont m_linkFont;
    bool m_bAttached = false;
};
