// The main dialog on the offscreen platform: start-up, recipients, settings, preview.

#include "sender/app/SendDialog.h"

#include "platform/BinaryFile.h"
#include "platform/Roots.h"
#include "resources/DialogTables.h"
#include "sender/app/AboutDialog.h"
#include "sender/app/CoverPageDialog.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/MailPassword.h"
#include "sender/app/PageRaster.h"
#include "sender/app/PreviewPane.h"
#include "sender/app/SettingsDialog.h"
#include "sender/controls/HyperLink1.h"
#include "sender/controls/LinkStatic.h"
#include "sender/controls/TintedStatic.h"
#include "sender/send/CoverInsertion.h"
#include "sender/store/ArchiveString.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

using namespace resources;
namespace fs = std::filesystem;

namespace
{

std::string ReadText(const fs::path& path)
{
    return platform::ReadWholeFile(path, 1 << 20).value_or(std::string());
}

void WriteBytes(const fs::path& path, const std::string& strBytes)
{
    fs::create_directories(path.parent_path());
    QVERIFY(platform::WriteWholeFile(path, strBytes));
}

std::string PageCountFile(std::uint8_t nByte)
{
    return std::string(1, static_cast<char>(nByte));
}

std::string BookBytes(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string strBytes;
    AppendInt32(strBytes, static_cast<std::int32_t>(entries.size()));
    for (const auto& [strName, strNumber] : entries)
        strBytes += *EncodeArchiveString(strName) + *EncodeArchiveString(strNumber);
    return strBytes;
}

// A page raster of a short letter, for the preview and the screenshot.
std::string LetterRaster()
{
    QImage page(platform::RASTER_ROW_BYTES, platform::RASTER_ROWS, QImage::Format_Grayscale8);
    page.fill(255);
    QPainter painter(&page);
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPixelSize(52);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(60, 60, 600, 90), Qt::AlignLeft, QStringLiteral("ACME Co."));
    painter.fillRect(60, 160, 560, 6, Qt::black);
    font.setPixelSize(26);
    font.setBold(false);
    painter.setFont(font);
    const char* lines[] = {"12 Harbour Road",
                           "Springfield",
                           "",
                           "To: Bolt Trading",
                           "Fax 12345678901",
                           "",
                           "Dear Sir or Madam,",
                           "",
                           "please find our offer",
                           "for the spring season",
                           "attached. We look forward",
                           "to hearing from you.",
                           "",
                           "Yours sincerely,"};
    int y = 200;
    for (const char* pszLine : lines)
    {
        painter.drawText(60, y, QString::fromLatin1(pszLine));
        y += 34;
    }
    painter.end();
    std::string strBytes(platform::RASTER_BYTES, '\0');
    for (int r = 0; r < platform::RASTER_ROWS; ++r)
    {
        const uchar* pLine = page.constScanLine(r);
        for (int j = 0; j < platform::RASTER_ROW_BYTES; ++j)
            strBytes[static_cast<std::size_t>(r) * platform::RASTER_ROW_BYTES + j] = pLine[j] < 128 ? 1 : 0;
    }
    return strBytes;
}

// Runs action on the next modal dialog that opens, once the event loop gets to it. A
// dialog the action leaves open (a failed check returns early) is closed, so that the
// test goes on to report the failure.
void OnNextModal(std::function<void(QDialog&)> action)
{
    QTimer::singleShot(0,
                       [action = std::move(action)]
                       {
                           auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                           QVERIFY(pDialog != nullptr);
                           action(*pDialog);
                           if (pDialog->isVisible())
                               pDialog->reject();
                       });
}

