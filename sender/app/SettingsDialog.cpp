#include "sender/app/SettingsDialog.h"

#include "platform/Message.h"
#include "platform/Text.h"
#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/MailPassword.h"
#include "sender/app/NoticeCheck.h"
#include "sender/app/SendRunner.h"
#include "sender/common/Branding.h"
#include "sender/cover/CoverTemplates.h"
#include "sender/mail/MailSyntax.h"
#include "sender/mail/ServerAddress.h"
#include "sender/send/GatewayTemplate.h"
#include "sender/send/SendOperation.h"
#include "sender/store/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <utility>

using namespace resources;

namespace
{

constexpr const char* TEXT_BAD_QUERY_HOST =
    "Sorry, the query host must be a host name or address, with :port if not 80";
constexpr const char* TEXT_BAD_LOGIN =
    "Sorry, the login may not hold line breaks or other control characters";
constexpr const char* TEXT_BAD_SENDER =
    "Sorry, your details for the cover page may not hold line breaks or other control characters";
constexpr const char* TEXT_DEFAULT_TEMPLATE = "Default (%1)";
constexpr const char* TEXT_MISSING_TEMPLATE = "%1 (not found)";
constexpr const char* TEXT_BAD_INCOMING =
    "Sorry, the incoming mail server must be a host name or address, with :port if not the usual one";
constexpr const char* TEXT_INCOMING_NEEDS_SERVER =
    "Sorry, to read the status notices Sendwell needs the incoming mail server";
constexpr const char* TEXT_BAD_INCOMING_TEXT =
    "Sorry, the incoming mail login and folder may not hold line breaks or other control characters";
constexpr const char* TEXT_SHARED_PASSWORD = "the password above";
constexpr const char* TEXT_LOGIN_NEEDS_TLS =
    "Sorry, a login is only sent over a secure connection: choose the security STARTTLS or TLS, or "
    "leave the login empty";

// Config's Test gives up on a silent server sooner than a send does.
SSmtpTimeouts TestTimeouts()
{
    using namespace std::chrono_literals;
    SSmtpTimeouts timeouts;
    timeouts.m_durConnect = timeouts.m_durGreeting = timeouts.m_durCommand = 30s;
    timeouts.m_durTlsHandshake = 30s;
    return timeouts;
}

} // namespace

