#pragma once

#include "sender/send/SendCheck.h"

#include <QDialog>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QListWidget;
class QPushButton;

namespace platform
{
class CCancelSignal;
}

// The list of a check before sending, one line each, marked as what will work or what will not,
// and OK, which closes it.
class CSendCheckBox : public QDialog
{
    Q_OBJECT

public:
    CSendCheckBox(const std::vector<SCheckLine>& aLines, QWidget* pParent = nullptr);

    QListWidget* List() const { return m_listLines; }
    QLabel* Summary() const { return m_labelSummary; }

private:
    QLabel* m_labelSummary = nullptr;
    QListWidget* m_listLines = nullptr;
};

// The main dialog's Check: the settings as a send reads them, the password from the keyring or
// the user (asked as at Send; a user who cancels gets no check), the check on a worker thread
// while pWindow waits with pCheck reading "Wait..." (pCancel and Escape raise cancel), and its list
// in a CSendCheckBox; with a message log, the list goes there as one message. What becomes of
// the password follows the sign-in, as after a send.
void RunSendCheck(QWidget* pWindow, QPushButton* pCheck, QAbstractButton* pCancel,
                  platform::CCancelSignal& cancel, std::vector<SCheckRecipient> aRecipients,
                  std::optional<SCoverRequest> cover);

// The check's list as one text, a line each, "OK: " or "NOT OK: " before it.
std::string CheckListText(const std::vector<SCheckLine>& aLines);
