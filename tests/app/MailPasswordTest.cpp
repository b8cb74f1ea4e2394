// The mail password at Send and in the settings, with Qt Test on the offscreen platform: the
// question typed into and clicked as a user does, without a keyring (no session bus at all) and
// with one (gnome-keyring-daemon in a private session, tests/support/private-keyring.sh).

#include "sender/app/MailPassword.h"

#include "sender/app/CredentialsDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace
{

constexpr int WAIT = 20000;
constexpr int LOOK_MS = 10;

const std::string SERVER = "smtp.example.org:587";
const std::string USER = "ada@example.org";

bool InPrivateKeyring()
{
    return !qEnvironmentVariableIsEmpty("VELLUM_TEST_KEYRING_HOME");
}

// Answers the password question once it shows: notes what it says, then lets fnAnswer type and
// click. Looks for it for at most WAIT ms, and closes it if the answer left it open, so that a
// fault shows as a failed check instead of a test that never ends.
class CQuestionAnswerer
{
public:
    explicit CQuestionAnswerer(std::function<void(CCredentialsDialog*)> fnAnswer)
        : m_fnAnswer(std::move(fnAnswer))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
        m_timer.start(LOOK_MS);
    }

    bool m_bAsked = false;
    QString m_strQuestion;
    QString m_strNote;
    bool m_bLeftOpen = false;

private:
    void Look()
    {
        m_nWaited += LOOK_MS;
        for (QWidget* pWidget : QApplication::topLevelWidgets())
        {
            auto* pDialog = qobject_cast<CCredentialsDialog*>(pWidget);
            if (pDialog == nullptr || !pDialog->isVisible())
                continue;
            if (m_bAsked)
            {
                m_bLeftOpen = true;
                pDialog->reject();
                continue;
            }
            m_bAsked = true;
            m_nWaited = 0;
            if (const auto aLabels = pDialog->findChildren<QLabel*>(); !aLabels.isEmpty())
                m_strQuestion = aLabels.first()->text();
            if (auto* pNote = pDialog->findChild<QLabel*>("note"))
                m_strNote = pNote->text();
            m_fnAnswer(pDialog);
        }
        if (m_nWaited >= WAIT)
            m_timer.stop();
    }

    std::function<void(CCredentialsDialog*)> m_fnAnswer;
    QTimer m_timer;
    int m_nWaited = 0;
};

// Types the password into its field and clicks OK.
std::function<void(CCredentialsDialog*)> TypeAndClickOk(const QString& strPassword)
{
    return [strPassword](CCredentialsDialog* pDialog)
    {
        auto* pEdit = pDialog->findChild<QLineEdit*>("password");
        QVERIFY(pEdit != nullptr);
        QCOMPARE(pEdit->echoMode(), QLineEdit::Password);
        QTest::keyClicks(pEdit, strPassword);
        QTest::mouseClick(pDialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
    };
}

void ClickCancel(CCredentialsDialog* pDialog)
{
    QTest::mouseClick(pDialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                      Qt::LeftButton);
}

void Unexpected(CCredentialsDialog* pDialog)
{
    pDialog->reject();
}

} // namespace

class MailPasswordTest : public QObject
{
    Q_OBJECT

private slots:
    void noKeyringAsksAndGivesWhatIsTyped()
    {
        if (InPrivateKeyring())
            QSKIP("runs only without a session bus");
        CQuestionAnswerer answerer(TypeAndClickOk(QStringLiteral("typed pass; 1")));
        const auto strPassword = ObtainMailPassword(nullptr, SERVER, USER);
        QVERIFY(answerer.m_bAsked);
        QCOMPARE(answerer.m_strQuestion,
                 QStringLiteral("Password for ada@example.org at smtp.example.org:587:"));
        QCOMPARE(answerer.m_strNote,
                 QStringLiteral("No keyring is available; the password will be asked again next time."));
        QVERIFY(!answerer.m_bLeftOpen);
        QCOMPARE(strPassword, std::optional<std::string>("typed pass; 1"));
    }