CSettingsDialog::CSettingsDialog(QWidget* pParent) : QDialog(pParent)
{
    CDialogBuilder::Build(*this, SETTINGS_DIALOG);
    m_editEmail = CDialogBuilder::Control<QLineEdit>(*this, IDC_EMAIL);
    m_editSmtpServer = CDialogBuilder::Control<QLineEdit>(*this, IDC_SMTP_SERVER);
    m_editUserName = CDialogBuilder::Control<QLineEdit>(*this, IDC_USER_NAME);
    m_comboSecurity = CDialogBuilder::Control<QComboBox>(*this, IDC_SECURITY);
    m_editLogin = CDialogBuilder::Control<QLineEdit>(*this, IDC_LOGIN);
    m_editPassword = CDialogBuilder::Control<QLineEdit>(*this, IDC_PASSWORD);
    m_editGatewayAddress = CDialogBuilder::Control<QLineEdit>(*this, IDC_GATEWAY_ADDRESS);
    m_editQueryHost = CDialogBuilder::Control<QLineEdit>(*this, IDC_QUERY_HOST);
    m_editSenderName = CDialogBuilder::Control<QLineEdit>(*this, IDC_SENDER_NAME);
    m_editSenderCompany = CDialogBuilder::Control<QLineEdit>(*this, IDC_SENDER_COMPANY);
    m_editSenderVoice = CDialogBuilder::Control<QLineEdit>(*this, IDC_SENDER_VOICE);
    m_editSenderFax = CDialogBuilder::Control<QLineEdit>(*this, IDC_SENDER_FAX);
    m_editSenderEmail = CDialogBuilder::Control<QLineEdit>(*this, IDC_SENDER_EMAIL);
    m_comboCoverTemplate = CDialogBuilder::Control<QComboBox>(*this, IDC_COVER_TEMPLATE);
    m_buttonIncomingWatch = CDialogBuilder::Control<QCheckBox>(*this, IDC_INCOMING_WATCH);
    m_editIncomingServer = CDialogBuilder::Control<QLineEdit>(*this, IDC_INCOMING_SERVER);
    m_comboIncomingSecurity = CDialogBuilder::Control<QComboBox>(*this, IDC_INCOMING_SECURITY);
    m_editIncomingLogin = CDialogBuilder::Control<QLineEdit>(*this, IDC_INCOMING_LOGIN);
    m_editIncomingPassword = CDialogBuilder::Control<QLineEdit>(*this, IDC_INCOMING_PASSWORD);
    m_editIncomingFolder = CDialogBuilder::Control<QLineEdit>(*this, IDC_INCOMING_FOLDER);
    for (EIncomingSecurity eSecurity : {EIncomingSecurity::Tls, EIncomingSecurity::StartTls})
        m_comboIncomingSecurity->addItem(IncomingSecurityName(eSecurity), static_cast<int>(eSecurity));
    m_editIncomingFolder->setPlaceholderText(QString::fromLatin1(DEFAULT_INCOMING_FOLDER));
    // An empty incoming login is the SMTP one: the field shows which.
    connect(m_editLogin, &QLineEdit::textChanged, m_editIncomingLogin, &QLineEdit::setPlaceholderText);
    for (QLineEdit* pEdit : {m_editSmtpServer, m_editLogin, m_editIncomingServer, m_editIncomingLogin})
        connect(pEdit, &QLineEdit::textChanged, this, &CSettingsDialog::ShowIncomingPasswordShared);
    // An empty name or address on the cover is the one above: the field shows which.
    connect(m_editUserName, &QLineEdit::textChanged, m_editSenderName, &QLineEdit::setPlaceholderText);
    connect(m_editEmail, &QLineEdit::textChanged, m_editSenderEmail, &QLineEdit::setPlaceholderText);
    for (ESmtpSecurity eSecurity : {ESmtpSecurity::StartTls, ESmtpSecurity::Tls, ESmtpSecurity::None})
        m_comboSecurity->addItem(SmtpSecurityName(eSecurity), static_cast<int>(eSecurity));
    // Qt draws a plain tip on one line as wide as its text, over the fields below; a rich-text
    // tip wraps. Escaped, so that "<name>" shows as written.
    for (const SControlTip& tip : SETTINGS_DIALOG_TIPS)
        CDialogBuilder::Control(*this, tip.m_nId)
            ->setToolTip(QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(tip.m_pszText).toHtmlEscaped()));
    connect(CDialogBuilder::Control<QPushButton>(*this, IDOK), &QPushButton::clicked, this,
            &CSettingsDialog::accept);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), &QPushButton::clicked, this,
            &CSettingsDialog::reject);
    connect(CDialogBuilder::Control<QPushButton>(*this, IDC_TEST), &QPushButton::clicked, this,
            &CSettingsDialog::OnTest);
    m_bInitCompleted = OnInitDialog();
}

CSettingsDialog::~CSettingsDialog()
{
    platform::WipeSecret(m_strPassword);
    m_editIncomingPassword->clear();
}

