#pragma once

#include "sender/app/DialogUnits.h"
#include "sender/store/AddressBook.h"

#include <QObject>
#include <vector>

class QComboBox;
class QDialog;
class QLineEdit;
class QListWidget;
class QToolButton;

// The main dialog's recipients of one fax: a small list under the recipient box with an Add
// (+) and a Remove (-) button beside it. The recipient and fax number boxes show and edit the
// list's current entry, as they did the one recipient before; Add starts a new entry and
// empties the boxes for it, Remove drops the current one. With one entry the dialog sends as
// it always has, with several it sends the same pages to each.
class CRecipientList : public QObject
{
    Q_OBJECT

public:
    // Places the list under pRecipient, down to the fax number's label, in the dialog's units.
    CRecipientList(QDialog& dialog, QComboBox* pRecipient, QLineEdit* pFaxNumber,
                   const SDialogBaseUnits& units);

    int Count() const { return static_cast<int>(m_aEntries.size()); }
    int Current() const;
    // Every entry as typed, the current one as the boxes show it.
    const std::vector<SAddressEntry>& Entries() const { return m_aEntries; }
    // Makes entry nIndex the current one: the boxes show it.
    void Choose(int nIndex);
    // Keeps the entries whose abKeep is true (the recipients not reached), in their order; the
    // first of them becomes the current one. Nothing kept leaves one empty entry.
    void Keep(const std::vector<bool>& abKeep);

    QListWidget* List() const { return m_list; }
    QToolButton* AddButton() const { return m_buttonAdd; }
    QToolButton* RemoveButton() const { return m_buttonRemove; }

private:
    void OnAdd();
    void OnRemove();
    void OnCurrentRowChanged(int nRow);
    // The boxes were edited: the current entry takes their texts.
    void OnBoxesEdited();
    void ShowEntry(int nRow);
    void Refill(int nCurrent);

    QComboBox* m_comboRecipient;
    QLineEdit* m_editFaxNumber;
    QListWidget* m_list = nullptr;
    QToolButton* m_buttonAdd = nullptr;
    QToolButton* m_buttonRemove = nullptr;
    std::vector<SAddressEntry> m_aEntries;
    // Set while the boxes are filled from an entry, so that this is no edit.
    bool m_bFilling = false;
};