// Types text as key presses, any script: QTest's own typing knows ASCII keys only.
void TypeText(QWidget* pWidget, const QString& strText)
{
    for (const QChar ch : strText)
        QTest::sendKeyEvent(QTest::Click, pWidget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

} // namespace

// Takes the URLs that the desktop would open.
class CUrlCatcher : public QObject
{
    Q_OBJECT

public slots:
    void Open(const QUrl& url) { m_urls.push_back(url); }

public:
    std::vector<QUrl> m_urls;
};

class CSendDialogTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_pRoot;
    fs::path m_root;

    fs::path Drive(const char* pszName) const { return m_root / "c" / pszName; }
    fs::path System(const char* pszName) const { return m_root / "windows" / "system" / pszName; }
    std::string Messages() const { return ReadText(m_root / "messages.log"); }

    static QListWidget* Pages(CSendDialog& dialog)
    {
        return CDialogBuilder::Control<QListWidget>(dialog, IDC_PAGE_LIST);
    }
    static QComboBox* Recipient(CSendDialog& dialog)
    {
        return CDialogBuilder::Control<QComboBox>(dialog, IDC_RECIPIENT);
    }
    static QLineEdit* FaxNumber(CSendDialog& dialog)
    {
        return CDialogBuilder::Control<QLineEdit>(dialog, IDC_FAX_NUMBER);
    }
    static QSlider* Slider(CSendDialog& dialog, int nId)
    {
        return CDialogBuilder::Control<QSlider>(dialog, nId);
    }
    static QPushButton* Button(QWidget& dialog, int nId)
    {
        return CDialogBuilder::Control<QPushButton>(dialog, nId);
    }
    static QCheckBox* CoverBox(CSendDialog& dialog)
    {
        return CDialogBuilder::Control<QCheckBox>(dialog, IDC_COVER_PAGE);
    }
    void WriteAnnsSettings() const
    {
        WriteBytes(System("quill.cfg"), "\x10mail.example.net\x0F"
                                        "ann@example.net\x07"
                                        "Ann Lee");
    }
    static void WriteProvider(const SProviderSettings& provider)
    {
        std::string strError;
        QVERIFY2(WriteProviderSettings(provider, strError), strError.c_str());
    }
    static QStringList PageTexts(CSendDialog& dialog)
    {
        QStringList texts;
        for (int i = 0; i < Pages(dialog)->count(); ++i)
            texts << Pages(dialog)->item(i)->text();
        return texts;
    }

    // The preview control's pixel for view pixel (x, y): 0 or 255 in all three colours.
    static int ViewGrey(CSendDialog& dialog, int x, int y)
    {
        auto* pPane = qobject_cast<CPreviewPane*>(CDialogBuilder::Control(dialog, IDC_PREVIEW_SURFACE));
        const QImage shot = pPane->grab().toImage();
        const QColor colour = shot.pixelColor(VIEW_ORIGIN_X + x, VIEW_ORIGIN_Y + y);
        if (colour.red() != colour.green() || colour.green() != colour.blue())
            return -1;
        return colour.red();
    }

private slots:
    void init()
    {
        m_pRoot = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pRoot->isValid());
        m_root = m_pRoot->path().toStdString();
        fs::create_directories(m_root / "c");
        fs::create_directories(m_root / "windows" / "system");
        qputenv("VELLUM_ROOT", m_pRoot->path().toUtf8());
        qputenv("VELLUM_MESSAGE_LOG", QByteArray::fromStdString((m_root / "messages.log").string()));
    }

    void startUpListsThePagesOfThePageCount_data()
    {
        QTest::addColumn<int>("nByte");
        QTest::addColumn<QStringList>("pages");
        QTest::newRow("0: no pages") << 0 << QStringList{};
        QTest::newRow("4: three pages") << 4 << QStringList{"Page 1", "Page 2", "Page 3"};
        QStringList eleven;
        for (int i = 1; i <= 11; ++i)
            eleven << QStringLiteral("Page %1").arg(i);
        QTest::newRow("12: Page 10 after Page 9") << 12 << eleven;
    }

    void startUpListsThePagesOfThePageCount()
    {
        QFETCH(int, nByte);
        QFETCH(QStringList, pages);
        WriteBytes(Drive("Page.tmp"), PageCountFile(static_cast<std::uint8_t>(nByte)));
        CSendDialog dialog;
        QVERIFY(dialog.InitCompleted());
        QCOMPARE(PageTexts(dialog), pages);
        QCOMPARE(Pages(dialog)->currentRow(), pages.isEmpty() ? -1 : 0);
        // The sliders and the raster buffer are set up even without pages.
        QCOMPARE(Slider(dialog, IDC_SLIDER_VERT)->maximum(), VERT_OFFSET_MAX);
        QCOMPARE(Slider(dialog, IDC_SLIDER_HORZ)->maximum(), HORZ_OFFSET_MAX);
        QCOMPARE(Slider(dialog, IDC_SLIDER_VERT)->value(), 30);
        QCOMPARE(Slider(dialog, IDC_SLIDER_HORZ)->value(), 30);
        QVERIFY(dialog.HasRasterBuffer());
        QCOMPARE(dialog.CurrentPage(), 1);
        QCOMPARE(dialog.HorzOffset(), 0);
        QCOMPARE(dialog.VertOffset(), 0);
        QCOMPARE(Messages(), std::string());
    }

    void startUpWithPageCountOneTellsTheUserToReinstall()
    {
        WriteBytes(Drive("Page.tmp"), PageCountFile(1));
        CSendDialog dialog;
        QVERIFY(!dialog.InitCompleted());
        QCOMPARE(Messages(), QCoreApplication::applicationName().toStdString() +
                                 "\t程序不能运行，请重新安装Vellum之星3.0\n");
        QCOMPARE(Pages(dialog)->count(), 0);
        QVERIFY(Slider(dialog, IDC_SLIDER_HORZ)->maximum() != HORZ_OFFSET_MAX);
        QVERIFY(!dialog.HasRasterBuffer());
        QCOMPARE(dialog.CurrentPage(), 0);
    }

    void startUpWithoutPageCountFileSaysNothing()
    {
        for (bool bEmptyFile : {false, true})
        {
            if (bEmptyFile)
                WriteBytes(Drive("Page.tmp"), std::string());
            CSendDialog dialog;
            QVERIFY(!dialog.InitCompleted());
            QCOMPARE(Pages(dialog)->count(), 0);
            QVERIFY(!dialog.HasRasterBuffer());
            QVERIFY(Slider(dialog, IDC_SLIDER_VERT)->maximum() != VERT_OFFSET_MAX);
            // Without a raster buffer Preview and the sliders draw nothing.
            QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
            Slider(dialog, IDC_SLIDER_HORZ)->setValue(10);
            QVERIFY(!dialog.PreviewLoaded());
            QCOMPARE(dialog.HorzOffset(), 10);
            QCOMPARE(Messages(), std::string());
        }
    }

    void startUpDecoratesTheDialog()
    {
        CSendDialog dialog;
        // Red balloon tips on nine controls, the first registration of each.
        int nTips = 0;
        for (int nId : {IDC_RECIPIENT, IDC_FAX_NUMBER, IDC_ONLINE_QUERY, IDC_CONFIG, IDOK, IDCANCEL, IDC_HELP,
                        IDC_ABOUT, IDC_PREVIEW})
        {
            const auto* pTip = dialog.Tip().State().FindTip(CDialogBuilder::Control(dialog, nId));
            QVERIFY2(pTip != nullptr, qPrintable(QString::number(nId)));
            QCOMPARE(pTip->m_colour, QColor(255, 0, 0));
            ++nTips;
        }
        QCOMPARE(nTips, 9);
        QCOMPARE(dialog.Tip().State().FindTip(CDialogBuilder::Control(dialog, IDC_FAX_NUMBER))->m_strText,
                 std::string("Country number+City number+Fax number, such as: 86755#######"));
        // The texts are those of the table the balloon's tests check.
        for (const SControlTip& tip : SEND_DIALOG_TIPS)
            QCOMPARE(dialog.Tip().State().FindTip(CDialogBuilder::Control(dialog, tip.m_nId))->m_strText,
                     std::string(tip.m_pszText));
        QVERIFY(dialog.Tip().State().FindTip(CDialogBuilder::Control(dialog, IDC_PAGE_LIST)) == nullptr);

        auto* pLink = CDialogBuilder::Control<CHyperLink1>(dialog, IDC_LINK_MORE);
        QVERIFY(pLink != nullptr);
        QCOMPARE(pLink->Target(), std::string(PUBLISHER_WEB_ADDRESS));
        QCOMPARE(pLink->LinkStyle(), CHyperLink1::LinkUnderline | CHyperLink1::LinkFitText |
                                         CHyperLink1::LinkFocusOnPress | CHyperLink1::LinkOpenOnPress);
        QCOMPARE(CDialogBuilder::Control<CTintedStatic>(dialog, IDC_TEXT_MORE)->TextTint(),
                 QColor(0, 0, 255));
        QCOMPARE(CDialogBuilder::Control<CTintedStatic>(dialog, IDC_BOX_MORE)->TextTint(), QColor(0, 0, 255));
        QCOMPARE(CDialogBuilder::Control<CTintedStatic>(dialog, IDC_PREVIEW_SURFACE)->BackTint(),
                 QColor(Qt::white));
        QVERIFY(!dialog.windowIcon().isNull());
        QCOMPARE(dialog.windowTitle(), QString("Vellum Zeru 3.1"));
    }

    // The dialogs open without a warning (which is a control built against Qt's rules) and what
    // they show fits its place: no two controls overlap (a group box holds its own), no text needs
    // more lines than its label has, and every field shows its text whole.
    void theDialogsOpenWithoutWarningsAndTheirControlsFit()
    {
        QTest::failOnWarning(QRegularExpression(".*"));
        CSendDialog dialog;
        CSettingsDialog settings(&dialog);
        CCoverPageDialog cover("", "", "", &dialog);
        for (QWidget* pDialog : std::initializer_list<QWidget*>{&dialog, &settings, &cover})
        {
            pDialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(pDialog));
            QList<QWidget*> aControls;
            for (QWidget* pChild : pDialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!pChild->isWindow() && pChild->isVisible())
                    aControls << pChild;
            for (QWidget* pA : aControls)
            {
                if (auto* pLabel = qobject_cast<QLabel*>(pA))
                    QVERIFY2(pLabel->heightForWidth(pLabel->width()) <= pLabel->height(),
                             qPrintable(pLabel->text()));
                // Qt's line edit keeps 2 pixels beside its text within the frame.
                if (auto* pEdit = qobject_cast<QLineEdit*>(pA))
                    QVERIFY2(pEdit->fontMetrics().horizontalAdvance(pEdit->text()) +
                                     2 * (pEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 2) <=
                                 pEdit->width(),
                             qPrintable(pEdit->text()));
                for (QWidget* pB : aControls)
                {
                    const QRect a = pA->geometry(), b = pB->geometry();
                    QVERIFY2(pA == pB || !a.intersects(b) || a.contains(b) || b.contains(a),
                             qPrintable(pA->objectName() + " " + pB->objectName()));
                }
            }
        }
    }

    // Config's tool tips wrap instead of running across the dialog, and say what the table says.
    void configsToolTipsWrap()
    {
        CSettingsDialog settings;
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        for (const SControlTip& tip : SETTINGS_DIALOG_TIPS)
        {
            QWidget* pControl = CDialogBuilder::Control(settings, tip.m_nId);
            QTest::mouseMove(settings.windowHandle(), pControl->mapTo(&settings, pControl->rect().center()));
            QTRY_COMPARE(QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText(),
                         QString::fromUtf8(tip.m_pszText));
            QWidget* pTip = nullptr;
            for (QWidget* pWidget : QApplication::topLevelWidgets())
                if (pWidget->objectName() == "qtooltip_label" && pWidget->isVisible())
                    pTip = pWidget;
            QVERIFY(pTip != nullptr);
            QVERIFY2(pTip->width() < settings.width(), tip.m_pszText);
        }
        QToolTip::hideText();
    }

    void aboutShowsTheLinksAndClosesOnOk()
    {
        CSendDialog dialog;
        OnNextModal(
            [](QDialog& about)
            {
                QVERIFY(qobject_cast<CAboutDialog*>(&about) != nullptr);
                auto* pWeb = CDialogBuilder::Control<CHyperLink1>(about, IDC_LINK_WEB);
                auto* pMail = CDialogBuilder::Control<CLinkStatic>(about, IDC_LINK_MAIL);
                QVERIFY(pWeb != nullptr && pMail != nullptr);
                QCOMPARE(pWeb->Target(), std::string(PUBLISHER_PRODUCT_PAGE));
                QVERIFY(pWeb->LinkStyle() & CHyperLink1::LinkOpenOnPress);
                QCOMPARE(pMail->Target(), std::string("mailto: ") + PUBLISHER_MAIL_ADDRESS);
                QVERIFY(!pMail->IsUnderlined());
                QTest::mouseClick(Button(about, IDC_ABOUT_OK), Qt::LeftButton);
            });
        QTest::mouseClick(Button(dialog, IDC_ABOUT), Qt::LeftButton);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void choosingARecipientFillsInTheLastNumberOfThatName()
    {
        WriteBytes(System("flist.dll"),
                   BookBytes({{"Cray", "3"}, {"Acme", "1"}, {"bolt", "5"}, {"Acme", "2"}, {"ACME", "9"}}));
        CSendDialog dialog;
        QComboBox* pCombo = Recipient(dialog);
        QStringList names;
        for (int i = 0; i < pCombo->count(); ++i)
            names << pCombo->itemText(i);
        // Sorted without regard to case; both Acme entries are listed.
        QCOMPARE(names.size(), 5);
        QCOMPARE(names.mid(3), (QStringList{"bolt", "Cray"}));
        QCOMPARE(pCombo->currentText(), QString());
        QCOMPARE(FaxNumber(dialog)->text(), QString());

        const int nAcme = names.indexOf("Acme");
        QVERIFY(nAcme >= 0);
        pCombo->setCurrentIndex(nAcme);
        emit pCombo->activated(nAcme);
        QCOMPARE(FaxNumber(dialog)->text(), QString("2"));
        // Names that differ in case are different recipients.
        const int nUpper = names.indexOf("ACME");
        emit pCombo->activated(nUpper);
        QCOMPARE(FaxNumber(dialog)->text(), QString("9"));

        // Choosing with the keyboard from the closed list works the same way.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        pCombo->setFocus();
        pCombo->setCurrentIndex(names.indexOf("bolt") - 1);
        QTest::keyClick(pCombo, Qt::Key_Down);
        QCOMPARE(pCombo->currentText(), QString("bolt"));
        QCOMPARE(FaxNumber(dialog)->text(), QString("5"));
    }

    void typingANameLooksNothingUp()
    {
        WriteBytes(System("flist.dll"), BookBytes({{"Acme", "1"}, {"Bolt", "2"}}));
        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QComboBox* pCombo = Recipient(dialog);
        pCombo->lineEdit()->setFocus();
        QTest::keyClicks(pCombo->lineEdit(), "Acme");
        QCOMPARE(pCombo->currentText(), QString("Acme"));
        QCOMPARE(FaxNumber(dialog)->text(), QString());
        QCOMPARE(pCombo->count(), 2);
        // Leaving the box takes its text, and still looks nothing up.
        FaxNumber(dialog)->setFocus();
        QTRY_COMPARE(dialog.m_strRecipient, std::string("Acme"));
        QCOMPARE(FaxNumber(dialog)->text(), QString());
        // Nor does Return in the box, which presses Send with the number as typed.
        FaxNumber(dialog)->setText("777");
        pCombo->lineEdit()->setFocus();
        QTest::keyClick(pCombo->lineEdit(), Qt::Key_Backspace);
        QTest::keyClicks(pCombo->lineEdit(), "e");
        QTest::keyClick(pCombo->lineEdit(), Qt::Key_Return);
        QCOMPARE(FaxNumber(dialog)->text(), QString("777"));
        QCOMPARE(dialog.m_strFaxNumber, std::string("777"));
    }

    void enterPressesSendWhichKeepsTheDialogOpen()
    {
        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        FaxNumber(dialog)->setFocus();
        QTest::keyClicks(FaxNumber(dialog), "8675551234");
        QTest::keyClick(FaxNumber(dialog), Qt::Key_Return);
        QCOMPARE(dialog.m_strFaxNumber, std::string("8675551234"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
    }

    void savingTheAddressBookPutsTheRecipientFirstOrSaysWhyNot()
    {
        WriteBytes(System("flist.dll"), BookBytes({{"Bolt", "1"}, {"Acme_Co", "2"}, {"Cray", "3"}}));
        CSendDialog dialog;
        QVERIFY(dialog.SaveAddressBook("Acme_Co", "4"));
        QCOMPARE(ReadText(System("flist.dll")), BookBytes({{"Acme_Co", "4"}, {"Bolt", "1"}, {"Cray", "3"}}));
        QCOMPARE(Recipient(dialog)->count(), 3);

        fs::remove(System("flist.dll"));
        fs::create_directories(System("flist.dll"));
        QVERIFY(!dialog.SaveAddressBook("Dyna", "5"));
        const std::string strMessages = Messages();
        QVERIFY2(strMessages.rfind("Vellum Zeru 3.1\tSorry, the address book could not be saved", 0) == 0,
                 strMessages.c_str());
        QVERIFY(strMessages.find(System("flist.dll").string()) != std::string::npos);
    }

    void configOkWritesTheSettingsAsTyped()
    {
        CSendDialog dialog;
        OnNextModal(
            [](QDialog& settings)
            {
                auto* pSettings = qobject_cast<CSettingsDialog*>(&settings);
                QVERIFY(pSettings != nullptr);
                QVERIFY(!pSettings->InitCompleted());
                CDialogBuilder::Control<QLineEdit>(settings, IDC_SMTP_SERVER)->setText("mail.example.net");
                CDialogBuilder::Control<QLineEdit>(settings, IDC_EMAIL)->setText("ann@example.net");
                CDialogBuilder::Control<QLineEdit>(settings, IDC_USER_NAME)->setText("");
                QTest::mouseClick(Button(settings, IDOK), Qt::LeftButton);
            });
        dialog.OnConfig();
        QCOMPARE(ReadText(System("quill.cfg")), std::string("\x10mail.example.net\x0F"
                                                            "ann@example.net\x00",
                                                            34));
        QCOMPARE(dialog.m_strSmtpServer, std::string("mail.example.net"));
        QCOMPARE(dialog.m_strUserName, std::string());

        // The next Config shows what was saved.
        OnNextModal(
            [](QDialog& settings)
            {
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, IDC_EMAIL)->text(),
                         QString("ann@example.net"));
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, IDC_SMTP_SERVER)->text(),
                         QString("mail.example.net"));
                settings.reject();
            });
        dialog.OnConfig();
        QCOMPARE(Messages(), std::string());
    }

    void configCancelChangesNothing()
    {
        WriteBytes(System("quill.cfg"), "\x04smtp\x05"
                                        "a@b.c\x03"
                                        "Ann");
        CSendDialog dialog;
        dialog.m_strSmtpServer = "before";
        OnNextModal(
            [](QDialog& settings)
            {
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, IDC_USER_NAME)->text(), QString("Ann"));
                CDialogBuilder::Control<QLineEdit>(settings, IDC_USER_NAME)->setText("Bob");
                QTest::mouseClick(Button(settings, IDCANCEL), Qt::LeftButton);
            });
        dialog.OnConfig();
        QCOMPARE(ReadText(System("quill.cfg")), std::string("\x04smtp\x05"
                                                            "a@b.c\x03"
                                                            "Ann"));
        QCOMPARE(dialog.m_strSmtpServer, std::string("before"));
    }

    void damagedSettingsFileOpensEmptyAndStaysUntilOk()
    {
        const std::string strDamaged = "\x04smtp\x05"
                                       "a@b";
        WriteBytes(System("quill.cfg"), strDamaged);
        CSendDialog dialog;
        OnNextModal(
            [](QDialog& settings)
            {
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, IDC_SMTP_SERVER)->text(), QString());
                QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, IDC_EMAIL)->text(), QString());
                settings.reject();
            });
        dialog.OnConfig();
        QCOMPARE(ReadText(System("quill.cfg")), strDamaged);
        OnNextModal([](QDialog& settings) { settings.accept(); });
        dialog.OnConfig();
        QCOMPARE(ReadText(System("quill.cfg")), std::string(3, '\0'));
    }

    void settingsThatCannotBeWrittenAreReported()
    {
        // A folder where the file should be: it cannot be replaced.
        fs::create_directories(System("quill.cfg"));
        CSendDialog dialog;
        OnNextModal([](QDialog& settings) { settings.accept(); });
        dialog.OnConfig();
        const std::string strMessages = Messages();
        QVERIFY2(strMessages.rfind("Vellum Zeru 3.1\tSorry, the settings could not be saved", 0) == 0,
                 strMessages.c_str());
        QVERIFY(strMessages.find(System("quill.cfg").string()) != std::string::npos);
    }

    void previewDrawsTheSelectedPageReduced()
    {
        // Page 2: a black pixel at row 0, column 1 and one at the last reachable row
        // and column; the corner beyond them is black too but never shown.
        std::string strRaster(platform::RASTER_BYTES, '\0');
        auto set = [&](int r, int j)
        { strRaster[static_cast<std::size_t>(r) * platform::RASTER_ROW_BYTES + j] = 7; };
        set(0, 1);
        set(2197, 1697);
        for (int r = 2198; r < platform::RASTER_ROWS; ++r)
            for (int j = 0; j < platform::RASTER_ROW_BYTES; ++j)
                set(r, j);
        for (int j = 1698; j < platform::RASTER_ROW_BYTES; ++j)
            for (int r = 0; r < platform::RASTER_ROWS; ++r)
                set(r, j);
        WriteBytes(Drive("Page.tmp"), PageCountFile(3));
        WriteBytes(Drive("quill.1"), std::string(platform::RASTER_BYTES, '\0'));
        WriteBytes(Drive("quill.2"), strRaster);

        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // A slider moved before any Preview draws nothing.
        Slider(dialog, IDC_SLIDER_HORZ)->setValue(31);
        QCOMPARE(ViewGrey(dialog, 0, 0), 255);
        Slider(dialog, IDC_SLIDER_HORZ)->setValue(0);

        Pages(dialog)->setCurrentRow(1);
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        QCOMPARE(dialog.CurrentPage(), 2);
        QVERIFY(dialog.PreviewLoaded());
        // Offsets 0, although the vertical thumb stands at 30: the top left corner.
        QCOMPARE(dialog.VertOffset(), 0);
        QCOMPARE(ViewGrey(dialog, 0, 0), 0);
        QCOMPARE(ViewGrey(dialog, 1, 0), 255);
        QCOMPARE(ViewGrey(dialog, 0, 1), 255);

        // A repaint keeps the view.
        dialog.repaint();
        QCOMPARE(ViewGrey(dialog, 0, 0), 0);

        // Both sliders at their ends: the bottom right view pixel stands for rows
        // 2196-2197 and columns 1696-1697; rows and columns beyond are never shown.
        Slider(dialog, IDC_SLIDER_HORZ)->setValue(HORZ_OFFSET_MAX);
        QCOMPARE(dialog.HorzOffset(), HORZ_OFFSET_MAX);
        QCOMPARE(dialog.VertOffset(), 0);
        Slider(dialog, IDC_SLIDER_VERT)->setValue(VERT_OFFSET_MAX);
        QCOMPARE(dialog.VertOffset(), VERT_OFFSET_MAX);
        auto* pPane = qobject_cast<CPreviewPane*>(CDialogBuilder::Control(dialog, IDC_PREVIEW_SURFACE));
        const QImage& view = pPane->View();
        QCOMPARE(view.size(), QSize(VIEW_WIDTH, VIEW_HEIGHT));
        QCOMPARE(qGray(view.pixel(VIEW_WIDTH - 1, VIEW_HEIGHT - 1)), 0);
        QCOMPARE(qGray(view.pixel(VIEW_WIDTH - 2, VIEW_HEIGHT - 1)), 255);
        QCOMPARE(qGray(view.pixel(VIEW_WIDTH - 1, VIEW_HEIGHT - 2)), 255);
        // On screen, as far as the control shows the view.
        const int nVisibleWidth = std::min(VIEW_WIDTH, pPane->width() - VIEW_ORIGIN_X);
        const int nVisibleHeight = std::min(VIEW_HEIGHT, pPane->height() - VIEW_ORIGIN_Y);
        QCOMPARE(ViewGrey(dialog, nVisibleWidth - 1, nVisibleHeight - 1),
                 qGray(view.pixel(nVisibleWidth - 1, nVisibleHeight - 1)));
        QCOMPARE(ViewGrey(dialog, 0, 0), 255);

        // Page 1 is all white; a page whose raster is gone leaves the view as it is.
        Pages(dialog)->setCurrentRow(0);
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        QCOMPARE(dialog.CurrentPage(), 1);
        QCOMPARE(qGray(pPane->View().pixel(VIEW_WIDTH - 1, VIEW_HEIGHT - 1)), 255);
        fs::remove(Drive("quill.2"));
        Pages(dialog)->setCurrentRow(1);
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        QCOMPARE(dialog.CurrentPage(), 2);
        QCOMPARE(qGray(pPane->View().pixel(VIEW_WIDTH - 1, VIEW_HEIGHT - 1)), 255);
        QCOMPARE(Messages(), std::string());
    }

    // The cover choice by keyboard and mouse: the box, the cover page dialog, the list and the
    // preview with the cover as page 1, what Send hands the send path, and the choice kept.
    void coverChoiceByKeyboardAndMouse()
    {
        WriteBytes(Drive("Page.tmp"), PageCountFile(3));
        WriteBytes(Drive("quill.1"), LetterRaster());
        WriteAnnsSettings();
        fs::copy_file(DEFAULT_COVER_TEMPLATE, System("Cover.svg"));

        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCheckBox* pCover = CoverBox(dialog);
        // Page 1 of the document is shown; with the cover it is page 2, still shown.
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        QTest::keyClicks(Recipient(dialog)->lineEdit(), "Bolt Trading");
        FaxNumber(dialog)->setFocus();
        QTest::keyClicks(FaxNumber(dialog), "12345678901");
        QTest::keyClick(&dialog, Qt::Key_Tab);
        QCOMPARE(dialog.focusWidget(), pCover);
        QTest::keyClick(pCover, Qt::Key_Space);
        QCOMPARE(PageTexts(dialog), (QStringList{"Page 1", "Page 2", "Page 3"}));
        QCOMPARE(dialog.CurrentPage(), 2);

        OnNextModal(
            [](QDialog& coverDialog)
            {
                QTest::keyClicks(coverDialog.focusWidget(), "Bolt Ltd");
                QTest::keyClick(&coverDialog, Qt::Key_Tab);
                QTest::keyClicks(coverDialog.focusWidget(), "Spring offer");
                QTest::keyClick(&coverDialog, Qt::Key_Tab);
                auto* pNote = CDialogBuilder::Control<QPlainTextEdit>(coverDialog, IDC_COVER_NOTE);
                QCOMPARE(coverDialog.focusWidget(), pNote);
                QTest::keyClicks(pNote, "Two pages follow.");
                QTest::keyClick(pNote, Qt::Key_Return);
                QTest::keyClicks(pNote, "Call me.");
                QTest::mouseClick(Button(coverDialog, IDOK), Qt::LeftButton);
            });
        QTest::mouseClick(Button(dialog, IDC_COVER_DETAILS), Qt::LeftButton);
        const auto request = dialog.CoverRequest();
        QVERIFY(request);
        QCOMPARE(request->m_template, System("Cover.svg"));
        const SCoverFields& fields = request->m_fields;
        QCOMPARE(fields.m_strRecipient + "|" + fields.m_strRecipientFax + "|" + fields.m_strRecipientCompany +
                     "|" + fields.m_strSubject + "|" + fields.m_strNote,
                 std::string("Bolt Trading|12345678901|Bolt Ltd|Spring offer|Two pages follow.\nCall me."));
        // The sender's name is Config's user name when the cover has none of its own.
        QCOMPARE(fields.m_strSenderName, std::string("Ann Lee"));
        QCOMPARE(fields.m_nPages, 3);

        // Page 1 is the cover, drawn: not the letter's first page.
        auto* pPane = qobject_cast<CPreviewPane*>(CDialogBuilder::Control(dialog, IDC_PREVIEW_SURFACE));
        const QImage letter = pPane->View();
        Pages(dialog)->setCurrentRow(0);
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        QVERIFY(pPane->View() != letter);

        // A click clears the box: the document's pages alone, no cover for Send, and the choice
        // kept; Alt+C, from wherever the focus is, ticks it again (shown pressed for a moment).
        QTest::mouseClick(pCover, Qt::LeftButton);
        QCOMPARE(PageTexts(dialog), (QStringList{"Page 1", "Page 2"}));
        QVERIFY(!dialog.CoverRequest());
        QCOMPARE(ReadProviderSettings().m_bCoverPage, false);
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        Recipient(dialog)->setFocus();
        QTest::keyClick(dialog.windowHandle(), Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(pCover->isChecked());
        // The next start has the box ticked, but not the texts of the other dialog's fax.
        CSendDialog next;
        QVERIFY(CoverBox(next)->isChecked());
        QCOMPARE(next.CoverRequest()->m_fields.m_strNote, std::string());
        QCOMPARE(Messages(), std::string());
    }

    // A template that cannot serve is refused, naming it, when the box is ticked, and at Send
    // when the box was ticked at start: the box is cleared, or nothing is sent.
    void aCoverTemplateThatCannotServeIsRefused()
    {
        WriteBytes(Drive("Page.tmp"), PageCountFile(2));
        WriteAnnsSettings();
        WriteBytes(System("covers") / "broken.svg", "not a drawing");
        SProviderSettings provider;
        provider.m_eSecurity = ESmtpSecurity::None;
        provider.m_strCoverTemplate = "broken.svg";
        WriteProvider(provider);
        const std::string strBroken = (System("covers") / "broken.svg").string();
        {
            CSendDialog dialog;
            CoverBox(dialog)->setFocus();
            QTest::keyClick(CoverBox(dialog), Qt::Key_Space);
            QVERIFY(!CoverBox(dialog)->isChecked());
            QCOMPARE(PageTexts(dialog), QStringList{"Page 1"});
            QVERIFY2(Messages().find(strBroken) != std::string::npos, Messages().c_str());
        }
        QVERIFY(fs::remove(m_root / "messages.log"));
        provider.m_bCoverPage = true;
        WriteProvider(provider);
        CSendDialog dialog;
        Recipient(dialog)->setEditText("Bolt");
        FaxNumber(dialog)->setText("12345678901");
        QTest::mouseClick(Button(dialog, IDOK), Qt::LeftButton);
        const std::string strMessages = Messages();
        QCOMPARE(std::count(strMessages.begin(), strMessages.end(), '\n'), 1);
        QVERIFY2(strMessages.find(strBroken) != std::string::npos, strMessages.c_str());
        // Refused before anything else: the recipient is not even recorded.
        QVERIFY(!fs::exists(System("flist.dll")));
    }

    // A send that did not go out has put the cover in already: it is listed once, as page 1 of
    // the page files, and stays there whatever the box says.
    void aCoverPutInByAFailedSendIsListedOnce()
    {
        WriteBytes(Drive("Page.tmp"), PageCountFile(3));
        WriteBytes(Drive("quill.1"), LetterRaster());
        WriteBytes(Drive("quill.2"), LetterRaster());
        fs::copy_file(DEFAULT_COVER_TEMPLATE, System("Cover.svg"));
        SCoverRequest request;
        request.m_fields.m_strRecipient = "Bolt";
        request.m_template = System("Cover.svg");
        QCOMPARE(InsertCoverPage(request).m_eResult, ECoverInsertion::Inserted);
        SProviderSettings provider;
        provider.m_bCoverPage = true;
        WriteProvider(provider);

        CSendDialog dialog;
        QCOMPARE(PageTexts(dialog), (QStringList{"Page 1", "Page 2", "Page 3"}));
        QCOMPARE(dialog.CoverRequest()->m_fields.m_nPages, 3);
        // The cover goes with the pages: the box shows it and cannot be cleared.
        QTest::mouseClick(CoverBox(dialog), Qt::LeftButton);
        QVERIFY(CoverBox(dialog)->isChecked());
        QVERIFY(!CoverBox(dialog)->isEnabled());
        QCOMPARE(PageTexts(dialog), (QStringList{"Page 1", "Page 2", "Page 3"}));
        QCOMPARE(Messages(), std::string());
    }

    // Config's cover fields, set by keyboard and mouse, are saved and shown again, and what
    // Config does not show (the sent faxes' limit) stays as it was.
    void configKeepsTheSenderAndTheTemplate()
    {
        WriteAnnsSettings();
        WriteBytes(System("covers") / "letterhead.svg", "<svg/>");
        WriteBytes(System("sendwell.ini"), "[Mail]\nSecurity=None\n[SentFaxes]\nKeepFaxes=7\n");
        const QStringList texts{"Анна Ли", "Lee Trading", "+44 20 7946 0000", "+44 20 7946 0001",
                                "ann@lee.example"};
        const int aIds[] = {IDC_SENDER_NAME, IDC_SENDER_COMPANY, IDC_SENDER_VOICE, IDC_SENDER_FAX,
                            IDC_SENDER_EMAIL};
        CSendDialog dialog;
        OnNextModal(
            [&](QDialog& settings)
            {
                auto* pName = CDialogBuilder::Control<QLineEdit>(settings, IDC_SENDER_NAME);
                // An empty name on the cover is the user name: the field says so.
                QCOMPARE(pName->placeholderText(), QString("Ann Lee"));
                QTest::mouseClick(pName, Qt::LeftButton);
                for (const QString& strText : texts)
                {
                    TypeText(settings.focusWidget(), strText);
                    QTest::keyClick(&settings, Qt::Key_Tab);
                }
                auto* pTemplate = CDialogBuilder::Control<QComboBox>(settings, IDC_COVER_TEMPLATE);
                QCOMPARE(settings.focusWidget(), pTemplate);
                QCOMPARE(pTemplate->currentText(), QString("Default (Cover.svg)"));
                QTest::keyClick(pTemplate, Qt::Key_Down);
                QTest::mouseClick(Button(settings, IDOK), Qt::LeftButton);
            });
        QTest::mouseClick(Button(dialog, IDC_CONFIG), Qt::LeftButton);
        QCOMPARE(ReadProviderSettings().m_strCoverTemplate, std::string("letterhead.svg"));
        QCOMPARE(ReadProviderSettings().m_sentLimits.m_nMaxFaxes, 7);

        OnNextModal(
            [&](QDialog& settings)
            {
                for (int n = 0; n < texts.size(); ++n)
                    QCOMPARE(CDialogBuilder::Control<QLineEdit>(settings, aIds[n])->text(), texts[n]);
                QCOMPARE(CDialogBuilder::Control<QComboBox>(settings, IDC_COVER_TEMPLATE)->currentText(),
                         QString("letterhead.svg"));
                QTest::keyClick(&settings, Qt::Key_Escape);
            });
        QTest::mouseClick(Button(dialog, IDC_CONFIG), Qt::LeftButton);
        QCOMPARE(Messages(), std::string());
    }

    // Config's incoming mail group by mouse and keyboard: the password field gives way to the SMTP
    // password while server and login are the SMTP ones, and what is typed is saved and shown again.
    void configKeepsTheIncomingMail()
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        WriteAnnsSettings();
        SProviderSettings provider;
        provider.m_strLogin = "ann";
        WriteProvider(provider);
        CSendDialog dialog;
        OnNextModal(
            [&](QDialog& settings)
            {
                auto* pPassword = CDialogBuilder::Control<QLineEdit>(settings, IDC_INCOMING_PASSWORD);
                QTest::mouseClick(CDialogBuilder::Control<QCheckBox>(settings, IDC_INCOMING_WATCH),
                                  Qt::LeftButton);
                QTest::keyClick(&settings, Qt::Key_Tab);
                TypeText(settings.focusWidget(), "MAIL.example.net:993");
                QCOMPARE(pPassword->placeholderText(), QString("the password above"));
                QTest::keyClick(&settings, Qt::Key_Tab);
                QTest::keyClick(settings.focusWidget(), Qt::Key_Down);
                QTest::keyClick(&settings, Qt::Key_Tab);
                QCOMPARE(settings.focusWidget()->property("placeholderText").toString(), QString("ann"));
                TypeText(settings.focusWidget(), "ann.lee");
                QVERIFY(pPassword->isEnabled());
                QTest::keyClick(&settings, Qt::Key_Tab);
                TypeText(settings.focusWidget(), "imap-secret");
                QTest::keyClick(&settings, Qt::Key_Tab);
                QTest::keyClick(settings.focusWidget(), Qt::Key_A, Qt::ControlModifier);
                TypeText(settings.focusWidget(), "Fax notices");
                QTest::keyClick(&settings, Qt::Key_Return);
            });
        QTest::mouseClick(Button(dialog, IDC_CONFIG), Qt::LeftButton);
        const SIncomingSettings in = ReadProviderSettings().m_incoming;
        QVERIFY(std::tie(in.m_bWatch, in.m_strServer, in.m_eSecurity, in.m_strLogin, in.m_strFolder) ==
                std::make_tuple(true, std::string("MAIL.example.net:993"), EIncomingSecurity::StartTls,
                                std::string("ann.lee"), std::string("Fax notices")));
        // Without a keyring the password cannot be kept, and the user is told so.
        QCOMPARE(Messages(), std::string(PRODUCT_NAME) + "\t" + NO_KEYRING_TEXT + "\n");
    }

    void helpOpensTheInstalledHelpDocument()
    {
        CUrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        CSendDialog dialog;
        QTest::mouseClick(Button(dialog, IDC_HELP), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.m_urls.size(), 1);
        QCOMPARE(catcher.m_urls.front().toLocalFile().toStdString(), System("Sample.html").string());
    }

    void screenshotOfTheMainDialog()
    {
        const QByteArray strTarget = qgetenv("VELLUM_SCREENSHOT");
        if (strTarget.isEmpty())
            QSKIP("VELLUM_SCREENSHOT names no file");
        WriteBytes(Drive("Page.tmp"), PageCountFile(3));
        WriteBytes(Drive("quill.1"), LetterRaster());
        WriteBytes(System("flist.dll"),
                   BookBytes({{"Bolt_Trading", "12345678901"}, {"Acme_Co", "8675551234"}}));
        CSendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QComboBox* pCombo = Recipient(dialog);
        const int nBolt = pCombo->findText("Bolt_Trading");
        pCombo->setCurrentIndex(nBolt);
        emit pCombo->activated(nBolt);
        QTest::mouseClick(Button(dialog, IDC_PREVIEW), Qt::LeftButton);
        const QString strMain = QString::fromUtf8(strTarget);
        QVERIFY(dialog.grab().save(strMain));

        // The other dialogs beside it, for a look.
        const QString strBase = strMain.left(strMain.lastIndexOf('.'));
        WriteBytes(System("quill.cfg"), "\x10mail.example.net\x0F"
                                        "ann@example.net\x07"
                                        "Ann Lee");
        CSettingsDialog settings(&dialog);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QVERIFY(settings.grab().save(strBase + "-settings.png"));
        CAboutDialog about(&dialog);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(about.grab().save(strBase + "-about.png"));
        CCoverPageDialog cover("Bolt Trading Ltd", "Spring offer", "Two pages follow.\nPlease call me.",
                               &dialog);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        QVERIFY(cover.grab().save(strBase + "-cover.png"));
    }
};

QTEST_MAIN(CSendDialogTest)
#include "SendDialogTest.moc"