    void cancelGivesNothing()
    {
        if (InPrivateKeyring())
            QSKIP("runs only without a session bus");
        CQuestionAnswerer answerer(ClickCancel);
        QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER), std::nullopt);
        QVERIFY(answerer.m_bAsked);
    }

    void settingsWithoutKeyringSaySo()
    {
        if (InPrivateKeyring())
            QSKIP("runs only without a session bus");
        std::string strMessage = "old";
        // An empty field leaves the stored password alone: nothing to do, nothing to say.
        QVERIFY(StoreMailPassword(SERVER, USER, "", strMessage));
        QCOMPARE(strMessage, std::string());
        QVERIFY(!StoreMailPassword(SERVER, USER, "secret", strMessage));
        QCOMPARE(strMessage, std::string(NO_KEYRING_TEXT));
        QVERIFY(!ForgetMailPassword(SERVER, USER, strMessage));
        QCOMPARE(strMessage, std::string(NO_KEYRING_TEXT));
    }

    void keyringKeepsWhatTheUserGives()
    {
        if (!InPrivateKeyring())
            QSKIP("runs only inside tests/support/private-keyring.sh");
        // An answer is kept only once the server has accepted it.
        for (const ESignInAnswer eAnswer :
             {ESignInAnswer::Refused, ESignInAnswer::None, ESignInAnswer::Accepted})
        {
            CQuestionAnswerer answerer(TypeAndClickOk(QStringLiteral("kept secret")));
            EPasswordOrigin eOrigin = EPasswordOrigin::Keyring;
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER, &eOrigin),
                     std::optional<std::string>("kept secret"));
            QVERIFY(answerer.m_bAsked);
            QCOMPARE(answerer.m_strNote,
                     QStringLiteral("The password will be kept in the desktop's keyring."));
            QCOMPARE(eOrigin, EPasswordOrigin::AskedToKeep);
            SettleMailPassword(SERVER, USER, "kept secret", eOrigin, eAnswer);
        }
        {
            // From the keyring now, without a question; an empty settings field changes nothing.
            std::string strMessage;
            QVERIFY(StoreMailPassword(SERVER, USER, "", strMessage));
            CQuestionAnswerer answerer(Unexpected);
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER), std::optional<std::string>("kept secret"));
            QVERIFY(!answerer.m_bAsked);
        }
        {
            std::string strMessage;
            QVERIFY(StoreMailPassword(SERVER, USER, "from the settings", strMessage));
            QCOMPARE(strMessage, std::string());
            CQuestionAnswerer answerer(Unexpected);
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER),
                     std::optional<std::string>("from the settings"));
            QVERIFY(!answerer.m_bAsked);
        }
        {
            // A kept password that the server refuses is forgotten: the next Send asks.
            EPasswordOrigin eOrigin = EPasswordOrigin::AskedToKeep;
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER, &eOrigin),
                     std::optional<std::string>("from the settings"));
            QCOMPARE(eOrigin, EPasswordOrigin::Keyring);
            SettleMailPassword(SERVER, USER, "from the settings", eOrigin, ESignInAnswer::Refused);
            CQuestionAnswerer answerer(ClickCancel);
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER), std::nullopt);
            QVERIFY(answerer.m_bAsked);
        }
        {
            std::string strMessage;
            QVERIFY(StoreMailPassword(SERVER, USER, "stored", strMessage));
            QVERIFY(ForgetMailPassword(SERVER, USER, strMessage));
            CQuestionAnswerer answerer(ClickCancel);
            QCOMPARE(ObtainMailPassword(nullptr, SERVER, USER), std::nullopt);
            QVERIFY(answerer.m_bAsked);
        }
    }
};

int main(int argc, char** argv)
{
    // Outside the private keyring no session bus is used at all, so that no test ever meets the
    // desktop's own keyring. Set before the first use of the bus, which keeps its address.
    if (!InPrivateKeyring())
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    QApplication app(argc, argv);
    MailPasswordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MailPasswordTest.moc"
