#pragma once

#include "sender/controls/BalloonGeometry.h"
#include "sender/controls/BalloonTipState.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>

// A speech-balloon tip for a dialog's controls: when the mouse moves onto a registered control,
// a yellow balloon with a magenta outline and a pointer on its left appears with its corner at
// the mouse position and shows the control's text in the control's colour. One balloon serves
// every control of the dialog. It keeps its default size unless a text needs more room, and
// then grows in proportion until the whole text fits. It is a shaped pop-up window of its own
// that never takes the focus or the activation from the dialog.
//
// Use: a member of the dialog; once the dialog's controls exist:
//     m_tip.CreateBalloon(this);
//     m_tip.AddControlTip(pControl, "text", QColor(255, 0, 0));
// From then on the balloon watches the input of the dialog's window itself (an application
// event filter stands for the dialog handing each message over before dispatching it).
class CBalloonTip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_WIDTH = 180;
    static constexpr int DEFAULT_HEIGHT = 80;
    static constexpr int DEFAULT_FONT_HEIGHT = 14; // the font's cell height, in pixels
    // The font face; fontconfig maps it to its metric-compatible serif (Liberation Serif).
    static constexpr const char* DEFAULT_FONT_FACE = "Times New Roman";
    static constexpr const char* COMBINE_ERROR = "ERROR in Combining Region";
    // The outline is 2 pixels wide on the sides and 1 high at the top and bottom.
    static constexpr int FRAME_WIDTH = 2;
    static constexpr int FRAME_HEIGHT = 1;

    enum class ETextLayout
    {
        SingleLine, // centred both ways in the text rectangle
        Wrapped,    // broken into lines, each centred, from the rectangle's top
    };

    CBalloonTip();
    ~CBalloonTip() override;

    // Creates the (hidden) window for the dialog pParent: shape, font, and the watch on the
    // dialog's input. False when the shape cannot be built; the dialog then has no tips.
    bool CreateBalloon(QWidget* pParent);
    [[nodiscard]] bool HasWindow() const { return m_bCreated; }

    // Registers the tip of a control; the first registration of a control stays. A colour of 0
    // (black, or an invalid colour) stands for the balloon's current text colour.
    void AddControlTip(QWidget* pControl, const std::string& strText, const QColor& colour);

    // One piece of the dialog's input, before it is dispatched: shows or hides the balloon.
    void RelayEvent(QObject* pReceiver, QEvent* pEvent);

    // The state the balloon is drawn from.
    [[nodiscard]] const CBalloonGeometry& Geometry() const { return *m_geometry; }
    [[nodiscard]] QRegion Shape() const { return m_geometry->Region(); }
    [[nodiscard]] bool IsShowing() const { return m_state.IsShowing(); }
    [[nodiscard]] QWidget* CurrentControl() const;
    [[nodiscard]] const std::string& CurrentText() const { return m_state.CurrentText(); }
    [[nodiscard]] QColor TextColour() const { return m_state.TextColour(); }
    [[nodiscard]] const QFont& BalloonFont() const { return m_font; }
    [[nodiscard]] ETextLayout TextLayout() const;
    [[nodiscard]] const CBalloonTipState& State() const { return m_state; }

    [[nodiscard]] static QColor FillColour() { return QColor(255, 255, 0); }
    [[nodiscard]] static QColor FrameColour() { return QColor(255, 0, 255); }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    struct SMoveStamp
    {
        quint64 m_nTimestamp = 0;
        QPoint m_ptGlobal;
        bool operator==(const SMoveStamp&) const = default;
    };

    [[nodiscard]] bool IsNewMove(QEvent* pEvent);
    void ShowAt(const QPoint& ptGlobal);
    // The metrics the text is laid out and painted with.
    [[nodiscard]] QFontMetrics TextMetrics() const;
    [[nodiscard]] ETextLayout LayoutIn(const QString& strText, int nWidth) const;
    [[nodiscard]] static int DrawFlags(ETextLayout eLayout);
    // Whether a text, laid out as it is painted, lies whole in the text rectangle rcText.
    [[nodiscard]] bool Holds(const QString& strText, const QRect& rcText) const;
    // The window's size for a text: the balloon's own size, grown where that cannot hold it.
    [[nodiscard]] QSize SizeFor(const std::string& strText) const;
    [[nodiscard]] QWidget* WindowUnderMouse(const QPoint& ptGlobal) const;

    QPointer<QWidget> m_pOwner;
    bool m_bCreated = false;
    CBalloonTipState m_state;
    std::optional<CBalloonGeometry> m_geometry;
    std::optional<SMoveStamp> m_lastMove;
    QFont m_font;
    int m_nWidth = DEFAULT_WIDTH;
    int m_nHeight = DEFAULT_HEIGHT;
    int m_nFontHeight = DEFAULT_FONT_HEIGHT;
    std::string m_strFontFace = DEFAULT_FONT_FACE;
};
