#pragma once

#include "platform/CancelSignal.h"
#include "sender/store/ProviderSettings.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;

// The settings dialog (dialog 129): SMTP server, e-mail address and user name, and beside
// them how the mail server is reached (security, login, password), the gateway (its
// address template and query host), the cover page (the sender's details and the template) and, on its
// right, the incoming mail where the gateway's status notices are read (server, security, login,
// password, folder, and whether to read them at all). It shows the
// settings files' values; on OK its strings hold the texts as typed, after the gateway fields have passed
// their checks.
class CSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CSettingsDialog(QWidget* pParent = nullptr);
    ~CSettingsDialog() override;

    std::string m_strEmail;
    std::string m_strSmtpServer;
    std::string m_strUserName;
    SProviderSettings m_provider;
    // The password as typed; empty: keep the one the keyring holds. Wiped with the dialog.
    std::string m_strPassword;
    // OK keeps a typed incoming mail password in the keyring itself (under the incoming server
    // and login); one shared with the SMTP account is the password above.

    // What the initialisation returned: false when the settings file was missing or
    // damaged, so that its three boxes stay empty.
    bool InitCompleted() const { return m_bInitCompleted; }

public slots:
    void accept() override;
    // Cancel and Escape close the dialog, or while Test runs end the test instead.
    void reject() override;
    // Test: connects, secures, signs in and quits with the values as typed, and says how it went.
    void OnTest();

private:
    bool OnInitDialog();
    // The fields beyond the three into m_provider and m_strPassword; false, with the user
    // told why and the field focused, when a gateway field cannot be used.
    bool TakeProviderFields();
    // The default template, then the user's; the one the settings name is chosen (listed even
    // when its file has gone, so that the choice does not change behind the user's back).
    void FillCoverTemplates();
    // The incoming mail password field: off, and naming the SMTP password, while the incoming
    // server and login are those of the SMTP account.
    void ShowIncomingPasswordShared();
    // Keeps a typed incoming mail password; false, with the user told why, when it cannot.
    bool KeepIncomingPassword();

    QLineEdit* m_editEmail = nullptr;
    QLineEdit* m_editSmtpServer = nullptr;
    QLineEdit* m_editUserName = nullptr;
    QComboBox* m_comboSecurity = nullptr;
    QLineEdit* m_editLogin = nullptr;
    QLineEdit* m_editPassword = nullptr;
    QLineEdit* m_editGatewayAddress = nullptr;
    QLineEdit* m_editQueryHost = nullptr;
    QLineEdit* m_editSenderName = nullptr;
    QLineEdit* m_editSenderCompany = nullptr;
    QLineEdit* m_editSenderVoice = nullptr;
    QLineEdit* m_editSenderFax = nullptr;
    QLineEdit* m_editSenderEmail = nullptr;
    QComboBox* m_comboCoverTemplate = nullptr;
    QCheckBox* m_buttonIncomingWatch = nullptr;
    QLineEdit* m_editIncomingServer = nullptr;
    QComboBox* m_comboIncomingSecurity = nullptr;
    QLineEdit* m_editIncomingLogin = nullptr;
    QLineEdit* m_editIncomingPassword = nullptr;
    QLineEdit* m_editIncomingFolder = nullptr;
    // The incoming mail account's keyring entry as the dialog found it: when OK changes the
    // account, its password goes, as the SMTP one does.
    std::string m_strIncomingServerAtStart;
    std::string m_strIncomingLoginAtStart;
    bool m_bIncomingSharedAtStart = false;
    bool m_bInitCompleted = false;
    bool m_bTesting = false;
    platform::CCancelSignal m_cancel;
};
