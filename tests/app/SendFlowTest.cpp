// Send in the main dialog on the offscreen platform, with the real Pagemill installed in
// the system directory and real SMTP peers: every outcome's message, the address book
// after it, the button's state and the files left behind.

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "resources/DialogTables.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/RecipientList.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SentFaxes.h"
#include "sender/record/SentFaxStore.h"
#include "sender/send/SendOperation.h"
#include "sender/store/SettingsFile.h"
#include "tests/pages/TestDocuments.h"
#include "tests/support/MailDrop.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/UnusedPort.h"

#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace resources;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace
{

const std::string CAPTION = "Vellum Zeru 3.1";

std::string Raster(int nSeed)
{
    std::string strRaster(platform::RASTER_BYTES, '\0');
    for (std::size_t i = static_cast<std::size_t>(nSeed); i < platform::RASTER_BYTES;
         i += 89 + static_cast<std::size_t>(nSeed))
        strRaster[i] = 1;
    return strRaster;
}

} // namespace

class CSendFlowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_pRoot;
    fs::path m_root;

    fs::path Drive(const std::string& strName) const { return m_root / "c" / strName; }
    std::string Messages() const
    {
        return platform::ReadWholeFile(m_root / "messages.log", 1 << 20).value_or(std::string());
    }
    std::string Book() const
    {
        return platform::ReadWholeFile(m_root / "windows/system/flist.dll", 1 << 20).value_or("(none)");
    }
    void Write(const fs::path& path, const std::string& strBytes)
    {
        QVERIFY(platform::WriteWholeFile(path, strBytes));
    }

    // The page files of a fax of nPages pages as the printer leaves them.
    void Print(int nPages)
    {
        for (int n = 1; n <= nPages; ++n)
            Write(Drive("quill." + std::to_string(n)), Raster(n));
        Write(Drive("Page.tmp"), std::string(1, static_cast<char>(nPages + 1)));
    }
    void Configure(const std::string& strServer, const std::string& strEmail = "ann@example.org")
    {
        std::string strError;
        QVERIFY(WriteSettings(strServer, strEmail, "Ann", strError));
    }

    static QPushButton* SendButton(CSendDialog& dialog)
    {
        return CDialogBuilder::Control<QPushButton>(dialog, IDOK);
    }

    // Types the recipient and number and presses Send; returns the button's text and state
    // as the dialog repainted while the send ran ("" when nothing ran in between).
    QString Send(CSendDialog& dialog, const QString& strName, const QString& strNumber)
    {
        CDialogBuilder::Control<QComboBox>(dialog, IDC_RECIPIENT)->setEditText(strName);
        CDialogBuilder::Control<QLineEdit>(dialog, IDC_FAX_NUMBER)->setText(strNumber);
        QString strSeen;
        QTimer probe;
        probe.setInterval(0);
        connect(&probe, &QTimer::timeout,
                [&]
                {
                    auto* pButton = SendButton(dialog);
                    if (strSeen.isEmpty())
                        strSeen = pButton->text() + (pButton->isEnabled() ? " enabled" : " disabled");
                });
        probe.start();
        QTest::mouseClick(SendButton(dialog), Qt::LeftButton);
        probe.stop();
        return strSeen;
    }

    void ExpectIdle(CSendDialog& dialog)
    {
        QCOMPARE(SendButton(dialog)->text(), QStringLiteral("Send"));
        QVERIFY(SendButton(dialog)->isEnabled());
        QCOMPARE(dialog.result(), 0);
    }

