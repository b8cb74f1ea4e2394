#include "sender/keyring/MailPasswordKeyring.h"

#include "platform/Text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <optional>
#include <qt6keychain/keychain.h>

namespace
{

using std::chrono::milliseconds;

// The longest piece of a keyring's error text that goes into a message.
constexpr std::size_t KEYRING_ERROR_MAX = 200;

// The bus names of the keyring services that QtKeychain talks to on Linux.
constexpr const char* KEYRING_BUS_NAMES[] = {"org.freedesktop.secrets", "org.kde.kwalletd6",
                                             "org.kde.kwalletd5"};

SKeyringResult Result(EKeyringStatus eStatus, std::string strError = {})
{
    return SKeyringResult{eStatus, std::move(strError)};
}

// Asks the bus daemon itself, which answers at once, so the wait bounds only a broken bus.
QDBusMessage CallBus(const QDBusConnection& bus, const char* pszMethod, const QList<QVariant>& aArguments,
                     milliseconds durWait)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(pszMethod));
    call.setArguments(aArguments);
    return bus.call(call, QDBus::Block, static_cast<int>(durWait.count()));
}

// Whether a session bus is there and a keyring service on it runs or can be started, found out
// without starting anything. The keyring library reports a missing bus or service as an error
// like any other (or, for a missing service, only after its own long wait), so this is asked first.
bool KeyringServiceOnBus(milliseconds durWait)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    for (const char* pszName : KEYRING_BUS_NAMES)
    {
        const QDBusMessage reply = CallBus(bus, "NameHasOwner", {QString::fromLatin1(pszName)}, durWait);
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool())
            return true;
    }
    const QDBusMessage reply = CallBus(bus, "ListActivatableNames", {}, durWait);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    const QStringList aNames = reply.arguments().value(0).toStringList();
    for (const char* pszName : KEYRING_BUS_NAMES)
    {
        if (aNames.contains(QString::fromLatin1(pszName)))
            return true;
    }
    return false;
}

std::string ErrorText(const QString& strError)
{
    return platform::PrintableText(strError.toStdString(), KEYRING_ERROR_MAX);
}

// What must hold before any call: an application, on its thread, and a keyring to talk to.
std::optional<SKeyringResult> RefusalBeforeCall(milliseconds durWait)
{
    const QCoreApplication* pApp = QCoreApplication::instance();
    if (pApp == nullptr || QThread::currentThread() != pApp->thread())
        return Result(EKeyringStatus::Failed, "the keyring was used outside the application's main thread");
    if (!KeyringServiceOnBus(durWait))
        return Result(EKeyringStatus::NoKeyring, "no keyring service on the session bus");
    return std::nullopt;
}

// Starts the job and waits for it, at most durWait. On its end, fnFinished reads what it needs
// from the job, while the job still exists. A job that does not end in time is left to end (and
// delete itself) on its own: the keyring library keeps pointers to it in pending calls, so it
// must not be deleted under them.
template <typename TFinished>
SKeyringResult RunJob(QKeychain::Job* pJob, milliseconds durWait, TFinished fnFinished)
{
    pJob->setAutoDelete(true);
    // Never a plain file in place of the keyring.
    pJob->setInsecureFallback(false);
    bool bFinished = false;
    QKeychain::Error eError = QKeychain::NoError;
    QString strError;
    // Declared last, so it goes first and takes the connections to the locals above with it.
    QEventLoop loop;
    QObject::connect(pJob, &QKeychain::Job::finished, &loop,
                     [&](QKeychain::Job* pDone)
                     {
                         bFinished = true;
                         eError = pDone->error();
                         strError = pDone->errorString();
                         if (eError == QKeychain::NoError)
                             fnFinished(pDone);
                         loop.quit();
                     });
    QTimer::singleShot(durWait, &loop, &QEventLoop::quit);
    pJob->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!bFinished)
    {
        const auto nSeconds = std::chrono::duration_cast<std::chrono::seconds>(durWait).count();
        return Result(EKeyringStatus::NoKeyring,
                      "the keyring did not answer within " + std::to_string(nSeconds) + " s");
    }
    switch (eError)
    {
    case QKeychain::NoError:
        return Result(EKeyringStatus::Ok);
    case QKeychain::EntryNotFound:
        return Result(EKeyringStatus::NotFound);
    // A keyring that stays locked (its unlock prompt refused or impossible) is as good as none.
    case QKeychain::NoBackendAvailable:
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return Result(EKeyringStatus::NoKeyring, ErrorText(strError));
    default:
        return Result(EKeyringStatus::Failed, ErrorText(strError));
    }
}

QString Utf8(std::string_view strText)
{
    return QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
}

} // namespace

CMailPasswordKeyring::CMailPasswordKeyring(milliseconds durWait) : m_durWait(durWait) {}

std::string CMailPasswordKeyring::AccountKey(std::string_view strServer, std::string_view strUser)
{
    std::string strKey(strUser);
    strKey += '@';
    // Host names are alike in either case.
    for (const char ch : strServer)
        strKey += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
    return strKey;
}

SKeyringResult CMailPasswordKeyring::Read(std::string_view strServer, std::string_view strUser,
                                          std::string& strPassword) const
{
    platform::WipeSecret(strPassword);
    if (auto refusal = RefusalBeforeCall(m_durWait))
        return *refusal;
    auto* pJob = new QKeychain::ReadPasswordJob(QString::fromLatin1(SERVICE_NAME));
    pJob->setKey(Utf8(AccountKey(strServer, strUser)));
    return RunJob(pJob, m_durWait,
                  [&strPassword](QKeychain::Job* pDone)
                  {
                      const QByteArray aData = static_cast<QKeychain::ReadPasswordJob*>(pDone)->binaryData();
                      strPassword.assign(aData.constData(), static_cast<std::size_t>(aData.size()));
                  });
}

SKeyringResult CMailPasswordKeyring::Write(std::string_view strServer, std::string_view strUser,
                                           std::string_view strPassword) const
{
    // Kept as text, as the keyring's own tools show it; bytes that are not UTF-8 would come back
    // changed.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString strText =
        decoder.decode(QByteArrayView(strPassword.data(), static_cast<qsizetype>(strPassword.size())));
    if (decoder.hasError())
    {
        strText.fill(QChar(u'\0'));
        return Result(EKeyringStatus::Failed, "the password is not UTF-8 text");
    }
    if (auto refusal = RefusalBeforeCall(m_durWait))
    {
        strText.fill(QChar(u'\0'));
        return *refusal;
    }
    auto* pJob = new QKeychain::WritePasswordJob(QString::fromLatin1(SERVICE_NAME));
    pJob->setKey(Utf8(AccountKey(strServer, strUser)));
    pJob->setTextData(strText);
    // The job keeps a UTF-8 copy of its own; this one is ours to wipe.
    strText.fill(QChar(u'\0'));
    return RunJob(pJob, m_durWait, [](QKeychain::Job*) {});
}

SKeyringResult CMailPasswordKeyring::Erase(std::string_view strServer, std::string_view strUser) const
{
    if (auto refusal = RefusalBeforeCall(m_durWait))
        return *refusal;
    auto* pJob = new QKeychain::DeletePasswordJob(QString::fromLatin1(SERVICE_NAME));
    pJob->setKey(Utf8(AccountKey(strServer, strUser)));
    SKeyringResult result = RunJob(pJob, m_durWait, [](QKeychain::Job*) {});
    if (result.m_eStatus == EKeyringStatus::NotFound)
        result.m_eStatus = EKeyringStatus::Ok;
    return result;
}