bool CSettingsDialog::OnInitDialog()
{
    // The settings beyond the three are shown even when quill.cfg is missing: they have defaults.
    m_provider = ReadProviderSettings();
    m_comboSecurity->setCurrentIndex(m_comboSecurity->findData(static_cast<int>(m_provider.m_eSecurity)));
    m_editLogin->setText(QString::fromStdString(m_provider.m_strLogin));
    m_editGatewayAddress->setText(QString::fromStdString(m_provider.m_strGatewayAddress));
    m_editGatewayAddress->setCursorPosition(0);
    m_editQueryHost->setText(QString::fromStdString(m_provider.m_strQueryHost));
    m_editSenderName->setText(QString::fromStdString(m_provider.m_strSenderName));
    m_editSenderCompany->setText(QString::fromStdString(m_provider.m_strSenderCompany));
    m_editSenderVoice->setText(QString::fromStdString(m_provider.m_strSenderVoice));
    m_editSenderFax->setText(QString::fromStdString(m_provider.m_strSenderFax));
    m_editSenderEmail->setText(QString::fromStdString(m_provider.m_strSenderEmail));
    FillCoverTemplates();
    m_buttonIncomingWatch->setChecked(m_provider.m_incoming.m_bWatch);
    m_editIncomingServer->setText(QString::fromStdString(m_provider.m_incoming.m_strServer));
    m_comboIncomingSecurity->setCurrentIndex(
        m_comboIncomingSecurity->findData(static_cast<int>(m_provider.m_incoming.m_eSecurity)));
    m_editIncomingLogin->setText(QString::fromStdString(m_provider.m_incoming.m_strLogin));
    m_editIncomingFolder->setText(QString::fromStdString(m_provider.m_incoming.m_strFolder));

    m_strEmail.clear();
    m_strSmtpServer.clear();
    m_strUserName.clear();
    const bool bRead = ReadSettings(m_strSmtpServer, m_strEmail, m_strUserName);
    const SMailboxAccount account = MailboxPasswordAccount(m_provider, m_strSmtpServer);
    m_strIncomingServerAtStart = account.m_strServer;
    m_strIncomingLoginAtStart = account.m_strLogin;
    m_bIncomingSharedAtStart = account.m_bSharedWithSmtp || m_provider.m_incoming.m_strServer.empty();
    if (!bRead)
        return false;
    m_editEmail->setText(QString::fromStdString(m_strEmail));
    m_editSmtpServer->setText(QString::fromStdString(m_strSmtpServer));
    m_editUserName->setText(QString::fromStdString(m_strUserName));
    return true;
}

void CSettingsDialog::FillCoverTemplates()
{
    m_comboCoverTemplate->clear();
    const auto aTemplates = AvailableCoverTemplates();
    for (std::size_t n = 0; n < aTemplates.size(); ++n)
    {
        const QString strFile = QString::fromStdString(aTemplates[n].filename().string());
        // The default comes first and is stored as no name at all, so that it follows the
        // programs wherever they are installed.
        if (n == 0)
            m_comboCoverTemplate->addItem(QString::fromLatin1(TEXT_DEFAULT_TEMPLATE).arg(strFile), QString());
        else
            m_comboCoverTemplate->addItem(strFile, strFile);
    }
    const QString strChosen = QString::fromStdString(m_provider.m_strCoverTemplate);
    int nIndex = m_comboCoverTemplate->findData(strChosen);
    if (nIndex < 0)
    {
        m_comboCoverTemplate->addItem(QString::fromLatin1(TEXT_MISSING_TEMPLATE).arg(strChosen), strChosen);
        nIndex = m_comboCoverTemplate->count() - 1;
    }
    m_comboCoverTemplate->setCurrentIndex(nIndex);
}

void CSettingsDialog::ShowIncomingPasswordShared()
{
    SProviderSettings provider;
    provider.m_strLogin = platform::Trim(m_editLogin->text().toStdString());
    provider.m_incoming.m_strServer = platform::Trim(m_editIncomingServer->text().toStdString());
    provider.m_incoming.m_strLogin = platform::Trim(m_editIncomingLogin->text().toStdString());
    const bool bShared =
        MailboxPasswordAccount(provider, m_editSmtpServer->text().toStdString()).m_bSharedWithSmtp;
    m_editIncomingPassword->setEnabled(!bShared);
    if (bShared)
        m_editIncomingPassword->clear();
    m_editIncomingPassword->setPlaceholderText(bShared ? QString::fromLatin1(TEXT_SHARED_PASSWORD)
                                                       : QString());
}