private slots:
    void init()
    {
        m_pRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pRoot->isValid());
        m_root = m_pRoot->path().toStdString();
        fs::create_directories(m_root / "c");
        fs::create_directories(m_root / "windows/system");
        fs::copy_file(PAGEMILL_PROGRAM, m_root / "windows/system/Pagemill");
        // The printer's PPD, with which a dropped document is rendered, where the Installer puts it.
        fs::copy_file(VELLUM_PPD_FILE, m_root / "windows/system/VellumZeru.ppd");
        qputenv("VELLUM_ROOT", m_pRoot->path().toUtf8());
        qputenv("VELLUM_MESSAGE_LOG", QByteArray::fromStdString((m_root / "messages.log").string()));
    }

    void checksRefuseBeforeAnythingIsRecorded_data()
    {
        QTest::addColumn<QString>("strName");
        QTest::addColumn<QString>("strNumber");
        QTest::addColumn<QString>("strMessage");
        QTest::newRow("no number") << "Bob"
                                   << ""
                                   << "Sorry, fax number shoud not be blank";
        QTest::newRow("plus sign") << "Bob"
                                   << "+4930"
                                   << "Sorry, only number is adopted for fax number";
        QTest::newRow("no name") << ""
                                 << "4930"
                                 << "Sorry, recipient name is required";
        QTest::newRow("a second recipient")
            << "Bob;eve@example.org"
            << "4930" << QString::fromUtf8(RecipientCheckText(ERecipientCheck::RecipientNotMailbox));
        QTest::newRow("a line break")
            << "Bob\r\nRCPT TO:<eve@example.org>"
            << "4930" << QString::fromUtf8(RecipientCheckText(ERecipientCheck::RecipientNotMailbox));
    }

    void checksRefuseBeforeAnythingIsRecorded()
    {
        QFETCH(QString, strName);
        QFETCH(QString, strNumber);
        QFETCH(QString, strMessage);
        Configure("127.0.0.1:" + std::to_string(UnusedPort()));
        Print(1);
        CSendDialog dialog;
        QCOMPARE(Send(dialog, strName, strNumber), QString()); // nothing ran
        QCOMPARE(Messages(), CAPTION + "\t" + strMessage.toStdString() + "\n");
        QCOMPARE(Book(), std::string("(none)"));
        QVERIFY(fs::exists(Drive("quill.1")) && fs::exists(Drive("Page.tmp")));
        ExpectIdle(dialog);
    }

    void settingsThatCannotSendAskForConfig()
    {
        Print(1);
        CSendDialog dialog;
        Send(dialog, "Bob", "4930");
        Configure("127.0.0.1:25", "Ann <ann@example.org>");
        Send(dialog, "Bob", "4930");
        // A damaged gateway address would mail the fax to the built-in gateway.
        Configure("127.0.0.1:25");
        Write(m_root / "windows/system/sendwell.ini", "[Gateway]\nMailAddress=fax@<number>\n");
        Send(dialog, "Bob", "4930");
        QCOMPARE(Messages(),
                 CAPTION + "\tPlease push the Config button to config Name, Email Address and SMTP Server\n" +
                     CAPTION + "\t" + EMAIL_NOT_PLAIN_TEXT + "\n" + CAPTION + "\t" +
                     GatewaySettingText(EGatewayTemplateCheck::BadDomain) + "\n");
        QCOMPARE(Book(), std::string("(none)"));
        ExpectIdle(dialog);
    }

    // A failed send keeps its pages: the preview shows them from the fax pages, and a second
    // Send tries them again. Pages that are gone are said to be so, and the list is emptied.
    void aFailedConnectionKeepsTheDialogOpenAndThePagesForASecondSend()
    {
        Configure("127.0.0.1:" + std::to_string(UnusedPort()));
        Print(2);
        CSendDialog dialog;
        QCOMPARE(Send(dialog, "X. Y", "0049301"), QStringLiteral("Wait... disabled"));
        const std::string strFailed = CAPTION + "\tThere some error when connecting internet, please check  "
                                                "the internet configure and connection\n";
        QCOMPARE(Messages(), strFailed);
        // Recorded with the underscores, before the send; the pages were made and stay.
        QVERIFY(Book().find("X__Y") != std::string::npos);
        QVERIFY(Book().find("0049301") != std::string::npos);
        QVERIFY(fs::file_size(Drive("quill1.tif")) > 0 && fs::file_size(Drive("quill2.tif")) > 0);
        QVERIFY(fs::exists(Drive("Page.tmp")) && !fs::exists(Drive("quill.1")));
        ExpectIdle(dialog);
        auto* pPages = CDialogBuilder::Control<QListWidget>(dialog, IDC_PAGE_LIST);
        QCOMPARE(pPages->count(), 2);
        QTest::mouseClick(CDialogBuilder::Control<QPushButton>(dialog, IDC_PREVIEW), Qt::LeftButton);
        QVERIFY(dialog.PreviewLoaded());

        Send(dialog, "X. Y", "0049301");
        QCOMPARE(Messages(), strFailed + strFailed);
        ExpectIdle(dialog);

        fs::remove(Drive("Page.tmp"));
        Send(dialog, "X. Y", "0049301");
        QCOMPARE(Messages(),
                 strFailed + strFailed + CAPTION +
                     "\tSorry, there are no fax pages to send; please print the document again\n");
        QCOMPARE(pPages->count(), 0);
        ExpectIdle(dialog);
    }

    void aFailedConversionSendsNothing()
    {
        // Nothing listens: an attempt to send would be reported as a connection failure.
        Configure("127.0.0.1:" + std::to_string(UnusedPort()));
        Write(Drive("quill.1"), Raster(1));
        Write(Drive("quill2.tif"), "the page of an older fax");
        Write(Drive("Page.tmp"), "\x04"); // raster 2 is missing
        CSendDialog dialog;
        Send(dialog, "Bob", "4930");
        QCOMPARE(Messages(),
                 CAPTION + "\tSorry, the fax pages could not be made, so nothing was sent; please print "
                           "the document again\n");
        QVERIFY(!fs::exists(Drive("quill2.tif")));
        QVERIFY(fs::exists(Drive("Page.tmp")));
        ExpectIdle(dialog);
    }

    void aPageCountOfOneIsReportedUnderTheProgramsTitle()
    {
        Configure("127.0.0.1:" + std::to_string(UnusedPort()));
        Write(Drive("Page.tmp"), "\x01");
        CSendDialog dialog;
        const std::string strBefore = Messages(); // the start-up's own message
        Send(dialog, "Bob", "4930");
        // Pagemill itself says first that it found nothing to convert.
        QCOMPARE(Messages(), strBefore + "警告\t该程序不能单独运行，只能与Quill科技--Vellum打印机共同使用\n" +
                                 QCoreApplication::applicationName().toStdString() +
                                 "\tVellum Star3.0 could not run, Please install it again\n");
        QVERIFY(!fs::exists(Drive("Page.tmp")));
        ExpectIdle(dialog);
    }

    void aRefusedMessageIsReported()
    {
        Print(1);
        const std::string strGateway = GatewayAddress("Bob", "4930");
        CScriptedSmtpServer server({"S: 220 ready", "C: HELO *", "S: 250 hi",
                                    "C: MAIL From: <ann@example.org>", "S: 250 ok",
                                    "C: RCPT TO: <" + strGateway + ">", "S: 250 ok", "C: DATA", "S: 354 go",
                                    "C: <DATA>", "S: 554 refused", "C: QUIT", "S: 221 bye"});
        Configure("127.0.0.1:" + std::to_string(server.Port()));
        CSendDialog dialog;
        Send(dialog, "Bob", "4930");
        QCOMPARE(server.Finish(), std::string());
        QCOMPARE(Messages(),
                 CAPTION + "\tThe are some error when sending fax, please check the internet configure\n");
        ExpectIdle(dialog);
    }

    void aDeliveredFaxClosesTheDialogAfterTheSuccessMessage()
    {
        Print(3);
        const std::string strGateway = GatewayAddress("Bob_Smith", "4930123");
        std::vector<std::string> args = {"--from", "ann@example.org", "--to", strGateway};
        for (int n = 1; n <= 3; ++n)
            args.push_back(Drive("quill" + std::to_string(n) + ".tif").string());
        CSmtpPeer peer;
        const int nPort = peer.Start(args);
        QVERIFY(nPort != 0);
        Configure("127.0.0.1:" + std::to_string(nPort));

        CSendDialog dialog;
        dialog.show();
        QCOMPARE(Send(dialog, "Bob Smith", "4930123"), QStringLiteral("Wait... disabled"));

        std::string strReport;
        QVERIFY2(peer.Finish(strReport), strReport.c_str());
        QCOMPARE(Messages(), CAPTION + "\t" + SEND_SUCCESS_TEXT + "\n");
        QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(SendButton(dialog)->text(), QStringLiteral("Send"));
        QVERIFY(Book().find("Bob_Smith") != std::string::npos);
        QVERIFY(!fs::exists(Drive("Page.tmp")));
    }

    // The script of one delivery whose end of data the server answers with strEnd.
    static std::vector<std::string> Delivery(const std::string& strGateway, const std::string& strEnd)
    {
        return {"S: 220 ready", "C: HELO *",
                "S: 250 hi",    "C: MAIL From: <ann@example.org>",
                "S: 250 ok",    "C: RCPT TO: <" + strGateway + ">",
                "S: 250 ok",    "C: DATA",
                "S: 354 go",    "C: <DATA>",
                strEnd,         "C: QUIT",
                "S: 221 bye"};
    }

    // Three sends, the second refused at the end of the data: two records, each with the
    // server's reply as it was sent and copies of its pages that libtiff decodes to the rasters.
    void sendsTheServerTookAreRecordedWithTheirPages()
    {
        const std::string aNames[] = {"Ann", "Bob", "Cleo"};
        const std::string aEnds[] = {"S: 250-2.0.0 Ok\r\n250 2.0.0 Ok: queued as 4F1A",
                                     "S: 554 5.7.1 refused", "S: 250 2.0.0 Ok: queued as 9C3D"};
        for (int i = 0; i < 3; ++i)
        {
            Print(i + 1);
            CScriptedSmtpServer server(Delivery(GatewayAddress(aNames[i], "4930"), aEnds[i]));
            Configure("127.0.0.1:" + std::to_string(server.Port()));
            CSendDialog dialog;
            Send(dialog, QString::fromStdString(aNames[i]), "4930");
            QCOMPARE(server.Finish(), std::string());
        }
        CSentFaxStore store(m_root / "windows/system/sent");
        std::string strError;
        QVERIFY2(store.Open(strError), strError.c_str());
        const auto aFaxes = store.List();
        QCOMPARE(aFaxes.size(), std::size_t{2});
        QCOMPARE(aFaxes[0].m_strRecipient, std::string("Cleo"));
        QCOMPARE(aFaxes[0].m_strServerReply, std::string("250 2.0.0 Ok: queued as 9C3D"));
        QCOMPARE(aFaxes[1].m_strRecipient, std::string("Ann"));
        QCOMPARE(aFaxes[1].m_strServerReply, std::string("250-2.0.0 Ok\n250 2.0.0 Ok: queued as 4F1A"));
        QCOMPARE(aFaxes[1].m_strFaxNumber, std::string("4930"));
        QCOMPARE(aFaxes[1].m_strGatewayAddress, GatewayAddress("Ann", "4930"));
        QVERIFY(aFaxes[1].m_strMessageId.starts_with("<"));
        QVERIFY(aFaxes[1].m_nMailBytes > 0);
        QCOMPARE(aFaxes[0].m_nPages, 3);
        QCOMPARE(aFaxes[1].m_nPages, 1);
        for (int n = 1; n <= 3; ++n)
        {
            const auto raster = ReadFaxPageRaster(store.PagePath(aFaxes[0], n), strError);
            QVERIFY2(raster.has_value(), strError.c_str());
            const std::string strExpected = Raster(n);
            QVERIFY(std::equal(raster->begin(), raster->end(), strExpected.begin(), strExpected.end(),
                               [](std::uint8_t a, char b) { return (a != 0) == (b != 0); }));
        }
        QCOMPARE(Messages(),
                 (CAPTION + "\t" + SEND_SUCCESS_TEXT + "\n") +
                     (CAPTION + "\tThe are some error when sending fax, please check the internet "
                                "configure\n") +
                     (CAPTION + "\t" + SEND_SUCCESS_TEXT + "\n"));
    }

    // A record that cannot be kept never stops the fax: it goes out, the user is told, and the
    // damaged database is left as it was.
    void aDamagedRecordDoesNotStopTheSend()
    {
        const fs::path db = m_root / "windows/system/sent" / SENT_DATABASE_NAME;
        fs::create_directories(db.parent_path());
        const std::string strDamaged = "SQLite format 3" + std::string(2000, '\x01');
        Write(db, strDamaged);
        Print(1);
        CScriptedSmtpServer server(Delivery(GatewayAddress("Bob", "4930"), "S: 250 queued"));
        Configure("127.0.0.1:" + std::to_string(server.Port()));
        CSendDialog dialog;
        Send(dialog, "Bob", "4930");
        QCOMPARE(server.Finish(), std::string());
        QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
        const std::string strMessages = Messages();
        QVERIFY2(
            strMessages.starts_with(CAPTION + "\t" + SEND_SUCCESS_TEXT + "\n" + CAPTION +
                                    "\tThe fax was sent, but it could not be kept among the sent faxes: "),
            strMessages.c_str());
        // Said plainly: the file's name, not the user's whole path.
        QVERIFY(strMessages.find("(sent.db) is damaged") != std::string::npos);
        QVERIFY(strMessages.find(db.string()) == std::string::npos);
        QCOMPARE(platform::ReadWholeFile(db, 1 << 20).value_or(""), strDamaged);
        QCOMPARE(std::distance(fs::directory_iterator(db.parent_path()), fs::directory_iterator()), 1);
        QVERIFY(Book().find("Bob") != std::string::npos);
    }

    // Three recipients typed in with the list's + and the keyboard (a fourth added and removed
    // again), the second refused by the server: the other two have the fax, each its own record,
    // all three are in the address book, the message names the one refused, and it alone stays
    // in the list with the pages for a send again. The third's number, one digit off the book's,
    // is asked about, and the book's (the question's default) goes.
    void severalRecipientsEachHaveTheirOwnOutcome()
    {
        Print(2);
        {
            CAddressBook book;
            std::string strError;
            QVERIFY(book.Save("Cleo", "4930333", strError));
        }
        CMailDrop drop;
        const int nPort =
            drop.Start(m_root / "mail", {"--messages", "2", "--refuse", GatewayAddress("Bob", "4930222")});
        QVERIFY(nPort != 0);
        Configure("127.0.0.1:" + std::to_string(nPort));
        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        CRecipientList& recipients = dialog.Recipients();
        auto* pName = CDialogBuilder::Control<QComboBox>(dialog, IDC_RECIPIENT)->lineEdit();
        auto* pNumber = CDialogBuilder::Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
        const std::pair<const char*, const char*> aTyped[] = {
            {"Ann", "4930111"}, {"Bob", "4930222"}, {"Cleo", "4930334"}, {"Dan", "4930444"}};
        for (const auto& [pszName, pszNumber] : aTyped)
        {
            // + starts an empty entry and puts the cursor in the name box for it.
            QTest::mouseClick(pName->text().isEmpty() ? static_cast<QWidget*>(pName) : recipients.AddButton(),
                              Qt::LeftButton);
            QCOMPARE(dialog.focusWidget(), CDialogBuilder::Control(dialog, IDC_RECIPIENT));
            QTest::keyClicks(pName, pszName);
            QTest::mouseClick(pNumber, Qt::LeftButton);
            QTest::keyClicks(pNumber, pszNumber);
        }
        QCOMPARE(recipients.Count(), 4);
        recipients.RemoveButton()->setFocus();
        QTest::keyClick(recipients.RemoveButton(), Qt::Key_Space);
        QCOMPARE(recipients.Count(), 3);
        QCOMPARE(pName->text(), QStringLiteral("Cleo"));
        // Up in the list shows Bob in the boxes.
        recipients.List()->setFocus();
        QTest::keyClick(recipients.List(), Qt::Key_Up);
        QCOMPARE(pNumber->text(), QStringLiteral("4930222"));

        QTest::mouseClick(SendButton(dialog), Qt::LeftButton);
        QVERIFY(drop.Finish());
        const std::string strMessages = Messages();
        const auto nAsked = strMessages.find("Did you mean 4930333 (Cleo)?");
        QVERIFY2(nAsked != std::string::npos, strMessages.c_str());
        QVERIFY2(
            strMessages.find(CAPTION +
                             "\tThe fax was sent to 2 of 3 recipients; its pages are kept for a send to the "
                             "others:\\nAnn (4930111): sent\\nBob (4930222): not sent: ") > nAsked,
            strMessages.c_str());
        QVERIFY2(strMessages.ends_with("\\nCleo (4930333): sent\n"), strMessages.c_str());
        CSentFaxStore store(m_root / "windows/system/sent");
        std::string strError;
        QVERIFY2(store.Open(strError), strError.c_str());
        QStringList aRecorded;
        for (const SSentFax& fax : store.List())
            aRecorded << QString::fromStdString(fax.m_strRecipient + " " + fax.m_strGatewayAddress);
        aRecorded.sort();
        QCOMPARE(aRecorded,
                 (QStringList{QString::fromStdString("Ann " + GatewayAddress("Ann", "4930111")),
                              QString::fromStdString("Cleo " + GatewayAddress("Cleo", "4930333"))}));
        for (const char* pszName : {"Ann", "Bob", "Cleo"})
            QVERIFY(Book().find(pszName) != std::string::npos);
        QCOMPARE(recipients.Count(), 1);
        QCOMPARE(pName->text(), QStringLiteral("Bob"));
        QVERIFY(fs::exists(Drive("Page.tmp")));
        ExpectIdle(dialog);
    }

    // A document dropped on the dialog becomes its pages, as printing it would make them; one
    // that cannot be rendered is reported and the printed pages stay.
    void aDroppedDocumentBecomesThePagesAndARefusedOneLeavesThem()
    {
        Print(1);
        const std::string strPrinted = platform::ReadWholeFile(Drive("quill.1"), 1 << 22).value_or("");
        CSendDialog dialog;
        dialog.show();
        auto* pPages = CDialogBuilder::Control<QListWidget>(dialog, IDC_PAGE_LIST);
        QCOMPARE(pPages->count(), 1);
        const auto drop = [&dialog](const fs::path& file)
        {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
            const QPoint at = dialog.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&dialog, &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&dialog, &drop);
        };

        const fs::path picture = m_root / "picture.png";
        Write(picture, "\x89PNG\r\n\x1a\n a damaged image");
        drop(picture);
        QTRY_VERIFY_WITH_TIMEOUT(!Messages().empty(), 20000);
        QVERIFY2(Messages().starts_with(CAPTION + "\tSorry, the file cannot be faxed: "), Messages().c_str());
        QCOMPARE(pPages->count(), 1);
        QCOMPARE(platform::ReadWholeFile(Drive("quill.1"), 1 << 22).value_or(""), strPrinted);

        const fs::path pdf = m_root / "two.pdf";
        QCOMPARE(testdocs::MakePdf(testdocs::TwoPagePostScript(), pdf), std::string());
        drop(pdf);
        QTRY_COMPARE_WITH_TIMEOUT(pPages->count(), 2, 20000);
        std::string strError;
        const auto reference = testdocs::RenderReference(pdf, strError);
        QCOMPARE(reference.size(), std::size_t{2});
        QVERIFY(testdocs::ReadRasterFile(Drive("quill.2")) == reference[1]);
        QVERIFY(dialog.HasRasterBuffer());
    }
};

QTEST_MAIN(CSendFlowTest)
#include "SendFlowTest.moc"
