#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QLabel>

// A label (or a group box's frame and title) whose text colour and background can be set. It
// draws its text in the desktop's general GUI font whatever font the dialog gives it. A click on
// it hands its text to the desktop's opener; nothing is reported when that opens nothing.
//
// Use: create it in place of the dialog's label or group box, then SetTextTint()/SetBackTint().
// For a picture (the page preview), subclass it and paint after CTintedStatic::paintEvent, or
// give it a pixmap with setPixmap().
class CTintedStatic : public QLabel
{
    Q_OBJECT

public:
    enum class EKind
    {
        Label,    // a static text (or picture) control: background, frame and text
        GroupBox, // a group box: the frame line with its title
    };

    explicit CTintedStatic(QWidget* pParent = nullptr, EKind eKind = EKind::Label);
    ~CTintedStatic() override;

    // Sets the text colour and repaints at once.
    void SetTextTint(const QColor& colour);
    // Sets the background; it shows at the next repaint.
    void SetBackTint(const QColor& colour);

    [[nodiscard]] EKind Kind() const { return m_eKind; }
    [[nodiscard]] QColor TextTint() const { return m_textColour; }
    // The background colour; until one is set, the dialog's own shows through.
    [[nodiscard]] QColor BackTint() const;
    [[nodiscard]] const QFont& TintFont() const { return m_font; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    EKind m_eKind;
    QColor m_textColour;
    // Until a tint is set the label paints no background, so that it looks like the dialog's
    // face wherever it stands, also inside a group box that styles shade.
    QBrush m_background{Qt::NoBrush};
    QFont m_font;
};
