#include "sender/app/NoticeCommand.h"

#include "platform/Text.h"
#include "sender/app/SentFaxModel.h"
#include "sender/keyring/MailPasswordKeyring.h"
#include "sender/store/SettingsFile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace
{

constexpr std::size_t MAX_SUMMARY_BYTES = 120;
constexpr std::size_t MAX_BODY_BYTES = 400;
// A notification server that does not answer in this time is not waited for any longer.
constexpr int NOTIFY_WAIT_MS = 5000;
// The notification stays until the server's own time ends it.
constexpr int NOTIFY_DEFAULT_EXPIRY = -1;

} // namespace

SFaxNotification FaxNotification(const SSentFax& fax)
{
    const std::string strWord = fax.m_eStatus == ESentStatus::Delivered ? "delivered"
                                : fax.m_strStatusReason.empty()         ? "failed"
                                                                : "failed (" + fax.m_strStatusReason + ")";
    SFaxNotification notification;
    notification.m_strSummary =
        NotificationText("Fax to " + fax.m_strRecipient + " " + strWord, MAX_SUMMARY_BYTES);
    std::string strBody =
        "Fax number " + fax.m_strFaxNumber + ", sent " + SentTimeText(fax.m_nSentAt).toStdString();
    if (!fax.m_strNoticeSubject.empty())
        strBody += ". Notice: " + fax.m_strNoticeSubject;
    notification.m_strBody = NotificationText(strBody, MAX_BODY_BYTES);
    return notification;
}

void ShowFaxNotification(const SSentFax& fax)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const SFaxNotification notification = FaxNotification(fax);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Sendwell") << 0u << QString() << QString::fromStdString(notification.m_strSummary)
         << QString::fromStdString(notification.m_strBody) << QStringList() << QVariantMap()
         << NOTIFY_DEFAULT_EXPIRY;
    // The answer (the notification's number, or an error where no service runs) says nothing
    // that changes what happens next.
    (void)bus.call(call, QDBus::Block, NOTIFY_WAIT_MS);
}

int CheckNoticesCommand(const NoticePollFunction& fnPoll, std::int64_t nNow)
{
    const SProviderSettings settings = ReadProviderSettings();
    if (!settings.m_incoming.m_bWatch || settings.m_incoming.m_strServer.empty())
        return 0;
    CSentFaxStore store;
    // No record yet: no fax awaits word, and none is made here.
    std::error_code ignored;
    if (!std::filesystem::exists(store.DatabasePath(), ignored))
        return 0;
    std::string strError;
    if (!store.Open(strError))
    {
        std::fprintf(stderr, "Sendwell: %s\n", platform::PrintableUtf8(strError).c_str());
        return 1;
    }
    CNoticeCheck check(store, fnPoll);
    if (!check.IsDue(settings, nNow, false))
        return 0;

    std::string strSmtpServer, strEmail, strUserName;
    (void)ReadSettings(strSmtpServer, strEmail, strUserName);
    const SMailboxAccount account = MailboxPasswordAccount(settings, strSmtpServer);
    std::string strPassword;
    const SKeyringResult read =
        account.m_strLogin.empty()
            ? SKeyringResult{EKeyringStatus::NotFound, {}}
            : CMailPasswordKeyring().Read(account.m_strServer, account.m_strLogin, strPassword);
    const SNoticeCheckResult result =
        read.m_eStatus == EKeyringStatus::Ok
            ? check.Run(settings, strPassword, nNow)
            : check.RecordFailure(
                  settings, account.m_strLogin.empty() ? NO_MAILBOX_LOGIN_TEXT : NO_MAILBOX_PASSWORD_TEXT,
                  nNow);
    platform::WipeSecret(strPassword);
    for (const SSentFax& fax : result.m_aNewWord)
        ShowFaxNotification(fax);
    if (result.m_eOutcome != ENoticeCheck::Failed)
        return 0;
    std::fprintf(stderr, "Sendwell: the status notices could not be read: %s\n",
                 platform::PrintableUtf8(result.m_strFailure).c_str());
    return 1;
}
