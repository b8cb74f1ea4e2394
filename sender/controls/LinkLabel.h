#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <string>

// What the link labels (CHyperLink1, CLinkStatic) share: a label that carries a target, is
// attached in the same steps, measures its text in its link font, opens the target through the
// desktop and draws the text, with no background, in the colour that the label's own state
// picks. The underline, the fitting, the cursor and the colours follow each label's own rules.
class CLinkLabel : public QLabel
{
    Q_OBJECT

public:
    ~CLinkLabel() override;

    // Takes the label over as a link: an empty target becomes the text and an empty text the
    // target; the font gets the label's underline; the label is fitted to its text and takes its
    // cursor; the tool tip shows the target.
    void Attach();
    [[nodiscard]] bool IsAttached() const { return m_bAttached; }

    void SetTarget(const std::string& strTarget);
    [[nodiscard]] const std::string& Target() const { return m_strTarget; }

    [[nodiscard]] virtual bool IsUnderlined() const = 0;
    // Resizes the label to its text, where its rules ask for that.
    virtual void FitToText() = 0;

    [[nodiscard]] static int OpenWithShell(const std::string& strTarget);

    // The colour the text is drawn in now.
    [[nodiscard]] virtual QColor CurrentColour() const = 0;

protected:
    // Not a tab stop (it takes the focus only when a press gives it), tracks the mouse, and
    // keeps its text at the top left.
    explicit CLinkLabel(QWidget* pParent);

    // Sets the cursor of an attached label.
    virtual void TakeCursor() = 0;
    // A new target on an attached label: refits it and shows the target as the tool tip.
    virtual void ShowNewTarget();

    // The label's font with the underline set or cleared.
    [[nodiscard]] QFont FontUnderlined(bool bUnderline) const;
    // Gives the label a copy of the font as its link font.
    void SetLinkFont(const QFont& font);
    // The text's size in the link font.
    [[nodiscard]] QSize TextSize() const;

    void paintEvent(QPaintEvent* pEvent) override;

private:
    void ShowTargetAsToolTip() { setToolTip(QString::fromStdString(m_strTarget)); }

    std::string m_strTarget;
    QFont m_linkFont;
    bool m_bAttached = false;
};
