// The sent faxes window on the offscreen platform, operated with the mouse and the keyboard
// through the window system, over records of real Pagemill pages; and Send again, from the
// window over the main dialog to a mail server on loopback, with the same page files.

#include "sender/app/SentFaxWindow.h"

#include "platform/BinaryFile.h"
#include "platform/PageFiles.h"
#include "platform/Process.h"
#include "resources/DialogTables.h"
#include "sender/app/CredentialsDialog.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/PreviewPane.h"
#include "sender/app/SendDialog.h"
#include "sender/app/SentFaxModel.h"
#include "sender/app/SentFaxes.h"
#include "sender/send/SendOperation.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"
#include "tests/support/ScriptedSmtpServer.h"
#include "tests/support/SmtpPeer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <functional>

using namespace resources;
namespace fs = std::filesystem;

namespace
{

constexpr int WAIT = 20000;

// A page with a black block in its top left corner and a pattern that differs per seed.
std::string Raster(int nSeed)
{
    std::string strRaster(platform::RASTER_BYTES, '\0');
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            strRaster[static_cast<std::size_t>(y) * platform::RASTER_ROW_BYTES + x] = 1;
    for (std::size_t i = 5000; i < platform::RASTER_BYTES; i += 97 + static_cast<std::size_t>(nSeed))
        strRaster[i] = 1;
    return strRaster;
}

void Click(QWidget* pWidget, QPoint at = {})
{
    if (at.isNull())
        at = pWidget->rect().center();
    QTest::mouseClick(pWidget->window()->windowHandle(), Qt::LeftButton, {},
                      pWidget->mapTo(pWidget->window(), at));
}

void Key(QWidget* pWidget, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(pWidget->window()->windowHandle(), key, modifiers);
}

void Keys(QWidget* pWidget, const char* pszText)
{
    for (const char* p = pszText; *p != '\0'; ++p)
        QTest::keyClick(pWidget->window()->windowHandle(), *p);
}

template <typename T> T* VisibleWindow()
{
    for (QWidget* pWidget : QApplication::topLevelWidgets())
        if (auto* pWindow = qobject_cast<T*>(pWidget); pWindow && pWindow->isVisible())
            return pWindow;
    return nullptr;
}

// Plays the user on the first window of type T that is shown, from inside the loop that shows
// it; whatever is left open afterwards is closed, so that a failure cannot hang the test.
template <typename T> void WhenShown(std::function<void(T*)> act)
{
    auto* pPoll = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT);
    QObject::connect(pPoll, &QTimer::timeout, pPoll,
                     [pPoll, deadline, act]
                     {
                         T* pWindow = VisibleWindow<T>();
                         if (pWindow == nullptr && std::chrono::steady_clock::now() < deadline)
                             return;
                         pPoll->deleteLater();
                         if (pWindow == nullptr)
                         {
                             QTest::qFail("the window was not shown", __FILE__, __LINE__);
                             return;
                         }
                         act(pWindow);
                         if (pWindow->isVisible())
                             pWindow->close();
                     });
    pPoll->start(20);
}

} // namespace

class CSentFaxWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_pRoot;
    fs::path m_root;

    fs::path Drive(const std::string& strName) const { return m_root / "c" / strName; }
    fs::path SentFolder() const { return m_root / "windows/system/sent"; }

    void Print(int nPages, int nSeed)
    {
        for (int n = 1; n <= nPages; ++n)
            QVERIFY(platform::WriteWholeFile(Drive("quill." + std::to_string(n)), Raster(nSeed + n)));
        QVERIFY(platform::WriteWholeFile(Drive("Page.tmp"), std::string(1, static_cast<char>(nPages + 1))));
    }
    void Configure(int nPort)
    {
        std::string strError;
        QVERIFY(WriteSettings("127.0.0.1:" + std::to_string(nPort), "ann@example.org", "Ann", strError));
        SProviderSettings provider;
        provider.m_eSecurity = ESmtpSecurity::None;
        QVERIFY(WriteProviderSettings(provider, strError));
    }
    // A record of a fax of real fax pages, made as a send makes it.
    void Record(const std::string& strName, const std::string& strNumber, std::int64_t nSentAt, int nPages,
                bool bCover = false)
    {
        Print(nPages, static_cast<int>(nSentAt));
        platform::SRunOptions options;
        options.m_durTimeout = std::chrono::seconds(60);
        QVERIFY(platform::RunProgram({(m_root / "windows/system/Pagemill").string()}, options).Succeeded());
        SSendResult result;
        result.m_nPages = nPages;
        result.m_nSentAt = nSentAt;
        result.m_strMessageId = "<" + strName + "@example.org>";
        result.m_strDataReply = "250 queued as " + strName;
        result.m_bCoverSent = bCover;
        std::string strError;
        QVERIFY2(KeepSentFax(strName, strNumber, "gw", result, {}, strError), strError.c_str());
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
        qputenv("VELLUM_ROOT", m_pRoot->path().toUtf8());
        qputenv("VELLUM_MESSAGE_LOG", QByteArray::fromStdString((m_root / "messages.log").string()));
    }

    // Search, choose, preview, copy the Message-ID, delete and the limit, all by mouse and keys.
    void theWindowTakesTheMouseAndTheKeyboard()
    {
        Record("Acme", "4930111", 1'800'000'000, 2);
        Record("Bob", "4930222", 1'800'000'100, 1);
        Record("Cleo", "4411333", 1'800'000'200, 1);

        CSentFaxWindow window;
        QTimer::singleShot(
            0, &window,
            [&]
            {
                auto* pSearch = window.findChild<QLineEdit*>("search");
                auto* pTable = window.findChild<QTableView*>("faxes");
                auto* pDetails = window.findChild<QPlainTextEdit*>("details");
                auto* pPages = window.findChild<QListWidget*>("pages");
                QCOMPARE(window.Model()->rowCount(), 3);
                QVERIFY(pDetails->toPlainText().contains("<Cleo@example.org>"));

                // The search has the keyboard from the start; a search that finds nothing says so.
                Keys(pSearch, "zz");
                QCOMPARE(pDetails->toPlainText(), QString("No fax matches the search."));
                Key(pSearch, Qt::Key_A, Qt::ControlModifier);
                Keys(pSearch, "4930");
                QCOMPARE(window.Model()->rowCount(), 2);
                QCOMPARE(window.Model()->Fax(0)->m_strRecipient, std::string("Bob"));
                // The second row, Acme, chosen with a click: its two pages, page 1 shown.
                Click(pTable->viewport(), pTable->visualRect(window.Model()->index(1, 1)).center());
                QVERIFY(pDetails->toPlainText().contains("250 queued as Acme"));
                QCOMPARE(pPages->count(), 2);
                QVERIFY(!window.Preview()->View().isNull());
                QCOMPARE(window.Preview()->View().pixelColor(0, 0), QColor(Qt::black));
                QCOMPARE(window.Preview()->View().pixelColor(100, 100), QColor(Qt::white));
                // The slider's top is the page's top: a click low on it moves the view down the page.
                auto* pVertical = window.findChild<QSlider*>("vertical");
                const QImage top = window.Preview()->View();
                Click(pVertical, QPoint(pVertical->width() / 2, pVertical->height() - 4));
                QVERIFY(pVertical->value() > 0);
                QVERIFY(window.Preview()->View() != top);

                // The details are copied with the keyboard.
                Click(pDetails->viewport());
                Key(pDetails, Qt::Key_A, Qt::ControlModifier);
                Key(pDetails, Qt::Key_C, Qt::ControlModifier);
                QVERIFY(QApplication::clipboard()->text().contains("Message-ID: <Acme@example.org>"));

                // Delete, confirmed (the message log answers), takes the row and its pages.
                Click(window.findChild<QPushButton*>("delete"));
                QCOMPARE(window.Model()->rowCount(), 1);
                QCOMPARE(window.Model()->Fax(0)->m_strRecipient, std::string("Bob"));

                Click(pSearch);
                Key(pSearch, Qt::Key_A, Qt::ControlModifier);
                Key(pSearch, Qt::Key_Backspace);
                QCOMPARE(window.Model()->rowCount(), 2);

                // 0 megabytes typed is no limit: nothing is deleted.
                auto* pMegabytes = window.findChild<QSpinBox*>("keepMegabytes");
                Click(pMegabytes);
                Key(pMegabytes, Qt::Key_A, Qt::ControlModifier);
                Keys(pMegabytes, "0");
                Key(pMegabytes, Qt::Key_Return);
                QCOMPARE(pMegabytes->text(), QString("no limit"));
                QCOMPARE(ReadProviderSettings().m_sentLimits.m_nMaxMegabytes, 0);

                // Keep at most one fax: the question names how many go; the user clicks.
                qunsetenv("VELLUM_MESSAGE_LOG");
                auto* pKeep = window.findChild<QSpinBox*>("keepFaxes");
                for (const auto eAnswer : {QMessageBox::No, QMessageBox::Yes})
                {
                    bool bAsked = false;
                    WhenShown<QMessageBox>(
                        [&](QMessageBox* pBox)
                        {
                            bAsked = pBox->text().contains("deletes the oldest fax and its pages");
                            Click(pBox->button(eAnswer));
                        });
                    Click(pKeep);
                    Key(pKeep, Qt::Key_A, Qt::ControlModifier);
                    Keys(pKeep, "1");
                    Key(pKeep, Qt::Key_Return);
                    QVERIFY(bAsked);
                    if (eAnswer == QMessageBox::No)
                    {
                        QCOMPARE(pKeep->value(), 1000);
                        QCOMPARE(ReadProviderSettings().m_sentLimits.m_nMaxFaxes, 1000);
                        QCOMPARE(window.Model()->rowCount(), 2);
                    }
                }
                QCOMPARE(window.Model()->rowCount(), 1);
                QCOMPARE(window.Model()->Fax(0)->m_strRecipient, std::string("Cleo"));
                QCOMPARE(ReadProviderSettings().m_sentLimits.m_nMaxFaxes, 1);

                Key(pSearch, Qt::Key_Escape);
            });
        QTimer::singleShot(WAIT, &window, &QDialog::reject);
        QCOMPARE(window.exec(), static_cast<int>(QDialog::Rejected));
        QCOMPARE(std::distance(fs::directory_iterator(SentFolder()), fs::directory_iterator()),
                 2); // db + 1 fax
    }

    // The fax chosen with the keyboard, "Save as PDF..." pressed with the mouse and the file named
    // in the file dialog: poppler reads the fax's pages back. "Report..." saves the report where
    // the dialog proposes, and its box offers the desktop's print dialog.
    void pdfsAreSavedWhereTheFileDialogSays()
    {
        Record("Acme", "4930111", 1'800'000'000, 2);
        Record("Bob", "4930222", 1'800'000'100, 1);
        // The file dialog opens in the home folder when there is no Documents folder.
        qputenv("HOME", m_pRoot->path().toUtf8());
        qunsetenv("VELLUM_MESSAGE_LOG");
        CSentFaxWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* pTable = window.findChild<QTableView*>("faxes");
        // From the search to the list of faxes, and down to the older one.
        Key(&window, Qt::Key_Tab);
        QVERIFY(pTable->hasFocus());
        Key(pTable, Qt::Key_Down);
        QVERIFY(window.findChild<QPlainTextEdit*>("details")->toPlainText().contains("To: Acme"));

        QString strProposed;
        WhenShown<QFileDialog>(
            [&](QFileDialog* pDialog)
            {
                strProposed = QFileInfo(pDialog->selectedFiles().value(0)).fileName();
                auto* pName = pDialog->findChild<QLineEdit*>("fileNameEdit");
                Click(pName);
                Key(pName, Qt::Key_A, Qt::ControlModifier);
                Keys(pName, "acme");
                Key(pName, Qt::Key_Return);
            });
        Click(window.findChild<QPushButton*>("savePdf"));
        QCOMPARE(strProposed, QString("Fax 2027-01-15 Acme.pdf"));
        platform::SRunOptions options;
        options.m_eOutput = platform::SRunOptions::EOutput::Capture;
        const auto info = platform::RunProgram({"pdfinfo", (m_root / "acme.pdf").string()}, options);
        QVERIFY2(info.m_strOutput.find("Pages:           2") != std::string::npos, info.m_strOutput.c_str());
        const auto text = platform::RunProgram({"pdftotext", (m_root / "acme.pdf").string(), "-"}, options);
        QVERIFY2(text.m_strOutput.find("<Acme@example.org>") != std::string::npos, text.m_strOutput.c_str());

        bool bPrintAsked = false;
        WhenShown<QFileDialog>(
            [&](QFileDialog* pDialog)
            {
                WhenShown<QMessageBox>(
                    [&](QMessageBox* pBox)
                    {
                        WhenShown<QPrintDialog>([&](QPrintDialog*) { bPrintAsked = true; });
                        Click(pBox->findChild<QPushButton*>("print"));
                    });
                Key(pDialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
            });
        Click(window.findChild<QPushButton*>("report"));
        QVERIFY(bPrintAsked);
        QVERIFY(fs::exists(m_root / "Fax report 2027-01-15 Acme.pdf"));
    }

    // A damaged record says so plainly and offers a new one; the old file is kept aside as it was.
    void damagedRecordIsKeptAsideForANewOne()
    {
        fs::create_directories(SentFolder());
        const std::string strGarbage(4096, 'Z');
        QVERIFY(platform::WriteWholeFile(SentFolder() / SENT_DATABASE_NAME, strGarbage));
        CSentFaxWindow window;
        window.show();
        auto* pProblem = window.findChild<QLabel*>("problem");
        auto* pNewRecord = window.findChild<QPushButton*>("newRecord");
        QVERIFY(pProblem->isVisible() && pNewRecord->isVisible());
        QVERIFY(!window.findChild<QLineEdit*>("search")->isEnabled());

        Click(pNewRecord);
        QVERIFY(!pProblem->isVisible() && !pNewRecord->isVisible());
        QVERIFY(window.findChild<QLineEdit*>("search")->isEnabled());
        QVERIFY(platform::ReadWholeFile(m_root / "messages.log", 1 << 16)->find("kept as sent-damaged-") !=
                std::string::npos);
    }

    // A fax sent through the dialog is recorded; Send again from the window over the main dialog
    // (Ctrl+H) brings its pages and recipient back, and the second send carries the same page
    // files, byte for byte, to a real server on loopback.
    // The status column and the notice in the details after Check now, by mouse and keyboard, with a
    // stand-in poll: the password is asked (no keyring); a failure of the watcher's polls shows once.
    void statusNoticesShowAfterCheckNow()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        const std::int64_t nNow = QDateTime::currentSecsSinceEpoch();
        Record("Acme", "4930111", nNow - 600, 1);
        Record("Bob", "4930222", nNow - 500, 1);
        std::string strError;
        QVERIFY(WriteSettings("mail.example.org:587", "ann@example.org", "Ann", strError));
        SProviderSettings provider;
        provider.m_strLogin = "ann";
        provider.m_incoming = {"imap.example.org", EIncomingSecurity::Tls, "", "INBOX", true};
        QVERIFY(WriteProviderSettings(provider, strError));
        CSentFaxStore store(SentFolder());
        QVERIFY(store.Open(strError));
        QVERIFY(store.WritePollState(
            {NoticePollAccount(provider), 0, 0, 1, nNow, "The mail server refused the login for ann.", false},
            strError));
        const std::int64_t nAcme = store.List().back().m_nId;
        std::string strGivenPassword;
        const NoticePollFunction fnPoll = [&](const SImapAccount& account, const std::vector<SAwaitingFax>&,
                                              const SPollMark&, std::chrono::milliseconds,
                                              const platform::CCancelSignal*)
        {
            strGivenPassword = account.m_strPassword;
            return SPollResult{
                EPollStatus::Ok,
                "",
                {{nAcme, EFaxStatus::Failed, "busy", nNow - 60, "Fax failed", "The line was busy."}},
                {}};
        };
        {
            CSentFaxWindow first(nullptr, SentFolder(), fnPoll);
            QVERIFY(first.findChild<QLabel*>("problem")->text().contains("refused the login for ann"));
        }
        CSentFaxWindow window(nullptr, SentFolder(), fnPoll);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* pProblem = window.findChild<QLabel*>("problem");
        QVERIFY2(pProblem->isHidden(), "shown once");
        const auto status = [&](int nRow)
        { return window.Model()->index(nRow, CSentFaxModel::COLUMN_STATUS).data().toString(); };
        QCOMPARE(status(1), QString("No word yet"));

        WhenShown<CCredentialsDialog>(
            [](CCredentialsDialog* pDialog)
            {
                Keys(pDialog, "pw1");
                Key(pDialog, Qt::Key_Return);
            });
        Click(window.findChild<QPushButton*>("checkNow"));
        QTRY_COMPARE_WITH_TIMEOUT(status(1), QString("Failed (busy)"), WAIT);
        QCOMPARE(strGivenPassword, std::string("pw1"));
        QCOMPARE(status(0), QString("No word yet"));
        QCOMPARE(pProblem->text(), QString("New word on 1 fax."));
        auto* pTable = window.findChild<QTableView*>("faxes");
        Click(pTable->viewport(), pTable->visualRect(window.Model()->index(0, 0)).center());
        Key(pTable, Qt::Key_Down);
        const QString strDetails = window.findChild<QPlainTextEdit*>("details")->toPlainText();
        QVERIFY2(strDetails.contains("Status: Failed (busy)\nNotice of ") &&
                     strDetails.contains(": Fax failed\nThe line was busy.\n"),
                 qPrintable(strDetails));
    }

    void sendAgainDeliversTheSamePages()
    {
        Print(2, 7);
        const std::string strGateway = GatewayAddress("Bob_Smith", "4930123");
        {
            CScriptedSmtpServer server(
                {"S: 220 ready", "C: HELO *", "S: 250 hi", "C: MAIL From: <ann@example.org>", "S: 250 ok",
                 "C: RCPT TO: <" + strGateway + ">", "S: 250 ok", "C: DATA", "S: 354 go", "C: <DATA>",
                 "S: 250 2.0.0 Ok: queued as 1A2B", "C: QUIT", "S: 221 bye"});
            Configure(server.Port());
            CSendDialog dialog;
            CDialogBuilder::Control<QComboBox>(dialog, IDC_RECIPIENT)->setEditText("Bob Smith");
            CDialogBuilder::Control<QLineEdit>(dialog, IDC_FAX_NUMBER)->setText("4930123");
            QTest::mouseClick(CDialogBuilder::Control<QPushButton>(dialog, IDOK), Qt::LeftButton);
            QCOMPARE(server.Finish(), std::string());
            QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
        }
        // The printer's rasters are gone with the send; the kept copies are all that is left.
        QVERIFY(!fs::exists(Drive("quill.1")));
        CSentFaxStore store(SentFolder());
        std::string strError;
        QVERIFY(store.Open(strError));
        const auto aFaxes = store.List();
        QCOMPARE(aFaxes.size(), std::size_t{1});
        QCOMPARE(aFaxes[0].m_strServerReply, std::string("250 2.0.0 Ok: queued as 1A2B"));
        std::vector<std::string> aArgs = {"--from", "ann@example.org", "--to", strGateway};
        for (int n = 1; n <= 2; ++n)
            aArgs.push_back(store.PagePath(aFaxes[0], n).string());
        CSmtpPeer peer;
        const int nPort = peer.Start(aArgs);
        QVERIFY(nPort != 0);
        Configure(nPort);

        CSendDialog dialog;
        QVERIFY(!dialog.InitCompleted()); // nothing printed
        QTimer::singleShot(
            0, &dialog,
            [&]
            {
                WhenShown<CSentFaxWindow>(
                    [](CSentFaxWindow* pWindow)
                    {
                        QCOMPARE(pWindow->Model()->rowCount(), 1);
                        Click(pWindow->findChild<QPushButton*>("sendAgain"));
                    });
                Key(&dialog, Qt::Key_H, Qt::ControlModifier);
                QCOMPARE(CDialogBuilder::Control<QComboBox>(dialog, IDC_RECIPIENT)->currentText(),
                         QString("Bob_Smith"));
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(dialog, IDC_FAX_NUMBER)->text(),
                         QString("4930123"));
                QCOMPARE(CDialogBuilder::Control<QListWidget>(dialog, IDC_PAGE_LIST)->count(), 2);
                QVERIFY(dialog.HasRasterBuffer());
                Click(CDialogBuilder::Control<QPushButton>(dialog, IDOK));
            });
        QTimer::singleShot(WAIT * 2, &dialog, &QDialog::reject);
        dialog.exec();
        std::string strReport;
        QVERIFY2(peer.Finish(strReport), strReport.c_str());
        QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
        for (int n = 1; n <= 2; ++n)
            QCOMPARE(platform::ReadWholeFile(Drive("quill" + std::to_string(n) + ".tif"), 1 << 22),
                     platform::ReadWholeFile(store.PagePath(aFaxes[0], n), 1 << 22));
        QCOMPARE(store.Count(), 2);
    }

    // A fax sent with a cover goes again without the old one, whose date and page count are
    // past: the dialog has the cover chosen, to be drawn anew as page 1 before the other pages.
    void sendAgainLeavesTheOldCoverOut()
    {
        Record("Acme", "4930111", 1'800'000'000, 3, true);
        CSentFaxStore store(SentFolder());
        std::string strError;
        QVERIFY(store.Open(strError));
        const auto aFaxes = store.List();
        QCOMPARE(aFaxes.size(), std::size_t{1});
        QVERIFY(aFaxes[0].m_bCoverSent);
        for (const char* pszName : {"quill1.tif", "quill2.tif", "quill3.tif", "Page.tmp"})
            fs::remove(Drive(pszName));

        CSendDialog dialog;
        QVERIFY(!dialog.CoverChosen());
        QTimer::singleShot(
            0, &dialog,
            [&]
            {
                WhenShown<CSentFaxWindow>([](CSentFaxWindow* pWindow)
                                          { Click(pWindow->findChild<QPushButton*>("sendAgain")); });
                Key(&dialog, Qt::Key_H, Qt::ControlModifier);
                QCOMPARE(CDialogBuilder::Control<QListWidget>(dialog, IDC_PAGE_LIST)->count(), 3);
                QVERIFY(dialog.CoverChosen());
                QVERIFY(CDialogBuilder::Control<QCheckBox>(dialog, IDC_COVER_PAGE)->isChecked());
                dialog.reject();
            });
        QTimer::singleShot(WAIT * 2, &dialog, &QDialog::reject);
        dialog.exec();
        QCOMPARE(platform::ReadWholeFile(Drive("Page.tmp"), 2), std::optional<std::string>("\x03"));
        for (int n = 1; n <= 2; ++n)
        {
            const auto restored =
                platform::ReadWholeFile(Drive("quill." + std::to_string(n)), platform::RASTER_BYTES);
            const auto kept = ReadFaxPageRaster(store.PagePath(aFaxes[0], n + 1), strError);
            QVERIFY2(restored && kept, strError.c_str());
            QVERIFY(std::equal(restored->begin(), restored->end(), kept->begin(), kept->end(),
                               [](char ch, std::uint8_t nPixel)
                               { return static_cast<std::uint8_t>(ch) == nPixel; }));
        }
    }
};

QTEST_MAIN(CSentFaxWindowTest)
#include "SentFaxWindowTest.moc"
