#include "sender/controls/TintedStatic.h"

#include "sender/controls/LinkOpener.h"

#include <QFontDatabase>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionGroupBox>

CTintedStatic::CTintedStatic(QWidget* pParent, EKind eKind)
    : QLabel(pParent), m_eKind(eKind), m_textColour(palette().color(QPalette::WindowText)),
      m_font(QFontDatabase::systemFont(QFontDatabase::GeneralFont))
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

CTintedStatic::~CTintedStatic() = default;

void CTintedStatic::SetTextTint(const QColor& colour)
{
    m_textColour = colour;
    repaint();
}

void CTintedStatic::SetBackTint(const QColor& colour)
{
    m_background = QBrush(colour);
}

QColor CTintedStatic::BackTint() const
{
    return m_background.style() != Qt::NoBrush ? m_background.color() : palette().color(QPalette::Window);
}

void CTintedStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(m_font);

    if (m_eKind == EKind::GroupBox)
    {
        QStyleOptionGroupBox option;
        option.initFrom(this);
        option.fontMetrics = QFontMetrics(m_font);
        option.text = text();
        option.textColor = m_textColour;
        // Some styles take the title's colour from the palette rather than from textColor.
        option.palette.setColor(QPalette::WindowText, m_textColour);
        option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        option.lineWidth = 1;
        option.midLineWidth = 0;
        option.features = QStyleOptionFrame::None;
        // The title is drawn on the background, like a label's text.
        const QRect rcLabel =
            style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
        if (m_background.style() != Qt::NoBrush)
            painter.fillRect(rcLabel, m_background);
        style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
        return;
    }

    if (m_background.style() != Qt::NoBrush)
        painter.fillRect(contentsRect(), m_background);
    drawFrame(&painter);
    const QPixmap picture = pixmap();
    if (!picture.isNull())
    {
        style()->drawItemPixmap(&painter, contentsRect(), static_cast<int>(alignment()), picture);
        return;
    }
    painter.setPen(m_textColour);
    int nFlags = static_cast<int>(alignment());
    if (wordWrap())
        nFlags |= Qt::TextWordWrap;
    painter.drawText(contentsRect(), nFlags, text());
}

void CTintedStatic::mousePressEvent(QMouseEvent* pEvent)
{
    // A label whose text is openable opens it; an empty one has nothing to hand over.
    const std::string strText = text().toStdString();
    if (!strText.empty())
        (void)CLinkOpener::Open(strText, CLinkOpener::EFallback::None);
    QLabel::mousePressEvent(pEvent);
}
