// The Online Query button with Qt Test on the offscreen platform: its state across a
// query, the worker's windows that leave the dialog usable, the password question, and
// destroying it while a query runs.

#include "sender/app/QueryButton.h"

#include "resources/DialogTables.h"
#include "sender/app/CredentialsDialog.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/SendDialog.h"
#include "tests/support/ScriptedHttpServer.h"
#include "tests/support/UnusedPort.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <arpa/inet.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Server = CScriptedHttpServer;
using Reply = CScriptedHttpServer::SReply;
using namespace std::chrono_literals;

constexpr int WAIT = 20000;

template <typename T> T* VisibleWindow()
{
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pWindow = qobject_cast<T*>(pWidget); pWindow != nullptr && pWindow->isVisible())
            return pWindow;
    return nullptr;
}

} // namespace

class QueryButtonTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::string m_strLog;
    std::unique_ptr<QWidget> m_pDialog;
    QPushButton* m_pButton = nullptr;
    std::unique_ptr<CQueryButton> m_pQuery;

    void LogMessages() { ::setenv("VELLUM_MESSAGE_LOG", m_strLog.c_str(), 1); }
    void ShowMessages() { ::unsetenv("VELLUM_MESSAGE_LOG"); }

    std::string Log() const
    {
        std::ifstream file(m_strLog);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    void Start(const std::string& strHost, const std::string& strNumber = "8675512345")
    {
        m_pQuery->m_options.m_strHost = strHost;
        m_pQuery->OnOnlineQuery(strNumber);
    }

    // A window that the window manager keeps above the dialog: transient for it.
    bool KeptAboveTheDialog(QWidget* pWindow) const
    {
        return pWindow->isWindow() && pWindow->windowHandle()->transientParent() == m_pDialog->windowHandle();
    }

    bool Idle() const
    {
        return !m_pQuery->IsQuerying() && m_pButton->isEnabled() && m_pButton->text() == "Online Query";
    }
    bool Busy() const
    {
        return m_pQuery->IsQuerying() && !m_pButton->isEnabled() && m_pButton->text() == "Wait...";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_strLog = m_dir.filePath("messages.log").toStdString();
        for (const char* pszName :
             {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            ::unsetenv(pszName);
    }

    void init()
    {
        std::remove(m_strLog.c_str());
        m_pDialog = std::make_unique<QWidget>();
        m_pButton = new QPushButton("Online Query", m_pDialog.get());
        m_pQuery = std::make_unique<CQueryButton>(m_pButton);
        m_pQuery->m_options.m_limits.m_durConnect = 5s;
        m_pQuery->m_options.m_limits.m_durTransfer = 20s;
        m_pDialog->show();
        LogMessages();
    }

    void cleanup()
    {
        m_pQuery.reset();
        m_pDialog.reset();
        for (QWidget* pWidget : QApplication::topLevelWidgets())
            if (pWidget->isVisible())
                QFAIL(qPrintable("a window was left open: " + pWidget->windowTitle()));
    }

    void StartChecksRefuseWithoutAQuery()
    {
        Server server({});
        Start(server.HostPort(), "");
        Start(server.HostPort(), " 8675512345");
        Start(GATEWAY_WEB_HOST, "8675512345123456");
        QCOMPARE(
            QString::fromStdString(Log()),
            QString::fromUtf8("Vellum Zeru 3.1\tSorry, the fax number could not be blank\n"
                              "Vellum Zeru 3.1\tSorry, only number is adopted for fax number\n"
                              "Vellum Zeru 3.1\tSorry, the fax number could not be longer than 15 digits\n"));
        QVERIFY(Idle());
        QVERIFY(server.Requests().empty());
    }

    void TheButtonWaitsWhileQueryingAndComesBack()
    {
        Reply held = Server::Reply(200, "", "<b>Bingo</b>\r\n");
        held.m_bWaitForRelease = true;
        Server server({held});
        QSignalSpy finished(m_pQuery.get(), &CQueryButton::QueryFinished);
        Start(server.HostPort());
        QVERIFY(Busy());
        QVERIFY(server.WaitForRequests(1));
        // A click on the disabled button and a second start both leave the one query alone.
        QTest::mouseClick(m_pButton, Qt::LeftButton);
        m_pQuery->OnOnlineQuery("123");
        QCoreApplication::processEvents();
        QVERIFY(Busy());
        QCOMPARE(m_pQuery->QueryNumber(), std::string("8675512345"));
        server.Release();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
        QVERIFY(Idle());
        QCOMPARE(m_pQuery->LastResult().m_eOutcome, EQueryOutcome::Covered);
        QCOMPARE(QString::fromStdString(Log()),
                 QString::fromUtf8("Vellum Zeru 3.1\tOK! 8675512345 is covered by the free fax service\n"));
        QCOMPARE(server.Requests().size(), std::size_t{1});
    }

    void ASilentEndAlsoBringsTheButtonBack()
    {
        QSignalSpy finished(m_pQuery.get(), &CQueryButton::QueryFinished);
        Start("127.0.0.1:" + std::to_string(UnusedPort()));
        QVERIFY(Busy());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
        QVERIFY(Idle());
        QCOMPARE(m_pQuery->LastResult().m_eOutcome, EQueryOutcome::TransferFailed);
        QVERIFY(Log().empty());

        // And the button serves the next query.
        Server server({Server::Reply(302, "Location: https://{SELF}/\r\n", "")});
        Start(server.HostPort());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, WAIT);
        QVERIFY(Idle());
        QCOMPARE(m_pQuery->LastResult().m_nTearCode, 2);
        QVERIFY(Log().empty());
    }

    void TheAnswerLeavesTheDialogUsableAndTheButtonWaitsForIt()
    {
        ShowMessages();
        Server server({Server::Reply(200, "", "Sorry\r\n")});
        QSignalSpy finished(m_pQuery.get(), &CQueryButton::QueryFinished);
        Start(server.HostPort());
        QMessageBox* pBox = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
        QCOMPARE(pBox->windowTitle(), QString("Vellum Zeru 3.1"));
        QCOMPARE(pBox->text(), QString("Sorry! 8675512345 is not covered at present"));
        QCOMPARE(pBox->icon(), QMessageBox::Warning);
        // Kept above the dialog by the window manager, yet modal to nothing.
        QVERIFY(KeptAboveTheDialog(pBox));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // The query is still on while the user reads its answer.
        QCoreApplication::processEvents();
        QVERIFY(Busy());
        QCOMPARE(finished.count(), 0);
        QTest::mouseClick(pBox->button(QMessageBox::Ok), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
        QVERIFY(Idle());
        QCOMPARE(m_pQuery->LastResult().m_eOutcome, EQueryOutcome::NotCovered);
    }

    void APasswordAskedForGoesToTheServerOnce()
    {
        ShowMessages();
        Server server({Server::Reply(401, "WWW-Authenticate: Basic realm=\"Fax <b>zone</b>\"\r\n", ""),
                       Server::Reply(200, "", "Bingo")});
        QSignalSpy finished(m_pQuery.get(), &CQueryButton::QueryFinished);
        Start(server.HostPort());
        CCredentialsDialog* pAsk = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((pAsk = VisibleWindow<CCredentialsDialog>()) != nullptr, WAIT);
        QVERIFY(KeptAboveTheDialog(pAsk));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QTest::keyClicks(pAsk->findChild<QLineEdit*>("userName"), "fax");
        auto* pPassword = pAsk->findChild<QLineEdit*>("password");
        QCOMPARE(pPassword->echoMode(), QLineEdit::Password);
        QTest::keyClicks(pPassword, "secret");
        pAsk->accept();
        QMessageBox* pBox = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
        QCOMPARE(pBox->text(), QString("OK! 8675512345 is covered by the free fax service"));
        QCOMPARE(pBox->icon(), QMessageBox::NoIcon);
        pBox->button(QMessageBox::Ok)->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
        QVERIFY(Idle());
        const auto aRequests = server.Requests();
        QCOMPARE(aRequests.size(), std::size_t{2});
        QCOMPARE(HeaderValue(aRequests[1], "Authorization"), std::string("Basic ZmF4OnNlY3JldA=="));
    }

    void ADeclinedPasswordIsReportedInTheProgramsName()
    {
        Server server({Server::Reply(401, "", "")});
        ShowMessages();
        QSignalSpy finished(m_pQuery.get(), &CQueryButton::QueryFinished);
        Start(server.HostPort());
        CCredentialsDialog* pAsk = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((pAsk = VisibleWindow<CCredentialsDialog>()) != nullptr, WAIT);
        LogMessages();
        pAsk->reject();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
        QVERIFY(Idle());
        QCOMPARE(QString::fromStdString(Log()),
                 QCoreApplication::applicationName() + QString::fromUtf8("\t拒绝访问，口令不对\n"));
        QCOMPARE(server.Requests().size(), std::size_t{1});
    }

    void TheMainDialogsButtonQueriesTheTypedNumber()
    {
        QTemporaryDir root;
        ::setenv("VELLUM_ROOT", root.path().toUtf8().constData(), 1);
        Reply held = Server::Reply(200, "", "accessible");
        held.m_bWaitForRelease = true;
        Server server({held});
        {
            CSendDialog dialog;
            dialog.show();
            dialog.QueryButton().m_options.m_strHost = server.HostPort();
            auto* pEdit = CDialogBuilder::Control<QLineEdit>(dialog, resources::IDC_FAX_NUMBER);
            auto* pButton = CDialogBuilder::Control<QPushButton>(dialog, resources::IDC_ONLINE_QUERY);
            QSignalSpy finished(&dialog.QueryButton(), &CQueryButton::QueryFinished);

            QTest::keyClicks(pEdit, "86-755");
            QTest::mouseClick(pButton, Qt::LeftButton);
            QCOMPARE(QString::fromStdString(Log()),
                     QString("Vellum Zeru 3.1\tSorry, only number is adopted for fax number\n"));
            QVERIFY(pButton->isEnabled());

            pEdit->setText("4930123456");
            QTest::mouseClick(pButton, Qt::LeftButton);
            QCOMPARE(dialog.m_strFaxNumber, std::string("4930123456"));
            QVERIFY(!pButton->isEnabled());
            QCOMPARE(pButton->text(), QString("Wait..."));
            QVERIFY(server.WaitForRequests(1));
            QCOMPARE(RequestLine(server.Requests()[0]),
                     std::string("GET /cgi-bin/tpcvrfy.pl?destnumber=4930123456 HTTP/1.1"));
            // The dialog takes input while the query runs.
            pEdit->setText("1");
            QVERIFY(!pButton->isEnabled());
            server.Release();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, WAIT);
            QVERIFY(pButton->isEnabled());
            QCOMPARE(pButton->text(), QString("Online Query"));
            QVERIFY(Log().ends_with("Vellum Zeru 3.1\tOK! 4930123456 is covered by the free fax service\n"));

            // Closing the dialog during a query is safe: the query is stopped with it.
            Server silent({Reply{"", Reply::EThen::Hold, "", {}, false}});
            dialog.QueryButton().m_options.m_strHost = silent.HostPort();
            pEdit->setText("4930123456");
            QTest::mouseClick(pButton, Qt::LeftButton);
            QVERIFY(silent.WaitForRequests(1));
            dialog.reject();
        }
        ::unsetenv("VELLUM_ROOT");
    }

    void DestroyingItStopsARunningQuery()
    {
        m_pQuery->m_options.m_limits.m_durTransfer = 120s;
        Reply silent;
        silent.m_eThen = Reply::EThen::Hold;
        Server server({silent});
        Start(server.HostPort());
        QVERIFY(server.WaitForRequests(1));
        // The worker is stopped and joined; nothing reaches the button afterwards.
        m_pQuery.reset();
        QCoreApplication::processEvents();
        QVERIFY(!m_pButton->isEnabled());
        QVERIFY(Log().empty());
    }

    void DestroyingItClosesTheWindowsOfItsWorker()
    {
        ShowMessages();
        Server server({Server::Reply(200, "", "Bingo"), Server::Reply(401, "", "")});
        Start(server.HostPort());
        QPointer<QMessageBox> pBox;
        QTRY_VERIFY_WITH_TIMEOUT((pBox = VisibleWindow<QMessageBox>()) != nullptr, WAIT);
        m_pQuery.reset();
        QVERIFY(pBox.isNull());

        m_pQuery = std::make_unique<CQueryButton>(m_pButton);
        m_pButton->setEnabled(true);
        Start(server.HostPort());
        QPointer<CCredentialsDialog> pAsk;
        QTRY_VERIFY_WITH_TIMEOUT((pAsk = VisibleWindow<CCredentialsDialog>()) != nullptr, WAIT);
        m_pQuery.reset();
        QVERIFY(pAsk.isNull());
    }
};

QTEST_MAIN(QueryButtonTest)
#include "QueryButtonTest.moc"