bool CSettingsDialog::KeepIncomingPassword()
{
    std::string strPassword = m_editIncomingPassword->text().toStdString();
    if (strPassword.empty() || !m_editIncomingPassword->isEnabled())
        return true;
    const SMailboxAccount account =
        MailboxPasswordAccount(m_provider, m_editSmtpServer->text().toStdString());
    std::string strMessage;
    const bool bKept =
        StoreMailPassword(account.m_strServer, account.m_strLogin, std::move(strPassword), strMessage);
    m_editIncomingPassword->clear();
    if (!bKept)
        platform::ShowMessage(PRODUCT_NAME, strMessage, platform::EMessageIcon::Information);
    return true;
}

bool CSettingsDialog::TakeProviderFields()
{
    const auto refuse = [](QLineEdit* pField, const std::string& strText)
    {
        platform::ShowMessage(PRODUCT_NAME, strText, platform::EMessageIcon::Warning);
        pField->setFocus();
        pField->selectAll();
        return false;
    };
    // What the dialog does not show (the sent faxes' limits, the last cover choice, a later
    // version's keys) stays as read.
    SProviderSettings provider = m_provider;
    provider.m_eSecurity = static_cast<ESmtpSecurity>(m_comboSecurity->currentData().toInt());
    provider.m_strLogin = platform::Trim(m_editLogin->text().toStdString());
    provider.m_strGatewayAddress = platform::Trim(m_editGatewayAddress->text().toStdString());
    provider.m_strQueryHost = platform::Trim(m_editQueryHost->text().toStdString());
    if (platform::HoldsControlCharacter(provider.m_strLogin))
        return refuse(m_editLogin, TEXT_BAD_LOGIN);
    for (auto [pEdit, pValue] : {std::pair{m_editSenderName, &provider.m_strSenderName},
                                 std::pair{m_editSenderCompany, &provider.m_strSenderCompany},
                                 std::pair{m_editSenderVoice, &provider.m_strSenderVoice},
                                 std::pair{m_editSenderFax, &provider.m_strSenderFax},
                                 std::pair{m_editSenderEmail, &provider.m_strSenderEmail}})
    {
        *pValue = platform::Trim(pEdit->text().toStdString());
        if (platform::HoldsControlCharacter(*pValue))
            return refuse(pEdit, TEXT_BAD_SENDER);
    }
    provider.m_strCoverTemplate = m_comboCoverTemplate->currentData().toString().toStdString();
    provider.m_incoming.m_bWatch = m_buttonIncomingWatch->isChecked();
    provider.m_incoming.m_strServer = platform::Trim(m_editIncomingServer->text().toStdString());
    provider.m_incoming.m_eSecurity =
        static_cast<EIncomingSecurity>(m_comboIncomingSecurity->currentData().toInt());
    provider.m_incoming.m_strLogin = platform::Trim(m_editIncomingLogin->text().toStdString());
    provider.m_incoming.m_strFolder = platform::Trim(m_editIncomingFolder->text().toStdString());
    if (provider.m_incoming.m_strFolder.empty())
        provider.m_incoming.m_strFolder = DEFAULT_INCOMING_FOLDER;
    if (platform::HoldsControlCharacter(provider.m_incoming.m_strLogin))
        return refuse(m_editIncomingLogin, TEXT_BAD_INCOMING_TEXT);
    if (platform::HoldsControlCharacter(provider.m_incoming.m_strFolder))
        return refuse(m_editIncomingFolder, TEXT_BAD_INCOMING_TEXT);
    if (provider.m_incoming.m_bWatch && provider.m_incoming.m_strServer.empty())
        return refuse(m_editIncomingServer, TEXT_INCOMING_NEEDS_SERVER);
    if (!provider.m_incoming.m_strServer.empty())
    {
        const auto incoming = ParseServerAddress(provider.m_incoming.m_strServer, 993);
        if (!incoming || provider.m_incoming.m_strServer.find_first_of(" \t") != std::string::npos ||
            platform::HoldsControlCharacter(provider.m_incoming.m_strServer))
            return refuse(m_editIncomingServer, TEXT_BAD_INCOMING);
    }
    // The plain dialogue never sends a login: keeping one there would quietly sign in nowhere.
    if (provider.m_eSecurity == ESmtpSecurity::None && !provider.m_strLogin.empty())
        return refuse(m_editLogin, TEXT_LOGIN_NEEDS_TLS);
    if (provider.m_strGatewayAddress.empty())
        provider.m_strGatewayAddress = DEFAULT_GATEWAY_TEMPLATE;
    if (const auto eCheck = CGatewayTemplate::Check(provider.m_strGatewayAddress);
        eCheck != EGatewayTemplateCheck::Ok)
        return refuse(m_editGatewayAddress, GatewayTemplateCheckText(eCheck));
    if (provider.m_strQueryHost.empty())
        provider.m_strQueryHost = GATEWAY_WEB_HOST;
    const auto queryHost = ParseServerAddress(provider.m_strQueryHost, 80);
    if (!queryHost || !IsPlainDomain(queryHost->m_strHost) ||
        provider.m_strQueryHost.find_first_of(" \t") != std::string::npos)
        return refuse(m_editQueryHost, TEXT_BAD_QUERY_HOST);
    m_provider = std::move(provider);
    platform::WipeSecret(m_strPassword);
    m_strPassword = m_editPassword->text().toStdString();
    return true;
}

