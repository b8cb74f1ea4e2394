#include "sender/app/RecipientList.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <algorithm>

namespace
{

// Where the list goes, in dialog units: from under the recipient box down to the fax number's
// label, as wide as the box, with room for the two buttons at its right.
constexpr int LIST_LEFT = 122;
constexpr int LIST_RIGHT = 194;
constexpr int LIST_BOTTOM = 57;
constexpr int BUTTON_WIDTH = 14;
constexpr int GAP = 2;

QString EntryText(const SAddressEntry& entry)
{
    if (entry.m_strName.empty() && entry.m_strNumber.empty())
        return CRecipientList::tr("(new recipient)");
    return QString::fromStdString(entry.m_strName) + QStringLiteral("  ") +
           QString::fromStdString(entry.m_strNumber);
}

} // namespace

CRecipientList::CRecipientList(QDialog& dialog, QComboBox* pRecipient, QLineEdit* pFaxNumber,
                               const SDialogBaseUnits& units)
    : m_comboRecipient(pRecipient), m_editFaxNumber(pFaxNumber)
{
    m_list = new QListWidget(&dialog);
    m_list->setObjectName(QStringLiteral("RecipientList"));
    // Two rows show in its height: a long entry is cut short rather than scrolled.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setTextElideMode(Qt::ElideRight);
    m_buttonAdd = new QToolButton(&dialog);
    m_buttonAdd->setObjectName(QStringLiteral("AddRecipient"));
    m_buttonAdd->setText(QStringLiteral("+"));
    m_buttonAdd->setToolTip(tr("Add a recipient: the same pages go to each"));
    m_buttonRemove = new QToolButton(&dialog);
    m_buttonRemove->setObjectName(QStringLiteral("RemoveRecipient"));
    m_buttonRemove->setText(QStringLiteral("-"));
    m_buttonRemove->setToolTip(tr("Remove the chosen recipient"));

    const int nTop = pRecipient->geometry().bottom() + 1 + DialogUnitsToPixelsY(units, GAP);
    const int nBottom = DialogUnitsToPixelsY(units, LIST_BOTTOM);
    const int nLeft = DialogUnitsToPixelsX(units, LIST_LEFT);
    const int nRight = DialogUnitsToPixelsX(units, LIST_RIGHT);
    const int nButton = DialogUnitsToPixelsX(units, BUTTON_WIDTH);
    const int nHeight = std::max(1, nBottom - nTop);
    m_list->setGeometry(nLeft, nTop, nRight - nLeft - nButton - DialogUnitsToPixelsX(units, 1), nHeight);
    m_buttonAdd->setGeometry(nRight - nButton, nTop, nButton, nHeight / 2);
    m_buttonRemove->setGeometry(nRight - nButton, nTop + nHeight / 2, nButton, nHeight - nHeight / 2);
    for (QWidget* pWidget : {static_cast<QWidget*>(m_list), static_cast<QWidget*>(m_buttonAdd),
                             static_cast<QWidget*>(m_buttonRemove)})
    {
        pWidget->setFont(pRecipient->font());
        pWidget->setFocusPolicy(Qt::StrongFocus);
        pWidget->show();
    }
    // In tab order between the recipient box and the fax number, where they stand.
    QWidget::setTabOrder(pRecipient, m_list);
    QWidget::setTabOrder(m_list, m_buttonAdd);
    QWidget::setTabOrder(m_buttonAdd, m_buttonRemove);
    QWidget::setTabOrder(m_buttonRemove, pFaxNumber);

    m_aEntries.push_back(
        SAddressEntry{pRecipient->currentText().toStdString(), pFaxNumber->text().toStdString()});
    Refill(0);
    connect(m_buttonAdd, &QToolButton::clicked, this, &CRecipientList::OnAdd);
    connect(m_buttonRemove, &QToolButton::clicked, this, &CRecipientList::OnRemove);
    connect(m_list, &QListWidget::currentRowChanged, this, &CRecipientList::OnCurrentRowChanged);
    connect(pRecipient, &QComboBox::editTextChanged, this, &CRecipientList::OnBoxesEdited);
    connect(pFaxNumber, &QLineEdit::textChanged, this, &CRecipientList::OnBoxesEdited);
}

int CRecipientList::Current() const
{
    return std::clamp(m_list->currentRow(), 0, Count() - 1);
}

void CRecipientList::Choose(int nIndex)
{
    m_list->setCurrentRow(std::clamp(nIndex, 0, Count() - 1));
}

void CRecipientList::Keep(const std::vector<bool>& abKeep)
{
    std::vector<SAddressEntry> aKept;
    for (std::size_t i = 0; i < m_aEntries.size() && i < abKeep.size(); ++i)
        if (abKeep[i])
            aKept.push_back(m_aEntries[i]);
    if (aKept.empty())
        aKept.emplace_back();
    m_aEntries = std::move(aKept);
    Refill(0);
    ShowEntry(0);
}

void CRecipientList::OnAdd()
{
    // An empty entry is filled first rather than joined by another.
    const auto empty = std::find_if(m_aEntries.begin(), m_aEntries.end(),
                                    [](const SAddressEntry& entry)
                                    { return entry.m_strName.empty() && entry.m_strNumber.empty(); });
    const int nRow = static_cast<int>(empty - m_aEntries.begin());
    if (empty == m_aEntries.end())
        m_aEntries.emplace_back();
    Refill(nRow);
    ShowEntry(nRow);
    m_comboRecipient->setFocus();
}

void CRecipientList::OnRemove()
{
    const int nRow = Current();
    if (Count() == 1)
        m_aEntries.front() = SAddressEntry{};
    else
        m_aEntries.erase(m_aEntries.begin() + nRow);
    const int nNext = std::min(nRow, Count() - 1);
    Refill(nNext);
    ShowEntry(nNext);
}

void CRecipientList::OnCurrentRowChanged(int nRow)
{
    if (nRow >= 0 && nRow < Count() && !m_bFilling)
        ShowEntry(nRow);
}

void CRecipientList::OnBoxesEdited()
{
    if (m_bFilling)
        return;
    const int nRow = Current();
    m_aEntries[static_cast<std::size_t>(nRow)] =
        SAddressEntry{m_comboRecipient->currentText().toStdString(), m_editFaxNumber->text().toStdString()};
    if (QListWidgetItem* pItem = m_list->item(nRow))
        pItem->setText(EntryText(m_aEntries[static_cast<std::size_t>(nRow)]));
}

void CRecipientList::ShowEntry(int nRow)
{
    m_bFilling = true;
    const SAddressEntry& entry = m_aEntries[static_cast<std::size_t>(nRow)];
    m_comboRecipient->setEditText(QString::fromStdString(entry.m_strName));
    m_editFaxNumber->setText(QString::fromStdString(entry.m_strNumber));
    m_bFilling = false;
}

void CRecipientList::Refill(int nCurrent)
{
    m_bFilling = true;
    m_list->clear();
    for (const SAddressEntry& entry : m_aEntries)
        m_list->addItem(EntryText(entry));
    m_list->setCurrentRow(nCurrent);
    m_bFilling = false;
}
