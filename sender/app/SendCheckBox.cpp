#include "sender/app/SendCheckBox.h"

#include "platform/CancelSignal.h"
#include "platform/Message.h"
#include "platform/Text.h"
#include "sender/app/MailPassword.h"
#include "sender/app/SendRunner.h"
#include "sender/common/Branding.h"
#include "sender/send/SendOperation.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <stop_token>

namespace
{

constexpr const char* TEXT_ALL_PASSED = "Everything checked will work. Nothing was sent.";
constexpr const char* TEXT_NOT_ALL_PASSED = "Not everything will work. Nothing was sent.";
constexpr const char* TEXT_BUTTON_WAIT = "Wait...";
constexpr int BOX_MIN_WIDTH = 520;

} // namespace

CSendCheckBox::CSendCheckBox(const std::vector<SCheckLine>& aLines, QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QString::fromUtf8(PRODUCT_NAME));
    setObjectName(QStringLiteral("sendCheck"));
    setMinimumWidth(BOX_MIN_WIDTH);
    auto* pLayout = new QVBoxLayout(this);
    m_labelSummary =
        new QLabel(QString::fromLatin1(AllPassed(aLines) ? TEXT_ALL_PASSED : TEXT_NOT_ALL_PASSED), this);
    pLayout->addWidget(m_labelSummary);
    m_listLines = new QListWidget(this);
    m_listLines->setWordWrap(true);
    const QIcon iconOk = style()->standardIcon(QStyle::SP_DialogApplyButton);
    const QIcon iconNotOk = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    for (const SCheckLine& line : aLines)
    {
        // The mark is in the words too, for a reader that sees no icon.
        auto* pItem = new QListWidgetItem(line.m_bOk ? iconOk : iconNotOk,
                                          QString::fromUtf8(line.m_bOk ? "OK: " : "NOT OK: ") +
                                              QString::fromStdString(line.m_strText),
                                          m_listLines);
        pItem->setData(Qt::UserRole, line.m_bOk);
        if (!line.m_bOk)
            pItem->setForeground(Qt::darkRed);
    }
    pLayout->addWidget(m_listLines);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    pButtons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
}

std::string CheckListText(const std::vector<SCheckLine>& aLines)
{
    std::string strText = AllPassed(aLines) ? TEXT_ALL_PASSED : TEXT_NOT_ALL_PASSED;
    for (const SCheckLine& line : aLines)
        strText += std::string(line.m_bOk ? "\nOK: " : "\nNOT OK: ") + line.m_strText;
    return strText;
}

void RunSendCheck(QWidget* pWindow, QPushButton* pCheck, QAbstractButton* pCancel,
                  platform::CCancelSignal& cancel, std::vector<SCheckRecipient> aRecipients,
                  std::optional<SCoverRequest> cover)
{
    SSendCheckJob job;
    SSendJob& send = job.m_send;
    std::string strUserName;
    if (!ReadSettings(send.m_strSmtpServer, send.m_strFrom, strUserName))
    {
        platform::ShowMessage(PRODUCT_NAME, CONFIG_FIRST_TEXT, platform::EMessageIcon::Warning);
        return;
    }
    const SProviderSettings provider = ReadProviderSettings();
    send.m_eSecurity = provider.m_eSecurity;
    send.m_strLogin = provider.m_strLogin;
    send.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
    send.m_cover = std::move(cover);
    job.m_aRecipients = std::move(aRecipients);
    job.m_strGatewayAddress = provider.m_strGatewayAddress;
    job.m_strQueryHost = provider.m_strQueryHost;
    job.m_fnRunConverter = RunInstalledConverterIn;

    // The sign-in is checked with the password the send would use, from the same places.
    const bool bSignIn = send.m_eSecurity != ESmtpSecurity::None && !send.m_strLogin.empty();
    EPasswordOrigin ePasswordOrigin = EPasswordOrigin::AskedNotToKeep;
    if (bSignIn)
    {
        auto strPassword =
            ObtainMailPassword(pWindow, send.m_strSmtpServer, send.m_strLogin, &ePasswordOrigin);
        if (!strPassword)
            return;
        send.m_strPassword = std::move(*strPassword);
    }

    std::stop_source stopQuery;
    cancel.Clear();
    send.m_pCancel = &cancel;
    job.m_stopToken = stopQuery.get_token();
    const QString strCheckText = pCheck ? pCheck->text() : QString();
    if (pCheck)
        pCheck->setText(QString::fromLatin1(TEXT_BUTTON_WAIT));
    std::vector<SCheckLine> aLines;
    SCheckSignIn signIn;
    RunWhileWaiting([&] { aLines = CheckBeforeSend(job, &signIn); }, pWindow, pCancel,
                    [&]
                    {
                        cancel.Raise();
                        stopQuery.request_stop();
                    });
    if (pCheck)
        pCheck->setText(strCheckText);
    if (bSignIn)
        SettleMailPassword(send.m_strSmtpServer, send.m_strLogin, send.m_strPassword, ePasswordOrigin,
                           signIn.m_bSignedIn             ? ESignInAnswer::Accepted
                           : signIn.m_bCredentialsRefused ? ESignInAnswer::Refused
                                                          : ESignInAnswer::None);
    platform::WipeSecret(send.m_strPassword);

    if (platform::MessagesGoToLog())
    {
        platform::ShowMessage(PRODUCT_NAME, CheckListText(aLines),
                              AllPassed(aLines) ? platform::EMessageIcon::Information
                                                : platform::EMessageIcon::Warning);
        return;
    }
    CSendCheckBox box(aLines, pWindow);
    box.exec();
}
