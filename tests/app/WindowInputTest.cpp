// Every window the user meets while the main dialog runs as it does in the program (exec(),
// started from a timer) must take the mouse and the keyboard. The events go in through the
// window system's door (QWindow), where Qt turns away input to windows that a modal window
// blocks, so a window that only looks usable fails here. Messages are shown as real boxes:
// no message log answers them.

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "resources/DialogTables.h"
#include "sender/app/AboutDialog.h"
#include "sender/app/CredentialsDialog.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/MessagePresenter.h"
#include "sender/app/QueryButton.h"
#include "sender/app/SendCheckBox.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SendwellApp.h"
#include "sender/app/SettingsDialog.h"
#include "sender/send/GatewayTemplate.h"
#include "sender/send/SendOperation.h"
#include "sender/store/AddressBook.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TrustedTestCa.h"
#include "tests/support/UnusedPort.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <string>
#include <unistd.h>

using namespace resources;
using Server = CScriptedHttpServer;
using namespace std::chrono_literals;

namespace
{

constexpr int WAIT = 20000;

template <typename T> T* VisibleWindow(const QWidget* pExcept = nullptr)
{
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pWindow = qobject_cast<T*>(pWidget); pWindow && pWindow != pExcept && pWindow->isVisible())
            return pWindow;
    return nullptr;
}

QWindow* WindowOf(QWidget* pWidget)
{
    return pWidget->window()->windowHandle();
}

// A click as the window system delivers it: at the centre of the widget, into its window.
void Click(QWidget* pWidget)
{
    QTest::mouseClick(WindowOf(pWidget), Qt::LeftButton, {},
                      pWidget->mapTo(pWidget->window(), pWidget->rect().center()));
}

void Press(QWidget* pWindow, Qt::Key key)
{
    QTest::keyClick(WindowOf(pWindow), key);
}

// After input that should have closed a window: if it is still open a little later, the
// input was lost. The test fails and the window is closed, so that nothing waits for ever.
void FailIfStillOpen(QWidget* pWindow)
{
    QTimer::singleShot(3000, pWindow,
                       [pWindow]
                       {
                           QTest::qFail("the window did not take the input", __FILE__, __LINE__);
                           pWindow->close();
                       });
}

// Types key by key into the window of the field, where the focus is.
void Keys(QWidget* pField, const char* pszText)
{
    for (const char* p = pszText; *p != '\0'; ++p)
        QTest::keyClick(WindowOf(pField), *p);
}

// Clicks into a field and types at its end.
void Type(QWidget* pField, const char* pszText)
{
    Click(pField);
    QTest::keyClick(WindowOf(pField), Qt::Key_End);
    Keys(pField, pszText);
}

// Acts on the first visible window of type T as soon as one is shown, without blocking the
// loop that shows it (a modal box, or a send that runs its own loop first).
template <typename T> void WhenShown(std::function<void(T*)> act)
{
    auto* pPoll = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT);
    QObject::connect(pPoll, &QTimer::timeout, pPoll,
                     [pPoll, deadline, act]
                     {
                         if (T* pWindow = VisibleWindow<T>())
                         {
                             pPoll->stop();
                             pPoll->deleteLater();
                             act(pWindow);
                             FailIfStillOpen(pWindow);
                         }
                         else if (std::chrono::steady_clock::now() > deadline)
                         {
                             pPoll->deleteLater();
                             QTest::qFail("the window was not shown", __FILE__, __LINE__);
                         }
                     });
    pPoll->start(20);
}

// Acts once ready() holds, from a timer, so that a loop of the window's own (a send) may run.
void When(std::function<bool()> ready, std::function<void()> act)
{
    auto* pPoll = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT);
    QObject::connect(pPoll, &QTimer::timeout, pPoll,
                     [pPoll, deadline, ready, act]
                     {
                         const bool bReady = ready();
                         const bool bLate = std::chrono::steady_clock::now() > deadline;
                         if (!bReady && !bLate)
                             return;
                         pPoll->stop();
                         pPoll->deleteLater();
                         if (bReady)
                             act();
                         else
                             QTest::qFail("the condition never held", __FILE__, __LINE__);
                     });
    pPoll->start(20);
}

} // namespace

class WindowInputTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    // Runs the main dialog as the program does and plays the user on it from inside its
    // loop. Whatever the user part leaves open is closed afterwards, so that a failure
    // ends the test instead of hanging it.
    void RunDialog(CSendDialog& dialog, const std::function<void()>& user)
    {
        QTimer::singleShot(0, &dialog,
                           [&]
                           {
                               user();
                               for (QWidget* pWidget : QApplication::topLevelWidgets())
                                   if (pWidget != &dialog && pWidget->isVisible())
                                       pWidget->close();
                               dialog.reject();
                           });
        dialog.exec();
    }

    template <typename T> static T* Control(QWidget& dialog, int nId)
    {
        return CDialogBuilder::Control<T>(dialog, nId);
    }

    void WritePageCount(char nByte)
    {
        QVERIFY(platform::WriteWholeFile(platform::DrivePath("Page.tmp"), std::string(1, nByte)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        ::setenv("VELLUM_ROOT", m_root.path().toUtf8().constData(), 1);
        ::unsetenv("VELLUM_MESSAGE_LOG");
        // No keyring: nothing here may reach the user's own, and its absence is what is tested.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        for (const char* pszName :
             {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            ::unsetenv(pszName);
        InstallQtMessagePresenter();
        std::filesystem::create_directories(platform::DrivePath(""));
        std::filesystem::create_directories(platform::SystemDirectory());
    }

    void init() { WritePageCount(3); }

    void cleanup()
    {
        for (QWidget* pWidget : QApplication::topLevelWidgets())
            if (pWidget->isVisible())
                QFAIL(qPrintable("a window was left open: " + pWidget->windowTitle()));
    }

    // The answer box takes a click and Return, the dialog stays usable beside it, and the
    // button comes back each time; the password window takes typing and its OK.
    void TheQuerysWindowsTakeInputBesideTheDialog()
    {
        Server server({Server::Reply(200, "", "Bingo"), Server::Reply(200, "", "Sorry"),
                       Server::Reply(401, "WWW-Authenticate: Basic realm=\"fax\"\r\n", ""),
                       Server::Reply(200, "", "Bingo")});
        CSendDialog dialog;
        dialog.QueryButton().m_options.m_strHost = server.HostPort();
        dialog.QueryButton().m_options.m_limits.m_durConnect = 5s;
        QSignalSpy finished(&dialog.QueryButton(), &CQueryButton::QueryFinished);
        auto* pNumber = Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
        auto* pQuery = Control<QPushButton>(dialog, IDC_ONLINE_QUERY);

        RunDialog(dialog,
                  [&]
                  {
                      Type(pNumber, "8675512345");
                      Click(pQuery);
                      QMessageBox* pBox = nullptr;
                      QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
                      QCOMPARE(pBox->text(), QString("OK! 8675512345 is covered by the free fax service"));
                      // The dialog takes typing while the box is open.
                      Type(pNumber, "9");
                      QCOMPARE(pNumber->text(), QString("86755123459"));
                      QCOMPARE(pQuery->text(), QString("Wait..."));
                      Click(pBox->button(QMessageBox::Ok));
                      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
                      QVERIFY(pQuery->isEnabled());
                      QCOMPARE(pQuery->text(), QString("Online Query"));

                      // A second query, its box closed with the keyboard.
                      Click(pQuery);
                      QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
                      QCOMPARE(pBox->text(), QString("Sorry! 86755123459 is not covered at present"));
                      Press(pBox, Qt::Key_Return);
                      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, WAIT);

                      // The password window: typed into, then its OK clicked.
                      Click(pQuery);
                      CCredentialsDialog* pAsk = nullptr;
                      QTRY_VERIFY_WITH_TIMEOUT((pAsk = VisibleWindow<CCredentialsDialog>()) != nullptr, WAIT);
                      Type(pAsk->findChild<QLineEdit*>("userName"), "fax");
                      Type(pAsk->findChild<QLineEdit*>("password"), "secret");
                      auto* pOk = pAsk->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
                      Click(pOk);
                      QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
                      QCOMPARE(pBox->text(), QString("OK! 86755123459 is covered by the free fax service"));
                      Press(pBox, Qt::Key_Space);
                      QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, WAIT);
                      QVERIFY(pQuery->isEnabled());
                  });
        const auto aRequests = server.Requests();
        QCOMPARE(aRequests.size(), std::size_t{4});
        QCOMPARE(HeaderValue(aRequests[3], "Authorization"), std::string("Basic ZmF4OnNlY3JldA=="));
    }

    // A refusal and the send outcome over the main dialog: closed by a click and by Return.
    void SendsMessagesTakeAClickAndTheKeyboard()
    {
        std::string strError;
        QVERIFY(
            WriteSettings("127.0.0.1:" + std::to_string(UnusedPort()), "ann@example.org", "Ann", strError));
        CSendDialog dialog;
        auto* pSend = Control<QPushButton>(dialog, IDOK);
        QStringList aSeen;
        RunDialog(dialog,
                  [&]
                  {
                      // No number: the refusal, closed with a click.
                      WhenShown<QMessageBox>(
                          [&](QMessageBox* pBox)
                          {
                              aSeen << pBox->text();
                              Click(pBox->button(QMessageBox::Ok));
                          });
                      Click(pSend);

                      // No converter installed: the outcome, closed with Return.
                      Type(Control<QLineEdit>(dialog, IDC_FAX_NUMBER), "8675512345");
                      Type(Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit(), "Ann");
                      WhenShown<QMessageBox>(
                          [&](QMessageBox* pBox)
                          {
                              aSeen << pBox->text();
                              Press(pBox, Qt::Key_Return);
                          });
                      Click(pSend);
                      QVERIFY(pSend->isEnabled());
                      QCOMPARE(pSend->text(), QString("Send"));
                  });
        QCOMPARE(aSeen.size(), 2);
        QCOMPARE(aSeen[0], QString("Sorry, fax number shoud not be blank"));
        QVERIFY2(aSeen[1].startsWith("Sorry, the fax pages could not be made"), qPrintable(aSeen[1]));
    }

    // Config takes typing and Return; About takes a click on its button and Escape.
    void ConfigAndAboutTakeInput()
    {
        std::filesystem::remove(platform::SystemDirectory() / "quill.cfg");
        CSendDialog dialog;
        RunDialog(dialog,
                  [&]
                  {
                      WhenShown<CSettingsDialog>(
                          [](CSettingsDialog* pConfig)
                          {
                              for (int nId : {IDC_USER_NAME, IDC_EMAIL, IDC_SMTP_SERVER})
                                  Type(Control<QLineEdit>(*pConfig, nId), "x");
                              Press(pConfig, Qt::Key_Return);
                          });
                      Click(Control<QPushButton>(dialog, IDC_CONFIG));

                      WhenShown<CAboutDialog>(
                          [](CAboutDialog* pAbout)
                          { Click(CDialogBuilder::Control<QPushButton>(*pAbout, IDC_ABOUT_OK)); });
                      Click(Control<QPushButton>(dialog, IDC_ABOUT));

                      WhenShown<CAboutDialog>([](CAboutDialog* pAbout) { Press(pAbout, Qt::Key_Escape); });
                      Click(Control<QPushButton>(dialog, IDC_ABOUT));
                  });
        std::string strServer, strEmail, strName;
        QVERIFY(ReadSettings(strServer, strEmail, strName));
        QCOMPARE(strServer + strEmail + strName, std::string("xxx"));
    }

    // Config's fields beyond the three: the security chosen with the keyboard, a gateway
    // address that cannot work refused with the dialog left open, then the settings kept.
    void ConfigsGatewayAndSecurityFieldsTakeInput()
    {
        std::filesystem::remove(ProviderSettingsPath());
        std::filesystem::remove(SettingsPath());
        CSendDialog dialog;
        QStringList aSeen;
        RunDialog(dialog,
                  [&]
                  {
                      WhenShown<CSettingsDialog>(
                          [&](CSettingsDialog* pConfig)
                          {
                              auto* pSecurity = Control<QComboBox>(*pConfig, IDC_SECURITY);
                              QCOMPARE(pSecurity->currentText(), QString("STARTTLS"));
                              const auto choose = [pSecurity](std::initializer_list<Qt::Key> aKeys)
                              {
                                  Click(pSecurity);
                                  QTRY_VERIFY(pSecurity->view()->isVisible());
                                  for (const Qt::Key key : aKeys)
                                      QTest::keyClick(pSecurity->view()->window()->windowHandle(), key);
                              };
                              // OK is refused: the message is noted and Config stays open.
                              const auto refusedOk = [&]
                              {
                                  WhenShown<QMessageBox>(
                                      [&](QMessageBox* pBox)
                                      {
                                          aSeen << pBox->text();
                                          Press(pBox, Qt::Key_Return);
                                      });
                                  Press(pConfig, Qt::Key_Return);
                                  QTRY_VERIFY(VisibleWindow<QMessageBox>() == nullptr);
                                  QVERIFY(pConfig->isVisible());
                              };
                              // A login with security None is refused: it would never be sent.
                              choose({Qt::Key_Down, Qt::Key_Down, Qt::Key_Return});
                              QTRY_COMPARE(pSecurity->currentText(), QString("None"));
                              Type(Control<QLineEdit>(*pConfig, IDC_LOGIN), "ann@example.org");
                              refusedOk();
                              choose({Qt::Key_Up, Qt::Key_Return});
                              QTRY_COMPARE(pSecurity->currentText(), QString("TLS"));
                              auto* pGateway = Control<QLineEdit>(*pConfig, IDC_GATEWAY_ADDRESS);
                              Click(pGateway);
                              QTest::keyClick(WindowOf(pGateway), Qt::Key_A, Qt::ControlModifier);
                              Keys(pGateway, "fax@<number>");
                              refusedOk();
                              // The refused field has the focus with its text selected.
                              Keys(pGateway, "<number>@fax.provider.example");
                              Press(pConfig, Qt::Key_Return);
                          });
                      Click(Control<QPushButton>(dialog, IDC_CONFIG));
                  });
        QCOMPARE(aSeen,
                 QStringList({"Sorry, a login is only sent over a secure connection: choose the security "
                              "STARTTLS or TLS, or leave the login empty",
                              GatewayTemplateCheckText(EGatewayTemplateCheck::BadDomain)}));
        const SProviderSettings settings = ReadProviderSettings();
        QCOMPARE(settings.m_eSecurity, ESmtpSecurity::Tls);
        QCOMPARE(settings.m_strLogin, std::string("ann@example.org"));
        QCOMPARE(settings.m_strGatewayAddress, std::string("<number>@fax.provider.example"));
        QCOMPARE(dialog.m_provider.m_strGatewayAddress, settings.m_strGatewayAddress);
    }

    // While the mail goes out the dialog takes no input but Cancel and Escape, which end the
    // send to a server that never answers at once, say that nothing was sent, and leave the
    // dialog open. Config's Test, after Password in the tab order, ends the same way by its
    // Cancel. After either the buttons are enabled again and the focus is back on the button.
    void CancelAndEscapeEndASendOrConfigsTestToASilentServer()
    {
        CScriptedSmtpServer silent({});
        std::string strError;
        QVERIFY(
            WriteSettings("127.0.0.1:" + std::to_string(silent.Port()), "ann@example.org", "Ann", strError));
        SProviderSettings plain;
        plain.m_eSecurity = ESmtpSecurity::None;
        QVERIFY(WriteProviderSettings(plain, strError));
        // A converter that leaves the pages as they are, and one fax page.
        const auto converter = platform::SystemDirectory() / "Pagemill";
        QVERIFY(platform::WriteWholeFile(converter, "#!/bin/sh\nexit 0\n"));
        std::filesystem::permissions(converter, std::filesystem::perms::owner_all);
        QVERIFY(platform::WriteWholeFile(platform::DrivePath(platform::FaxPageFileName(1)), "II*\0page"));

        CSendDialog dialog;
        auto* pSend = Control<QPushButton>(dialog, IDOK);
        auto* pNumber = Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
        auto* pCancel = Control<QPushButton>(dialog, IDCANCEL);
        const auto buttonsEnabled = [](QWidget& window, std::initializer_list<int> aIds)
        {
            QList<bool> aEnabled;
            for (int nId : aIds)
                aEnabled << Control<QPushButton>(window, nId)->isEnabled();
            return aEnabled;
        };
        const auto dialogsButtons = {IDOK,        IDC_CONFIG, IDC_ABOUT, IDC_HELP, IDC_ONLINE_QUERY,
                                     IDC_PREVIEW, IDCANCEL};
        QList<bool> aWhileWorking;
        QStringList aSeen;
        const auto noteAndReturn = [&](QMessageBox* pBox)
        {
            aSeen << pBox->text();
            Press(pBox, Qt::Key_Return);
        };
        RunDialog(
            dialog,
            [&]
            {
                Type(pNumber, "8675512345");
                Type(Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit(), "Ann");
                for (const bool bByKey : {false, true})
                {
                    WritePageCount(platform::PageCountByte(1));
                    When([&] { return pSend->text().startsWith("Wait..."); },
                         [&, bByKey]
                         {
                             aWhileWorking = buttonsEnabled(dialog, dialogsButtons);
                             Type(pNumber, "9"); // turned away
                             if (bByKey)
                                 Press(&dialog, Qt::Key_Escape);
                             else
                                 Click(pCancel);
                         });
                    WhenShown<QMessageBox>(noteAndReturn);
                    // The first send by a click; the focus is back on Send after it, so
                    // that Return sends again rather than pressing Cancel.
                    if (bByKey)
                        Press(&dialog, Qt::Key_Return);
                    else
                        Click(pSend);
                    QVERIFY(dialog.isVisible());
                    QCOMPARE(pSend->text(), QString("Send"));
                    QCOMPARE(aWhileWorking, (QList<bool>{false, false, false, false, false, false, true}));
                    QCOMPARE(buttonsEnabled(dialog, dialogsButtons), QList<bool>(7, true));
                    QCOMPARE(dialog.focusWidget(), pSend);
                }

                WhenShown<CSettingsDialog>(
                    [&](CSettingsDialog* pConfig)
                    {
                        auto* pTest = Control<QPushButton>(*pConfig, IDC_TEST);
                        Click(Control<QLineEdit>(*pConfig, IDC_LOGIN));
                        Press(pConfig, Qt::Key_Tab);
                        QCOMPARE(pConfig->focusWidget(), Control<QLineEdit>(*pConfig, IDC_PASSWORD));
                        Press(pConfig, Qt::Key_Tab);
                        QCOMPARE(pConfig->focusWidget(), pTest);
                        When([pTest] { return !pTest->isEnabled(); },
                             [&]
                             {
                                 aWhileWorking = buttonsEnabled(*pConfig, {IDOK, IDCANCEL});
                                 Click(Control<QPushButton>(*pConfig, IDCANCEL));
                             });
                        WhenShown<QMessageBox>(noteAndReturn);
                        Press(pConfig, Qt::Key_Space);
                        QCOMPARE(aWhileWorking, (QList<bool>{false, true}));
                        QCOMPARE(buttonsEnabled(*pConfig, {IDOK, IDC_TEST}), (QList<bool>{true, true}));
                        QCOMPARE(pConfig->focusWidget(), pTest);
                        Press(pConfig, Qt::Key_Escape);
                    });
                Click(Control<QPushButton>(dialog, IDC_CONFIG));
            });
        QCOMPARE(aSeen.size(), 3);
        QCOMPARE(aSeen.mid(0, 2), QStringList(2, "The send was cancelled: nothing was sent"));
        QVERIFY2(aSeen[2].startsWith("Sorry, the test failed"), qPrintable(aSeen[2]));
        QCOMPARE(pNumber->text(), QString("8675512345"));
    }

    // While a document is rendered the Send button reads "Wait..." and the dialog takes no
    // input but Cancel and Escape; Escape stops a rendering that would not end by itself
    // (PostScript that loops, which only the 120 s limit would end) without a message, and the
    // pages stay as they were.
    void EscapeStopsTheRenderingOfADocument()
    {
        std::filesystem::copy_file(VELLUM_PPD_FILE, platform::SystemDirectory() / "VellumZeru.ppd",
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string strLooping = m_root.filePath("looping.ps").toStdString();
        QVERIFY(platform::WriteWholeFile(strLooping, "%!PS\n{ } loop\n"));
        CSendDialog dialog;
        auto* pSend = Control<QPushButton>(dialog, IDOK);
        auto* pNumber = Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
        QStringList aSeen;
        QTimer boxes; // a message would be a fault: it is noted and closed
        connect(&boxes, &QTimer::timeout,
                [&]
                {
                    if (auto* pBox = VisibleWindow<QMessageBox>())
                    {
                        aSeen << pBox->text();
                        pBox->close();
                    }
                });
        boxes.start(20);
        bool bTaken = true;
        RunDialog(dialog,
                  [&]
                  {
                      When([&] { return pSend->text() == "Wait..." && !pSend->isEnabled(); },
                           [&]
                           {
                               Type(pNumber, "9"); // turned away
                               Press(&dialog, Qt::Key_Escape);
                           });
                      bTaken = dialog.TakeDocument(strLooping);
                      QVERIFY(dialog.isVisible());
                  });
        boxes.stop();
        QVERIFY(!bTaken);
        QCOMPARE(aSeen, QStringList());
        QCOMPARE(pSend->text(), QString("Send"));
        QCOMPARE(pNumber->text(), QString());
        QCOMPARE(Control<QListWidget>(dialog, IDC_PAGE_LIST)->count(), 2);
    }

    // A send that the server refuses with 535 (a mistyped login), the login corrected in Config,
    // and Send again delivers the pages made for the first one: the real Pagemill, a real server
    // (aiosmtpd with STARTTLS and sign-in, the test CA trusted), the password asked each time as
    // there is no keyring, and every window worked with the mouse and the keyboard.
    void ASendRefusedWithA535GoesOutOnceConfigIsFixed()
    {
        const CTrustedTestCa ca(VELLUM_TEST_CA_SCRIPT, "window-input-ca");
        QCOMPARE(ca.Failure(), std::string());
        for (int nPage = 1; nPage <= 2; ++nPage)
            QVERIFY(platform::WriteWholeFile(platform::DrivePath(platform::RasterFileName(nPage)),
                                             std::string(platform::RASTER_BYTES, '\0')));
        WritePageCount(platform::PageCountByte(2));
        std::filesystem::copy_file(PAGEMILL_PROGRAM, platform::SystemDirectory() / "Pagemill",
                                   std::filesystem::copy_options::overwrite_existing);
        // The server takes the fax pages that the first send made, byte for byte.
        CSmtpPeer peer;
        const int nPort = peer.Start(
            {"--from", "ann@example.org", "--to", GatewayAddress("Ann", "8675512345"), "--security",
             "starttls", "--cert", ca.Certificate("good"), "--key", ca.Key("good"), "--user",
             "ann@example.org", platform::DrivePath(platform::FaxPageFileName(1)).string(),
             platform::DrivePath(platform::FaxPageFileName(2)).string()},
            {"SMTP_PEER_PASSWORD=s3cret"});
        QVERIFY(nPort != 0);
        std::string strError;
        QVERIFY(WriteSettings("127.0.0.1:" + std::to_string(nPort), "ann@example.org", "Ann", strError));
        SProviderSettings provider;
        provider.m_eSecurity = ESmtpSecurity::StartTls;
        provider.m_strLogin = "ann@exmaple.org";
        QVERIFY(WriteProviderSettings(provider, strError));

        CSendDialog dialog;
        QStringList aSeen;
        RunDialog(dialog,
                  [&]
                  {
                      Type(Control<QLineEdit>(dialog, IDC_FAX_NUMBER), "8675512345");
                      Type(Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit(), "Ann");
                      const auto sendAndAnswer = [&]
                      {
                          WhenShown<CCredentialsDialog>(
                              [](CCredentialsDialog* pAsk)
                              {
                                  Type(pAsk->findChild<QLineEdit*>("password"), "s3cret");
                                  Press(pAsk, Qt::Key_Return);
                              });
                          WhenShown<QMessageBox>(
                              [&](QMessageBox* pBox)
                              {
                                  aSeen << pBox->text();
                                  Click(pBox->button(QMessageBox::Ok));
                              });
                          Click(Control<QPushButton>(dialog, IDOK));
                      };
                      sendAndAnswer();
                      WhenShown<CSettingsDialog>(
                          [](CSettingsDialog* pConfig)
                          {
                              auto* pLogin = Control<QLineEdit>(*pConfig, IDC_LOGIN);
                              Click(pLogin);
                              QTest::keyClick(WindowOf(pLogin), Qt::Key_A, Qt::ControlModifier);
                              Keys(pLogin, "ann@example.org");
                              Press(pConfig, Qt::Key_Return);
                          });
                      Click(Control<QPushButton>(dialog, IDC_CONFIG));
                      sendAndAnswer();
                  });
        std::string strReport;
        QVERIFY2(peer.Finish(strReport), strReport.c_str());
        QCOMPARE(aSeen.size(), 2);
        QVERIFY2(
            aSeen[0].contains("The server said: 535") &&
                aSeen[0].endsWith("\nPlease push the Config button to correct the Login or the Password"),
            qPrintable(aSeen[0]));
        QCOMPARE(aSeen[1], QString(SEND_SUCCESS_TEXT));
    }

    // The start-up message of a printer that left nothing, shown before the dialog runs.
    // Check, clicked, lists what will work in a box that Return closes; Alt+K while the gateway's
    // web server never answers, then Escape, ends it, and the box, closed by a click on OK, says so.
    // The dialog stays open, the raster stays for the send, and the SMTP server never sees MAIL.
    void TheCheckListsWhatWillWorkAndEscapeEndsIt()
    {
        std::filesystem::copy_file(PAGEMILL_PROGRAM, platform::SystemDirectory() / "Pagemill",
                                   std::filesystem::copy_options::overwrite_existing);
        QVERIFY(platform::WriteWholeFile(platform::DrivePath(platform::RasterFileName(1)),
                                         std::string(platform::RASTER_BYTES, '\0')));
        WritePageCount(platform::PageCountByte(1));
        Server::SReply silence = Server::Head(200, "");
        silence.m_eThen = Server::SReply::EThen::Hold;
        Server gateway({Server::Reply(200, "", "Bingo"), silence});
        CSmtpPeer peer;
        const int nPort =
            peer.Start({"--from", "x@example.org", "--to", "y@example.org", "--expect-no-mail"});
        std::string strError;
        QVERIFY(WriteSettings("127.0.0.1:" + std::to_string(nPort), "ann@example.org", "Ann", strError));
        SProviderSettings provider;
        provider.m_eSecurity = ESmtpSecurity::None;
        provider.m_strQueryHost = gateway.HostPort();
        QVERIFY(WriteProviderSettings(provider, strError));

        CSendDialog dialog;
        auto* pCheck = Control<QPushButton>(dialog, IDC_CHECK);
        QStringList aLines; // the box's summary, then its list
        const auto read = [&aLines](CSendCheckBox* pBox)
        {
            aLines = QStringList{pBox->Summary()->text()};
            for (int i = 0; i < pBox->List()->count(); ++i)
                aLines << pBox->List()->item(i)->text();
        };
        RunDialog(
            dialog,
            [&]
            {
                Type(Control<QLineEdit>(dialog, IDC_FAX_NUMBER), "8675512345");
                Type(Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit(), "Ann");
                WhenShown<CSendCheckBox>([&](CSendCheckBox* pBox)
                                         { read(pBox), Press(pBox, Qt::Key_Return); });
                Click(pCheck);
                QCOMPARE(aLines.mid(0, 3),
                         (QStringList{"Everything checked will work. Nothing was sent.",
                                      "OK: OK! 8675512345 is covered by the free fax service",
                                      "OK: The SMTP server took the connection"}));
                QVERIFY2(aLines.value(3).startsWith("OK: The fax, 1 page, makes a mail of "),
                         qPrintable(aLines.value(3)));

                When([&] { return gateway.Requests().size() == 2; }, [&] { Press(&dialog, Qt::Key_Escape); });
                WhenShown<CSendCheckBox>(
                    [&](CSendCheckBox* pBox) {
                        read(pBox), Click(pBox->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
                    });
                // As the window manager does once the box has closed; the offscreen platform does not.
                dialog.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&dialog));
                QTest::keyClick(WindowOf(&dialog), Qt::Key_K, Qt::AltModifier);
                // The mnemonic shows the button pressed for a moment before it clicks.
                QTRY_COMPARE_WITH_TIMEOUT(aLines.value(1), QString("NOT OK: The check was cancelled"), WAIT);
                QVERIFY(dialog.isVisible() && pCheck->isEnabled());
            });
        std::string strReport;
        QVERIFY2(peer.Finish(strReport), strReport.c_str());
        QVERIFY(std::filesystem::exists(platform::DrivePath(platform::RasterFileName(1))));
    }

    // A number one digit off the book's number for the name asks before the send: Escape sends
    // nothing, Return sends to the book's number, and Alt+N to the number as typed.
    void TheMisdialQuestionIsAnsweredByKeyboard()
    {
        std::filesystem::copy_file(PAGEMILL_PROGRAM, platform::SystemDirectory() / "Pagemill",
                                   std::filesystem::copy_options::overwrite_existing);
        std::string strError;
        CAddressBook book;
        QVERIFY(book.Save("Bob", "4930123", strError));
        SProviderSettings provider;
        provider.m_eSecurity = ESmtpSecurity::None;
        QVERIFY(WriteProviderSettings(provider, strError));
        const auto question = []() -> QMessageBox*
        {
            QMessageBox* pBox = VisibleWindow<QMessageBox>();
            return pBox && pBox->objectName() == "misdial" ? pBox : nullptr;
        };
        const auto answer = [&](Qt::Key key, Qt::KeyboardModifiers modifiers)
        {
            When([&] { return question() != nullptr; },
                 [&, key, modifiers] { QTest::keyClick(WindowOf(question()), key, modifiers); });
        };
        struct SAnswer
        {
            const char* m_pszNumber;
            Qt::Key m_key;
            Qt::KeyboardModifiers m_modifiers;
        };
        for (const SAnswer& expected : {SAnswer{"4930123", Qt::Key_Return, Qt::KeyboardModifiers()},
                                        SAnswer{"4930124", Qt::Key_N, Qt::AltModifier}})
        {
            // A named variable: clang 14 cannot capture a structured binding in a lambda.
            const std::string strNumber = expected.m_pszNumber;
            CScriptedSmtpServer server(
                {"S: 220 mx", "C: HELO *", "S: 250 mx", "C: MAIL From: <ann@example.org>", "S: 250 ok",
                 "C: RCPT TO: <" + GatewayAddress("Bob", strNumber) + ">", "S: 250 ok", "C: DATA",
                 "S: 354 go", "C: <DATA>", "S: 250 queued", "C: QUIT", "S: 221 bye"});
            QVERIFY(WriteSettings("127.0.0.1:" + std::to_string(server.Port()), "ann@example.org", "Ann",
                                  strError));
            QVERIFY(platform::WriteWholeFile(platform::DrivePath(platform::RasterFileName(1)),
                                             std::string(platform::RASTER_BYTES, '\0')));
            WritePageCount(platform::PageCountByte(1));
            CSendDialog dialog;
            auto* pNumber = Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
            RunDialog(dialog,
                      [&]
                      {
                          Type(pNumber, "4930124");
                          Type(Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit(), "Bob");
                          answer(Qt::Key_Escape, {});
                          Press(&dialog, Qt::Key_Return);
                          QVERIFY(dialog.isVisible());
                          answer(expected.m_key, expected.m_modifiers);
                          // The outcome's box, which the question's is not.
                          When([&]
                               { return VisibleWindow<QMessageBox>() != nullptr && question() == nullptr; },
                               [] { Press(VisibleWindow<QMessageBox>(), Qt::Key_Return); });
                          Press(&dialog, Qt::Key_Return);
                          QCOMPARE(pNumber->text(), QString::fromStdString(strNumber));
                      });
            QCOMPARE(server.Finish(), std::string());
        }
    }

    void TheStartUpMessageTakesAClickAndTheKeyboard()
    {
        WritePageCount(1);
        for (const bool bByKey : {false, true})
        {
            int nSeen = 0;
            WhenShown<QMessageBox>(
                [&](QMessageBox* pBox)
                {
                    ++nSeen;
                    if (bByKey)
                        Press(pBox, Qt::Key_Return);
                    else
                        Click(pBox->button(QMessageBox::Ok));
                });
            CSendDialog dialog;
            QCOMPARE(nSeen, 1);
            QVERIFY(!dialog.InitCompleted());
        }
    }

    // A first start that cannot set the user up says why in a box before any window, which
    // takes a click and the keyboard.
    void AFailedFirstStartIsToldInABoxThatTakesAClickAndTheKeyboard()
    {
        const driver::SUserAccount account{"ada", ::getuid() == 0 ? 1000 : ::getuid(), ::getgid(),
                                           m_root.filePath("home").toStdString()};
        const auto root = account.m_home / ".local/share/vellum";
        std::filesystem::create_directories(root);
        QVERIFY(platform::WriteWholeFile(root / "windows", "a file where a folder belongs"));
        for (const bool bByKey : {false, true})
        {
            QStringList aSeen;
            WhenShown<QMessageBox>(
                [&](QMessageBox* pBox)
                {
                    aSeen << pBox->text();
                    bByKey ? Press(pBox, Qt::Key_Return) : Click(pBox->button(QMessageBox::Ok));
                });
            RunFirstStart([&](std::string& strError) { return driver::SetUpUser(account, root, strError); });
            QCOMPARE(aSeen.size(), 1);
            QVERIFY2(aSeen[0].startsWith(QString(SET_UP_FAILED_TEXT) + "the folder " +
                                         QString::fromStdString((root / "windows/system").string())),
                     qPrintable(aSeen[0]));
        }
    }
};

QTEST_MAIN(WindowInputTest)
#include "WindowInputTest.moc"
