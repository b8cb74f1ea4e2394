#include "sender/app/DialogBuilder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

using namespace resources;

namespace
{

// Where the dialog's face is not installed, its metric-compatible stand-in keeps the
// dialog's proportions; a CJK serif then draws the Chinese characters that both lack.
constexpr const char* TIMES_FACE = "Times New Roman";
constexpr const char* TIMES_METRIC_FACE = "Liberation Serif";
constexpr const char* CJK_FALLBACK_FACE = "Noto Serif CJK SC";
// A trackbar's range until its dialog sets one.
constexpr int TRACKBAR_DEFAULT_MAX = 100;
constexpr const char* CONTROL_ID_PROPERTY = "controlId";

bool Has(const SControlTemplate& control, std::uint32_t nStyle)
{
    return (control.m_nStyle & nStyle) != 0;
}

} // namespace

QFont CDialogBuilder::DialogFont(const SDialogTemplate& dialog)
{
    QFont font;
    QStringList families{QString::fromUtf8(dialog.m_pszFontFace)};
    if (families.front() == QLatin1String(TIMES_FACE))
        families << QString::fromLatin1(TIMES_METRIC_FACE);
    families << QString::fromLatin1(CJK_FALLBACK_FACE);
    font.setFamilies(families);
    font.setPointSize(dialog.m_nFontPoints);
    return font;
}

SDialogBaseUnits CDialogBuilder::BaseUnitsOf(const QFont& font)
{
    const QFontMetrics metrics(font);
    return BaseUnitsFromFont(metrics.horizontalAdvance(QString::fromLatin1(DIALOG_UNIT_ALPHABET)),
                             metrics.height());
}

QString CDialogBuilder::ControlName(int nId)
{
    return QStringLiteral("control%1").arg(nId);
}

QWidget* CDialogBuilder::Control(const QWidget& dialog, int nId)
{
    return dialog.findChild<QWidget*>(ControlName(nId), Qt::FindDirectChildrenOnly);
}

QWidget* CDialogBuilder::CreateStandardControl(const SControlTemplate& control, QWidget* pParent)
{
    const QString strText = QString::fromUtf8(control.m_pszText);
    switch (control.m_eKind)
    {
    case EControlKind::PushButton:
    case EControlKind::DefaultPushButton:
    {
        auto* pButton = new QPushButton(strText, pParent);
        pButton->setDefault(control.m_eKind == EControlKind::DefaultPushButton);
        return pButton;
    }
    case EControlKind::Static:
    {
        auto* pLabel = new QLabel(strText, pParent);
        // A static control wraps at word breaks and starts at its top.
        pLabel->setWordWrap(true);
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pLabel->setTextFormat(Qt::PlainText);
        if (Has(control, STYLE_SUNKEN))
            pLabel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        else if (Has(control, STYLE_BORDER))
            pLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
        return pLabel;
    }
    case EControlKind::GroupBox:
        return new QGroupBox(strText, pParent);
    case EControlKind::CheckBox:
        return new QCheckBox(strText, pParent);
    case EControlKind::Edit:
    {
        if (Has(control, STYLE_MULTILINE))
        {
            // Several lines: Tab leaves the field, as it does every other, and Return starts a line.
            auto* pText = new QPlainTextEdit(strText, pParent);
            pText->setTabChangesFocus(true);
            pText->setFrameShape(Has(control, STYLE_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
            pText->setVerticalScrollBarPolicy(Has(control, STYLE_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                          : Qt::ScrollBarAlwaysOff);
            return pText;
        }
        auto* pEdit = new QLineEdit(strText, pParent);
        pEdit->setFrame(Has(control, STYLE_BORDER));
        if (Has(control, STYLE_PASSWORD))
            pEdit->setEchoMode(QLineEdit::Password);
        return pEdit;
    }
    case EControlKind::ComboBox:
    {
        auto* pCombo = new QComboBox(pParent);
        // The list is filled by the dialog; typing adds nothing to it and completes nothing.
        // Only a box with an edit field has a completer to remove: Qt warns on any other.
        pCombo->setInsertPolicy(QComboBox::NoInsert);
        if (Has(control, STYLE_DROPDOWN))
        {
            pCombo->setEditable(true);
            pCombo->setCompleter(nullptr);
        }
        return pCombo;
    }
    case EControlKind::ListBox:
    {
        auto* pList = new QListWidget(pParent);
        pList->setSelectionMode(QAbstractItemView::SingleSelection);
        pList->setFrameShape(Has(control, STYLE_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
        pList->setVerticalScrollBarPolicy(Has(control, STYLE_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                      : Qt::ScrollBarAlwaysOff);
        pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        return pList;
    }
    case EControlKind::Trackbar:
    {
        const bool bVertical = Has(control, STYLE_VERTICAL);
        auto* pSlider = new QSlider(bVertical ? Qt::Vertical : Qt::Horizontal, pParent);
        pSlider->setRange(0, TRACKBAR_DEFAULT_MAX);
        pSlider->setTickPosition(Has(control, STYLE_NO_TICKS) ? QSlider::NoTicks : QSlider::TicksBothSides);
        if (bVertical)
        {
            // An upright trackbar has its minimum at the top, and the down key moves down.
            pSlider->setInvertedAppearance(true);
            pSlider->setInvertedControls(true);
        }
        return pSlider;
    }
    }
    return nullptr;
}

SDialogBaseUnits CDialogBuilder::Build(QDialog& dialog, const SDialogTemplate& table,
                                       const ControlFactory& factory)
{
    const QFont font = DialogFont(table);
    dialog.setFont(font);
    const SDialogBaseUnits units = BaseUnitsOf(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (table.m_nStyle & DIALOG_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (table.m_nStyle & DIALOG_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (table.m_nStyle & DIALOG_MINIMIZE_BOX)
        flags |= Qt::WindowMinimizeButtonHint;
    dialog.setWindowFlags(flags);
    dialog.setWindowTitle(QString::fromUtf8(table.m_pszCaption));
    dialog.setFixedSize(DialogUnitsToPixelsX(units, table.m_nWidth),
                        DialogUnitsToPixelsY(units, table.m_nHeight));

    for (const auto& control : table.m_aControls)
    {
        // A dialog's own widget brings its own text and focus behaviour.
        QWidget* pWidget = factory ? factory(control, &dialog) : nullptr;
        if (pWidget == nullptr)
        {
            pWidget = CreateStandardControl(control, &dialog);
            pWidget->setFocusPolicy(Has(control, STYLE_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
        }
        pWidget->setObjectName(ControlName(control.m_nId));
        pWidget->setProperty(CONTROL_ID_PROPERTY, control.m_nId);

        const SPixelRect rect =
            DialogRectToPixels(units, control.m_nX, control.m_nY, control.m_nWidth, control.m_nHeight);
        if (auto* pCombo = qobject_cast<QComboBox*>(pWidget))
        {
            // A combo box's height in the table includes its drop-down list; the box
            // itself is as high as its edit field.
            const int nBoxHeight = pCombo->sizeHint().height();
            pCombo->setGeometry(rect.m_nX, rect.m_nY, rect.m_nWidth, nBoxHeight);
            const int nItemHeight = std::max(1, QFontMetrics(font).height());
            pCombo->setMaxVisibleItems(std::max(1, (rect.m_nHeight - nBoxHeight) / nItemHeight));
        }
        else
            pWidget->setGeometry(rect.m_nX, rect.m_nY, rect.m_nWidth, rect.m_nHeight);
        // Widgets are created in table order, which is the tab order as well.
        pWidget->show();
    }
    return units;
}
