#include "sender/controls/BalloonTip.h"

#include "platform/Message.h"
#include "sender/controls/LinkOpener.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

namespace
{

// Fonts are asked for by their cell height (ascent + descent), as the dialogs were designed;
// Qt sizes fonts by their em, so the em that gives that cell is worked out from the face.
QFont FontWithCellHeight(const std::string& strFace, int nCellHeight)
{
    constexpr int REFERENCE_PIXELS = 100;
    QFont font(QString::fromStdString(strFace));
    font.setPixelSize(REFERENCE_PIXELS);
    const QFontMetricsF metrics(font);
    const double dCell = metrics.ascent() + metrics.descent();
    const int nPixels = dCell > 0 ? qRound(nCellHeight * REFERENCE_PIXELS / dCell) : nCellHeight;
    font.setPixelSize(qMax(1, nPixels));
    return font;
}

} // namespace

CBalloonTip::CBalloonTip() : m_geometry(std::in_place, QRect(0, 0, DEFAULT_WIDTH, DEFAULT_HEIGHT)) {}

CBalloonTip::~CBalloonTip()
{
    if (m_bCreated && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeEventFilter(this);
}

bool CBalloonTip::CreateBalloon(QWidget* pParent)
{
    if (m_bCreated)
        return true;
    m_geometry.emplace(QRect(0, 0, m_nWidth, m_nHeight));
    const QRegion shape = m_geometry->Region();
    if (shape.isEmpty())
    {
        platform::ShowMessage(CLinkOpener::ApplicationTitle(), COMBINE_ERROR);
        return false;
    }

    // A pop-up owned by the dialog: above it, never activated, no frame of the window manager.
    setParent(pParent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    resize(m_nWidth, m_nHeight);
    setMask(shape);
    m_font = FontWithCellHeight(m_strFontFace, m_nFontHeight);

    m_pOwner = pParent;
    m_bCreated = true;
    QCoreApplication::instance()->installEventFilter(this);
    return true;
}

void CBalloonTip::AddControlTip(QWidget* pControl, const std::string& strText, const QColor& colour)
{
    const bool bNew = m_state.FindTip(pControl) == nullptr;
    m_state.AddTip(pControl, pControl, strText, colour);
    if (bNew && pControl != nullptr)
    {
        // The pointer only identifies the control; once it is gone, nothing may match it.
        connect(pControl, &QObject::destroyed, this, [this, pControl] { m_state.ForgetWindow(pControl); });
    }
}

QWidget* CBalloonTip::CurrentControl() const
{
    // The handle is one of the registered controls (or none); ForgetWindow clears it before it dangles.
    return static_cast<QWidget*>(const_cast<void*>(m_state.CurrentControl()));
}

CBalloonTip::ETextLayout CBalloonTip::TextLayout() const
{
    return LayoutIn(QString::fromStdString(m_state.CurrentText()), m_geometry->TextRect().ToRect().width());
}

QFontMetrics CBalloonTip::TextMetrics() const
{
    return QFontMetrics(m_font, this);
}

CBalloonTip::ETextLayout CBalloonTip::LayoutIn(const QString& strText, int nWidth) const
{
    return TextMetrics().horizontalAdvance(strText) < nWidth ? ETextLayout::SingleLine : ETextLayout::Wrapped;
}

int CBalloonTip::DrawFlags(ETextLayout eLayout)
{
    return eLayout == ETextLayout::SingleLine ? Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine
                                              : Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
}

bool CBalloonTip::Holds(const QString& strText, const QRect& rcText) const
{
    if (strText.isEmpty())
        return true;
    // The metrics lay a text out in a rectangle exactly as the painter does: the same line
    // breaks, line heights and alignment.
    const QRect rcLaidOut =
        TextMetrics().boundingRect(rcText, DrawFlags(LayoutIn(strText, rcText.width())), strText);
    return rcText.contains(rcLaidOut);
}

QSize CBalloonTip::SizeFor(const std::string& strText) const
{
    const QString strShown = QString::fromStdString(strText);
    return CBalloonGeometry::SizeToHold(QSize(m_nWidth, m_nHeight),
                                        [&](const QRect& rcText) { return Holds(strShown, rcText); });
}

void CBalloonTip::RelayEvent(QObject* pReceiver, QEvent* pEvent)
{
    switch (pEvent->type())
    {
    case QEvent::KeyPress:
        if (m_state.KeyOrButton(isVisible()) == CBalloonTipState::EAction::Hide)
            hide();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    {
        const auto button = static_cast<QMouseEvent*>(pEvent)->button();
        if ((button == Qt::LeftButton || button == Qt::RightButton) &&
            m_state.KeyOrButton(isVisible()) == CBalloonTipState::EAction::Hide)
            hide();
        break;
    }
    case QEvent::MouseMove:
    {
        const QPoint ptGlobal = static_cast<QMouseEvent*>(pEvent)->globalPosition().toPoint();
        const bool bFocused = QApplication::activeWindow() != nullptr;
        const QWidget* pUnder = WindowUnderMouse(ptGlobal);
        switch (m_state.MouseMove(bFocused, pReceiver, pUnder))
        {
        case CBalloonTipState::EAction::Hide:
            hide();
            break;
        case CBalloonTipState::EAction::Show:
            ShowAt(ptGlobal);
            break;
        case CBalloonTipState::EAction::None:
            break;
        }
        break;
    }
    default:
        break;
    }
}

QWidget* CBalloonTip::WindowUnderMouse(const QPoint& ptGlobal) const
{
    QWidget* pUnder = QApplication::widgetAt(ptGlobal);
    if (pUnder != this || Shape().contains(mapFromGlobal(ptGlobal)))
        return pUnder;
    // Outside its shape the balloon is no window at all: what lies there is the dialog beneath
    // (where the window system's own lookup does not honour the shape).
    if (m_pOwner == nullptr || !m_pOwner->rect().contains(m_pOwner->mapFromGlobal(ptGlobal)))
        return nullptr;
    QWidget* pChild = m_pOwner->childAt(m_pOwner->mapFromGlobal(ptGlobal));
    return pChild != nullptr ? pChild : m_pOwner.data();
}

void CBalloonTip::ShowAt(const QPoint& ptGlobal)
{
    // The balloon stays where the mouse first came onto the control while it is shown.
    setGeometry(QRect(ptGlobal, SizeFor(m_state.CurrentText())));
    raise();
    show();
    update();
}

bool CBalloonTip::IsNewMove(QEvent* pEvent)
{
    if (pEvent->type() != QEvent::MouseMove)
        return true;
    // A move first reaches the innermost widget (or the one holding the mouse); the copies Qt
    // hands on to its parents carry the same time and place and are not moves of their own.
    const auto* pMove = static_cast<QMouseEvent*>(pEvent);
    const SMoveStamp stamp{pMove->timestamp(), pMove->globalPosition().toPoint()};
    if (m_lastMove && *m_lastMove == stamp)
        return false;
    m_lastMove = stamp;
    return true;
}

bool CBalloonTip::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    switch (pEvent->type())
    {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        break;
    default:
        return false;
    }
    if (!m_bCreated || m_pOwner == nullptr || !pWatched->isWidgetType())
        return false;
    auto* pWidget = static_cast<QWidget*>(pWatched);
    // Only the input of the dialog's own window (and of the balloon over it) is the balloon's concern.
    if (pWidget != this && pWidget->window() != m_pOwner->window())
        return false;
    if (IsNewMove(pEvent))
        RelayEvent(pWidget, pEvent);
    return false;
}

void CBalloonTip::paintEvent(QPaintEvent*)
{
    const QRegion shape = m_geometry->Region();
    if (shape.isEmpty())
        return;
    QPainter painter(this);
    for (const QRect& rc : shape)
        painter.fillRect(rc, FillColour());
    for (const QRect& rc : CBalloonGeometry::FrameOf(shape, FRAME_WIDTH, FRAME_HEIGHT))
        painter.fillRect(rc, FrameColour());

    painter.setFont(m_font);
    painter.setPen(m_state.TextColour());
    const QRect rcText = m_geometry->TextRect().ToRect();
    painter.setClipRect(rcText);
    painter.drawText(rcText, DrawFlags(TextLayout()), QString::fromStdString(m_state.CurrentText()));
}

void CBalloonTip::resizeEvent(QResizeEvent* pEvent)
{
    // The shape follows the size.
    m_geometry.emplace(rect());
    if (m_bCreated)
        setMask(m_geometry->Region());
    QWidget::resizeEvent(pEvent);
}