void CSettingsDialog::accept()
{
    if (!TakeProviderFields() || !KeepIncomingPassword())
        return;
    // The texts are taken as typed, empty ones included.
    m_strEmail = m_editEmail->text().toStdString();
    m_strSmtpServer = m_editSmtpServer->text().toStdString();
    m_strUserName = m_editUserName->text().toStdString();
    QDialog::accept();
}

void CSettingsDialog::reject()
{
    if (m_bTesting)
        m_cancel.Raise();
    else
        QDialog::reject();
}

void CSettingsDialog::OnTest()
{
    if (!TakeProviderFields())
        return;
    SSendJob job;
    job.m_strSmtpServer = m_editSmtpServer->text().toStdString();
    job.m_eSecurity = m_provider.m_eSecurity;
    job.m_strLogin = m_provider.m_strLogin;
    job.m_strPassword = m_strPassword;
    // Without a typed password the test signs in as a send would: keyring, else the question.
    std::optional<EPasswordOrigin> eAsked;
    if (job.m_eSecurity != ESmtpSecurity::None && !job.m_strLogin.empty() && job.m_strPassword.empty())
    {
        EPasswordOrigin eOrigin = EPasswordOrigin::AskedNotToKeep;
        auto strPassword = ObtainMailPassword(this, job.m_strSmtpServer, job.m_strLogin, &eOrigin);
        if (!strPassword)
            return;
        job.m_strPassword = std::move(*strPassword);
        eAsked = eOrigin;
    }
    job.m_timeouts = TestTimeouts();
    m_cancel.Clear();
    job.m_pCancel = &m_cancel;
    auto* pTest = CDialogBuilder::Control<QPushButton>(*this, IDC_TEST);
    pTest->setEnabled(false);
    m_bTesting = true;
    SServerTestResult result;
    RunWhileWaiting([&job, &result] { result = TestMailServer(job); }, this,
                    CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), [this] { m_cancel.Raise(); });
    m_bTesting = false;
    // A typed password is kept by OK; one from the keyring or the question is settled here.
    if (eAsked)
        SettleMailPassword(job.m_strSmtpServer, job.m_strLogin, job.m_strPassword, *eAsked,
                           result.m_bWorked               ? ESignInAnswer::Accepted
                           : result.m_bCredentialsRefused ? ESignInAnswer::Refused
                                                          : ESignInAnswer::None);
    platform::WipeSecret(job.m_strPassword);
    pTest->setEnabled(true);
    // The button lost the focus while disabled; once the answer is closed it has it again.
    pTest->setFocus();
    platform::ShowMessage(PRODUCT_NAME, result.m_strText,
                          result.m_bWorked ? platform::EMessageIcon::Information
                                           : platform::EMessageIcon::Warning);
}
