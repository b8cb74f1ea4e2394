#include "sender/app/SentFaxWindow.h"

#include "platform/Message.h"
#include "platform/PageFiles.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "sender/app/MailPassword.h"
#include "sender/app/NoticeCommand.h"
#include "sender/app/PreviewPane.h"
#include "sender/app/SendRunner.h"
#include "sender/app/SentFaxModel.h"
#include "sender/app/SentFaxes.h"
#include "sender/common/Branding.h"
#include "sender/report/FaxPdf.h"
#include "sender/report/TransmissionReport.h"
#include "sender/store/ProviderSettings.h"
#include "sender/store/SettingsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace
{

constexpr const char* WINDOW_TITLE = "Sent faxes - Vellum Zeru 3.1";
// The preview pane holds the view and its margin on each side.
constexpr int PREVIEW_MARGIN = 5;
// How much of the recipient's name a proposed file name takes.
constexpr int MAX_NAME_CHARACTERS = 60;

// Asks before something that cannot be undone. With a message log (tests, scripts) the
// question is logged and answered with its default button.
bool Confirm(QWidget* pParent, const std::string& strText, bool bDefaultYes = true)
{
    if (platform::MessagesGoToLog())
    {
        platform::ShowMessage(PRODUCT_NAME, strText, platform::EMessageIcon::Information);
        return bDefaultYes;
    }
    return QMessageBox::question(pParent, PRODUCT_NAME, QString::fromStdString(strText),
                                 QMessageBox::Yes | QMessageBox::No,
                                 bDefaultYes ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

std::string CountText(int nCount, const char* pszOne, const char* pszMany)
{
    return std::to_string(nCount) + " " + (nCount == 1 ? pszOne : pszMany);
}

// "Keeping at most 1 fax and 200 MB deletes the 2 oldest faxes and their pages. Delete them now?"
std::string PruneQuestion(const SSentFaxLimits& limits, int nRemoved)
{
    const std::string strFaxes = limits.m_nMaxFaxes == SENT_NO_LIMIT
                                     ? "any number of faxes"
                                     : CountText(limits.m_nMaxFaxes, "fax", "faxes");
    const std::string strSize = limits.m_nMaxMegabytes == SENT_NO_LIMIT
                                    ? "any number of megabytes"
                                    : std::to_string(limits.m_nMaxMegabytes) + " MB";
    const std::string strRemoved = nRemoved == 1
                                       ? "the oldest fax and its pages"
                                       : "the " + std::to_string(nRemoved) + " oldest faxes and their pages";
    return "Keeping at most " + strFaxes + " and " + strSize + " deletes " + strRemoved + ". Delete " +
           (nRemoved == 1 ? "it" : "them") + " now?";
}

// An error from the settings or the page files, with the user's own folders left out: what is
// wrong and the file's place within the program's folders say enough.
std::string WithoutRoot(std::string strText)
{
    const std::string strRoot = platform::VellumRoot().string() + "/";
    for (auto nAt = strText.find(strRoot); nAt != std::string::npos; nAt = strText.find(strRoot, nAt))
        strText.erase(nAt, strRoot.size());
    return strText;
}

// "Fax 2027-01-15 Acme_Trading.pdf": the date sent and the recipient, with only characters
// that any file system and any desktop takes in a name.
QString PdfName(const char* pszKind, const SSentFax& fax)
{
    QString strRecipient = QString::fromStdString(fax.m_strRecipient).left(MAX_NAME_CHARACTERS);
    for (QChar& ch : strRecipient)
        if (!ch.isLetterOrNumber() && ch != u'-' && ch != u'_')
            ch = u'_';
    return QString::fromLatin1(pszKind) + u' ' +
           QDateTime::fromSecsSinceEpoch(fax.m_nSentAt).toString(QStringLiteral("yyyy-MM-dd")) +
           (strRecipient.isEmpty() ? QString() : u' ' + strRecipient) + QStringLiteral(".pdf");
}

// Where the last PDF was saved in this run of the program.
QString g_strLastPdfFolder;

std::string Describe(const SSentFax& fax)
{
    return fax.m_strRecipient + " (" + fax.m_strFaxNumber + "), sent " +
           SentTimeText(fax.m_nSentAt).toStdString();
}

} // namespace

CSentFaxWindow::CSentFaxWindow(QWidget* pParent, std::filesystem::path folder, NoticePollFunction fnPoll)
    : QDialog(pParent), m_pStore(std::make_unique<CSentFaxStore>(std::move(folder))),
      m_fnPoll(std::move(fnPoll))
{
    setWindowTitle(QString::fromUtf8(WINDOW_TITLE));
    std::string strError;
    (void)m_pStore->Open(strError);

    m_labelProblem = new QLabel(this);
    m_labelProblem->setObjectName(QStringLiteral("problem"));
    m_labelProblem->setWordWrap(true);
    // It may say what a mail server answered: never read as markup.
    m_labelProblem->setTextFormat(Qt::PlainText);
    m_buttonNewRecord = new QPushButton(tr("Start a new record"), this);
    m_buttonNewRecord->setObjectName(QStringLiteral("newRecord"));

    m_editSearch = new QLineEdit(this);
    m_editSearch->setObjectName(QStringLiteral("search"));
    m_editSearch->setPlaceholderText(tr("Search by name, fax number or Message-ID"));
    m_editSearch->setClearButtonEnabled(true);

    m_pModel = new CSentFaxModel(*m_pStore, this);
    m_tableFaxes = new QTableView(this);
    m_tableFaxes->setObjectName(QStringLiteral("faxes"));
    m_tableFaxes->setModel(m_pModel);
    m_tableFaxes->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableFaxes->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableFaxes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableFaxes->verticalHeader()->hide();
    m_tableFaxes->horizontalHeader()->setStretchLastSection(true);
    // Every row is one line high: the view need not measure the rows to lay them out.
    m_tableFaxes->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tableFaxes->setColumnWidth(CSentFaxModel::COLUMN_SENT, 120);
    m_tableFaxes->setColumnWidth(CSentFaxModel::COLUMN_RECIPIENT, 150);
    m_tableFaxes->setColumnWidth(CSentFaxModel::COLUMN_NUMBER, 120);
    m_tableFaxes->setColumnWidth(CSentFaxModel::COLUMN_PAGES, 50);
    m_pModel->SetWatching(ReadProviderSettings().m_incoming.m_bWatch);

    m_listPages = new QListWidget(this);
    m_listPages->setObjectName(QStringLiteral("pages"));
    m_listPages->setFixedWidth(70);
    m_preview = new CPreviewPane(this);
    m_preview->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_preview->SetBackTint(Qt::white);
    m_preview->setFixedSize(VIEW_WIDTH + 2 * PREVIEW_MARGIN, VIEW_HEIGHT + 2 * PREVIEW_MARGIN);
    m_sliderVert = new QSlider(Qt::Vertical, this);
    m_sliderVert->setObjectName(QStringLiteral("vertical"));
    // The top of the slider is the top of the page, as in the main dialog.
    m_sliderVert->setInvertedAppearance(true);
    m_sliderVert->setInvertedControls(true);
    m_sliderHorz = new QSlider(Qt::Horizontal, this);
    m_sliderVert->setRange(0, VERT_OFFSET_MAX);
    m_sliderHorz->setRange(0, HORZ_OFFSET_MAX);
    m_sliderVert->setFixedHeight(m_preview->height());
    m_sliderHorz->setFixedWidth(m_preview->width());

    m_textDetails = new QPlainTextEdit(this);
    m_textDetails->setObjectName(QStringLiteral("details"));
    m_textDetails->setReadOnly(true);
    m_textDetails->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_textDetails->setFixedHeight(110);

    m_buttonCheckNow = new QPushButton(tr("Check now"), this);
    m_buttonCheckNow->setObjectName(QStringLiteral("checkNow"));
    m_buttonCheckNow->setToolTip(tr("Look in your incoming mail for the gateway's status notices now"));
    m_buttonCheckNow->setAutoDefault(false);
    m_buttonReport = new QPushButton(tr("Report..."), this);
    m_buttonReport->setObjectName(QStringLiteral("report"));
    m_buttonReport->setToolTip(tr("Save a transmission report of the fax as a PDF, and print it"));
    m_buttonSavePdf = new QPushButton(tr("Save as PDF..."), this);
    m_buttonSavePdf->setObjectName(QStringLiteral("savePdf"));
    m_buttonSavePdf->setToolTip(tr("Save every page of the fax in one PDF, at its true size"));
    // Neither is the window's default button: Return in the search starts no file dialog.
    m_buttonReport->setAutoDefault(false);
    m_buttonSavePdf->setAutoDefault(false);
    m_buttonSendAgain = new QPushButton(tr("Send again"), this);
    m_buttonSendAgain->setObjectName(QStringLiteral("sendAgain"));
    m_buttonDelete = new QPushButton(tr("Delete"), this);
    m_buttonDelete->setObjectName(QStringLiteral("delete"));
    auto* pClose = new QPushButton(tr("Close"), this);
    pClose->setObjectName(QStringLiteral("close"));

    const SSentFaxLimits limits = ReadProviderSettings().m_sentLimits;
    // 0 is no limit, shown as such, so that typing 0 keeps everything.
    m_spinFaxes = new QSpinBox(this);
    m_spinFaxes->setObjectName(QStringLiteral("keepFaxes"));
    m_spinFaxes->setRange(SENT_NO_LIMIT, MAX_SENT_FAXES_KEPT);
    m_spinFaxes->setSpecialValueText(tr("no limit"));
    m_spinFaxes->setValue(limits.m_nMaxFaxes);
    m_spinMegabytes = new QSpinBox(this);
    m_spinMegabytes->setObjectName(QStringLiteral("keepMegabytes"));
    m_spinMegabytes->setRange(SENT_NO_LIMIT, MAX_SENT_MEGABYTES_KEPT);
    m_spinMegabytes->setSpecialValueText(tr("no limit"));
    m_spinMegabytes->setValue(limits.m_nMaxMegabytes);
    m_spinMegabytes->setSuffix(QStringLiteral(" MB"));

    auto* pPreviewGrid = new QGridLayout;
    pPreviewGrid->addWidget(m_preview, 0, 0);
    pPreviewGrid->addWidget(m_sliderVert, 0, 1);
    pPreviewGrid->addWidget(m_sliderHorz, 1, 0);
    auto* pPreviewRow = new QHBoxLayout;
    pPreviewRow->addLayout(pPreviewGrid);
    pPreviewRow->addWidget(m_listPages);
    auto* pRight = new QVBoxLayout;
    pRight->addLayout(pPreviewRow);
    pRight->addStretch();
    auto* pMiddle = new QHBoxLayout;
    pMiddle->addWidget(m_tableFaxes, 1);
    pMiddle->addLayout(pRight);
    auto* pKeep = new QHBoxLayout;
    pKeep->addWidget(new QLabel(tr("Keep at most"), this));
    pKeep->addWidget(m_spinFaxes);
    pKeep->addWidget(new QLabel(tr("faxes and"), this));
    pKeep->addWidget(m_spinMegabytes);
    pKeep->addStretch();
    auto* pButtons = new QHBoxLayout;
    pButtons->addLayout(pKeep, 1);
    pButtons->addWidget(m_buttonCheckNow);
    pButtons->addWidget(m_buttonReport);
    pButtons->addWidget(m_buttonSavePdf);
    pButtons->addWidget(m_buttonSendAgain);
    pButtons->addWidget(m_buttonDelete);
    pButtons->addWidget(pClose);
    auto* pProblem = new QHBoxLayout;
    pProblem->addWidget(m_labelProblem, 1);
    pProblem->addWidget(m_buttonNewRecord, 0, Qt::AlignTop);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pProblem);
    pLayout->addWidget(m_editSearch);
    pLayout->addLayout(pMiddle, 1);
    pLayout->addWidget(m_textDetails);
    pLayout->addLayout(pButtons);
    resize(860, 520);

    if (!m_raster.Allocate())
        m_preview->setEnabled(false);
    ShowStoreState(strError);
    ShowPollFailureOnce();

    connect(m_editSearch, &QLineEdit::textChanged, this, &CSentFaxWindow::OnSearch);
    connect(m_tableFaxes->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &CSentFaxWindow::OnSelect);
    connect(m_pModel, &QAbstractItemModel::modelReset, this, &CSentFaxWindow::OnSelect);
    connect(m_listPages, &QListWidget::currentRowChanged, this, &CSentFaxWindow::OnPage);
    connect(m_sliderHorz, &QSlider::valueChanged, this, &CSentFaxWindow::OnHScroll);
    connect(m_sliderVert, &QSlider::valueChanged, this, &CSentFaxWindow::OnVScroll);
    connect(m_buttonCheckNow, &QPushButton::clicked, this, &CSentFaxWindow::OnCheckNow);
    connect(m_buttonReport, &QPushButton::clicked, this, &CSentFaxWindow::OnReport);
    connect(m_buttonSavePdf, &QPushButton::clicked, this, &CSentFaxWindow::OnSavePdf);
    connect(m_buttonSendAgain, &QPushButton::clicked, this, &CSentFaxWindow::OnSendAgain);
    connect(m_buttonDelete, &QPushButton::clicked, this, &CSentFaxWindow::OnDelete);
    connect(pClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_spinFaxes, &QSpinBox::editingFinished, this, &CSentFaxWindow::OnLimits);
    connect(m_spinMegabytes, &QSpinBox::editingFinished, this, &CSentFaxWindow::OnLimits);
    connect(m_buttonNewRecord, &QPushButton::clicked, this, &CSentFaxWindow::OnStartNewRecord);

    // The newest fax is chosen from the start; the search has the keyboard.
    if (m_pModel->rowCount() > 0)
        m_tableFaxes->selectRow(0);
    OnSelect();
    m_editSearch->setFocus();
}

CSentFaxWindow::~CSentFaxWindow() = default;

void CSentFaxWindow::ShowStoreState(const std::string& strError)
{
    const bool bOpened = m_pStore->IsOpen();
    if (!bOpened && m_pStore->IsDamaged())
        m_labelProblem->setText(QString::fromStdString(
            "The sent faxes cannot be shown: " + strError +
            ". To go on keeping a record of the faxes you send, start a new record: the damaged file is "
            "kept aside, renamed with today's date, and nothing is deleted."));
    else if (!bOpened)
        m_labelProblem->setText(QString::fromStdString("The sent faxes cannot be shown: " + strError + "."));
    else if (m_pStore->IsReadOnly())
        m_labelProblem->setText(tr("The record of sent faxes is read-only: nothing can be deleted, and new "
                                   "faxes are not recorded."));
    m_labelProblem->setVisible(!bOpened || m_pStore->IsReadOnly());
    m_buttonNewRecord->setVisible(!bOpened && m_pStore->IsDamaged());
    const bool bWritable = bOpened && !m_pStore->IsReadOnly();
    m_spinFaxes->setEnabled(bWritable);
    m_spinMegabytes->setEnabled(bWritable);
    m_editSearch->setEnabled(bOpened);
    m_buttonCheckNow->setEnabled(bWritable);
}

void CSentFaxWindow::ShowNoticeLine(const std::string& strText)
{
    if (!m_pStore->IsOpen() || m_pStore->IsReadOnly())
        return;
    m_labelProblem->setText(QString::fromStdString(platform::PrintableUtf8(strText)));
    m_labelProblem->setVisible(true);
}

void CSentFaxWindow::ShowPollFailureOnce()
{
    if (!m_pStore->IsOpen() || m_pStore->IsReadOnly())
        return;
    const SProviderSettings settings = ReadProviderSettings();
    if (!settings.m_incoming.m_bWatch)
        return;
    SNoticePollState state = m_pStore->PollState(NoticePollAccount(settings));
    if (state.m_strFailure.empty() || state.m_bFailureShown)
        return;
    ShowNoticeLine("The status notices could not be read: " + state.m_strFailure);
    state.m_bFailureShown = true;
    std::string strError;
    // Not kept: it is shown again next time, which is no harm.
    (void)m_pStore->WritePollState(state, strError);
}

void CSentFaxWindow::OnCheckNow()
{
    if (m_bChecking)
    {
        m_cancelCheck.Raise();
        return;
    }
    const SProviderSettings settings = ReadProviderSettings();
    const std::int64_t nNow = QDateTime::currentSecsSinceEpoch();
    CNoticeCheck check(*m_pStore, m_fnPoll);
    if (settings.m_incoming.m_strServer.empty())
    {
        ShowNoticeLine("Set the incoming mail server in Config to have the status notices read.");
        return;
    }
    if (!check.IsDue(settings, nNow, true))
    {
        ShowNoticeLine("No fax sent in the last three days awaits word.");
        return;
    }
    std::string strSmtpServer, strEmail, strUserName;
    (void)ReadSettings(strSmtpServer, strEmail, strUserName);
    const SMailboxAccount account = MailboxPasswordAccount(settings, strSmtpServer);
    if (account.m_strLogin.empty())
    {
        ShowNoticeLine(NO_MAILBOX_LOGIN_TEXT);
        return;
    }
    EPasswordOrigin eOrigin = EPasswordOrigin::AskedNotToKeep;
    auto strPassword = ObtainMailPassword(this, account.m_strServer, account.m_strLogin, &eOrigin);
    if (!strPassword)
        return;

    SNoticePollJob job = check.Prepare(settings, *strPassword, nNow);
    SPollResult poll;
    m_cancelCheck.Clear();
    m_bChecking = true;
    m_buttonCheckNow->setText(tr("Stop"));
    // The poll alone runs on the worker: the record's connection belongs to this thread.
    RunWhileWaiting([&] { poll = check.Poll(job, &m_cancelCheck); }, this, m_buttonCheckNow,
                    [this] { m_cancelCheck.Raise(); });
    m_bChecking = false;
    m_buttonCheckNow->setText(tr("Check now"));
    // A refused password shared with the SMTP account is not taken out of the keyring: the
    // mail server may still take it for sending.
    const ESignInAnswer eAnswer = poll.m_eStatus == EPollStatus::Ok ? ESignInAnswer::Accepted
                                  : poll.m_eStatus == EPollStatus::LoginRefused && !account.m_bSharedWithSmtp
                                      ? ESignInAnswer::Refused
                                      : ESignInAnswer::None;
    SettleMailPassword(account.m_strServer, account.m_strLogin, *strPassword, eOrigin, eAnswer);
    platform::WipeSecret(*strPassword);

    const SNoticeCheckResult result = check.Apply(settings, poll, nNow);
    if (result.m_eOutcome == ENoticeCheck::Failed)
    {
        ShowNoticeLine("The status notices could not be read: " + result.m_strFailure);
        SNoticePollState state = m_pStore->PollState(NoticePollAccount(settings));
        state.m_bFailureShown = true;
        std::string strError;
        (void)m_pStore->WritePollState(state, strError);
        return;
    }
    if (result.m_eOutcome == ENoticeCheck::NotDue)
        ShowNoticeLine("The check for status notices was stopped.");
    else
        ShowNoticeLine(result.m_aNewWord.empty()
                           ? std::string("No new word from the gateway.")
                           : "New word on " +
                                 CountText(static_cast<int>(result.m_aNewWord.size()), "fax", "faxes") + ".");
    const int nRow = m_tableFaxes->selectionModel()->currentIndex().row();
    m_pModel->Reload();
    if (m_pModel->rowCount() > 0)
        m_tableFaxes->selectRow(std::max(0, std::min(nRow, m_pModel->rowCount() - 1)));
}

void CSentFaxWindow::OnStartNewRecord()
{
    std::string strAside;
    std::string strError;
    if (!m_pStore->StartNewRecord(strAside, strError))
    {
        platform::ShowMessage(PRODUCT_NAME,
                              "Sorry, a new record of sent faxes could not be started: " + strError,
                              platform::EMessageIcon::Warning);
        ShowStoreState(strError);
        return;
    }
    ShowStoreState({});
    m_pModel->Reload();
    if (!strAside.empty())
        platform::ShowMessage(PRODUCT_NAME,
                              "A new record of sent faxes is started. The damaged one is kept as " +
                                  strAside + " in the folder of sent faxes.",
                              platform::EMessageIcon::Information);
}

const SSentFax* CSentFaxWindow::SelectedFax() const
{
    const QModelIndex current = m_tableFaxes->selectionModel()->currentIndex();
    return current.isValid() ? m_pModel->Fax(current.row()) : nullptr;
}

void CSentFaxWindow::OnSearch()
{
    m_pModel->SetSearch(m_editSearch->text().trimmed().toStdString());
    if (m_pModel->rowCount() > 0)
        m_tableFaxes->selectRow(0);
}

void CSentFaxWindow::OnSelect()
{
    const SSentFax* pFax = SelectedFax();
    ShowDetails(pFax);
    const bool bWritable = m_pStore->IsOpen() && !m_pStore->IsReadOnly();
    m_buttonReport->setEnabled(pFax != nullptr);
    m_buttonSavePdf->setEnabled(pFax != nullptr && pFax->m_nPages > 0);
    m_buttonSendAgain->setEnabled(pFax != nullptr && pFax->m_nPages > 0);
    m_buttonDelete->setEnabled(pFax != nullptr && bWritable);
    m_listPages->clear();
    m_bPreviewLoaded = false;
    m_preview->SetView(QImage());
    if (pFax == nullptr)
        return;
    for (int nPage = 1; nPage <= pFax->m_nPages; ++nPage)
        m_listPages->addItem(tr("Page %1").arg(nPage));
    if (m_listPages->count() > 0)
        m_listPages->setCurrentRow(0);
}

void CSentFaxWindow::ShowDetails(const SSentFax* pFax)
{
    if (pFax == nullptr)
    {
        QString strText;
        if (m_pStore->IsOpen() && m_pModel->MatchCount() == 0)
            strText = m_editSearch->text().trimmed().isEmpty() ? tr("No faxes sent.")
                                                               : tr("No fax matches the search.");
        m_textDetails->setPlainText(strText);
        return;
    }
    std::string strText = "Sent: " + SentTimeText(pFax->m_nSentAt).toStdString() + "\n";
    strText += "To: " + pFax->m_strRecipient + ", fax number " + pFax->m_strFaxNumber + "\n";
    strText += "Gateway address: " + pFax->m_strGatewayAddress + "\n";
    strText += "Pages: " + std::to_string(pFax->m_nPages) + ", mail of " +
               std::to_string(pFax->m_nMailBytes) + " bytes\n";
    strText += "Message-ID: " + pFax->m_strMessageId + "\n";
    strText +=
        "Status: " + FaxStatusText(*pFax, m_pModel->IsWatching(), QDateTime::currentSecsSinceEpoch()) + "\n";
    if (pFax->m_nNoticeAt > 0)
    {
        strText += "Notice of " + SentTimeText(pFax->m_nNoticeAt).toStdString() + ": " +
                   pFax->m_strNoticeSubject + "\n";
        if (!pFax->m_strNoticeLines.empty())
            strText += pFax->m_strNoticeLines + "\n";
    }
    strText += "Server reply:\n" + pFax->m_strServerReply;
    m_textDetails->setPlainText(QString::fromStdString(strText));
}

void CSentFaxWindow::OnPage()
{
    const SSentFax* pFax = SelectedFax();
    const int nPage = m_listPages->currentRow() + 1;
    if (pFax == nullptr || nPage < 1 || !m_raster.IsAllocated())
        return;
    std::string strError;
    const auto path = m_pStore->PagePath(*pFax, nPage);
    const auto raster = path.empty() ? std::nullopt : ReadFaxPageRaster(path, strError);
    if (!raster)
    {
        // A copy that is gone or damaged shows an empty page; the list says which.
        m_bPreviewLoaded = false;
        m_preview->SetView(QImage());
        m_listPages->currentItem()->setToolTip(QString::fromStdString(strError));
        return;
    }
    m_raster.LoadBytes(raster->data(), raster->size());
    m_bPreviewLoaded = true;
    DrawPreview();
}

void CSentFaxWindow::DrawPreview()
{
    QImage view(VIEW_WIDTH, VIEW_HEIGHT, QImage::Format_Grayscale8);
    std::vector<std::uint8_t> aView(std::size_t{VIEW_WIDTH} * VIEW_HEIGHT);
    m_raster.RenderView(m_sliderHorz->value(), m_sliderVert->value(), aView.data());
    for (int y = 0; y < VIEW_HEIGHT; ++y)
        std::copy_n(aView.data() + std::size_t{VIEW_WIDTH} * y, VIEW_WIDTH, view.scanLine(y));
    m_preview->SetView(std::move(view));
}

void CSentFaxWindow::OnHScroll()
{
    if (m_bPreviewLoaded)
        DrawPreview();
}

void CSentFaxWindow::OnVScroll()
{
    if (m_bPreviewLoaded)
        DrawPreview();
}

std::vector<std::filesystem::path> CSentFaxWindow::PagePaths(const SSentFax& fax) const
{
    std::vector<std::filesystem::path> aPages;
    for (int nPage = 1; nPage <= fax.m_nPages; ++nPage)
        aPages.push_back(m_pStore->PagePath(fax, nPage));
    return aPages;
}

std::optional<std::filesystem::path> CSentFaxWindow::AskSavePath(const QString& strTitle,
                                                                 const QString& strName)
{
    if (g_strLastPdfFolder.isEmpty())
    {
        g_strLastPdfFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (g_strLastPdfFolder.isEmpty() || !QDir(g_strLastPdfFolder).exists())
            g_strLastPdfFolder = QDir::homePath();
    }
    QFileDialog dialog(this, strTitle, QDir(g_strLastPdfFolder).filePath(strName),
                       tr("PDF documents (*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString strPath = dialog.selectedFiles().constFirst();
    g_strLastPdfFolder = QFileInfo(strPath).absolutePath();
    return std::filesystem::path(strPath.toStdString());
}

void CSentFaxWindow::OnReport()
{
    const SSentFax* pFax = SelectedFax();
    if (pFax == nullptr)
        return;
    const SSentFax fax = *pFax;
    CTransmissionReport report;
    std::string strError;
    if (!report.Load(fax, m_pStore->PagePath(fax, 1), strError))
    {
        platform::ShowMessage(PRODUCT_NAME,
                              "Sorry, the transmission report cannot be made: " + strError + ".",
                              platform::EMessageIcon::Warning);
        return;
    }
    const auto path = AskSavePath(tr("Save the transmission report"), PdfName("Fax report", fax));
    if (!path)
        return;
    if (!report.WritePdf(*path, strError))
    {
        platform::ShowMessage(PRODUCT_NAME,
                              "Sorry, the transmission report could not be saved: " + strError + ".",
                              platform::EMessageIcon::Warning);
        return;
    }
    // Printing is a choice after the report is saved: the same page goes to the printer.
    const std::string strSaved = "The transmission report of the fax to " + Describe(fax) + " is saved as " +
                                 path->filename().string() + ".";
    if (platform::MessagesGoToLog())
    {
        platform::ShowMessage(PRODUCT_NAME, strSaved, platform::EMessageIcon::Information);
        return;
    }
    QMessageBox box(QMessageBox::Information, PRODUCT_NAME, QString::fromStdString(strSaved),
                    QMessageBox::Close, this);
    box.setObjectName(QStringLiteral("reportSaved"));
    QPushButton* pPrint = box.addButton(tr("Print..."), QMessageBox::ActionRole);
    pPrint->setObjectName(QStringLiteral("print"));
    box.setDefaultButton(QMessageBox::Close);
    box.exec();
    if (box.clickedButton() != pPrint)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(path->stem().string()));
    printer.setPageLayout(CTransmissionReport::DefaultLayout());
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter;
    if (!painter.begin(&printer))
    {
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the transmission report could not be printed.",
                              platform::EMessageIcon::Warning);
        return;
    }
    report.Draw(painter, printer.pageLayout());
    painter.end();
}

void CSentFaxWindow::OnSavePdf()
{
    const SSentFax* pFax = SelectedFax();
    if (pFax == nullptr)
        return;
    const SSentFax fax = *pFax;
    const auto path = AskSavePath(tr("Save the fax as a PDF"), PdfName("Fax", fax));
    if (!path)
        return;
    std::string strError;
    if (!WriteFaxPdf(fax, PagePaths(fax), *path, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the fax could not be saved as a PDF: " + strError + ".",
                              platform::EMessageIcon::Warning);
}

void CSentFaxWindow::OnSendAgain()
{
    const SSentFax* pFax = SelectedFax();
    if (pFax == nullptr)
        return;
    std::error_code error;
    if (std::filesystem::exists(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME), error) &&
        !Confirm(this, "Pages printed to the fax printer are waiting to be sent. Replace them with the " +
                           std::to_string(pFax->m_nPages) + " pages of the fax to " + Describe(*pFax) + "?"))
        return;
    std::string strError;
    if (!RestoreSentPages(*m_pStore, *pFax, strError))
    {
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the fax cannot be sent again: " + WithoutRoot(strError),
                              platform::EMessageIcon::Warning);
        return;
    }
    m_sendAgain = *pFax;
    accept();
}

void CSentFaxWindow::OnDelete()
{
    const SSentFax* pFax = SelectedFax();
    if (pFax == nullptr || !Confirm(this, "Delete the fax to " + Describe(*pFax) + ", and its pages?"))
        return;
    const int nRow = m_tableFaxes->selectionModel()->currentIndex().row();
    std::string strError;
    if (!m_pStore->Remove(pFax->m_nId, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the fax could not be deleted: " + strError,
                              platform::EMessageIcon::Warning);
    m_pModel->Reload();
    if (m_pModel->rowCount() > 0)
        m_tableFaxes->selectRow(std::min(nRow, m_pModel->rowCount() - 1));
}

void CSentFaxWindow::OnLimits()
{
    if (m_bAskingLimits)
        return;
    SProviderSettings settings = ReadProviderSettings();
    const SSentFaxLimits limits{m_spinFaxes->value(), m_spinMegabytes->value()};
    if (settings.m_sentLimits.m_nMaxFaxes == limits.m_nMaxFaxes &&
        settings.m_sentLimits.m_nMaxMegabytes == limits.m_nMaxMegabytes)
        return;
    // A limit typed by mistake or half typed must not delete faxes unasked; No puts the
    // limits back as they were.
    if (const int nRemoved = m_pStore->CountBeyondLimits(limits).value_or(0); nRemoved > 0)
    {
        m_bAskingLimits = true;
        const bool bDelete = Confirm(this, PruneQuestion(limits, nRemoved), false);
        m_bAskingLimits = false;
        if (!bDelete)
        {
            const QSignalBlocker blockFaxes(m_spinFaxes);
            const QSignalBlocker blockMegabytes(m_spinMegabytes);
            m_spinFaxes->setValue(settings.m_sentLimits.m_nMaxFaxes);
            m_spinMegabytes->setValue(settings.m_sentLimits.m_nMaxMegabytes);
            return;
        }
    }
    settings.m_sentLimits = limits;
    std::string strError;
    if (!WriteProviderSettings(settings, strError))
        platform::ShowMessage(PRODUCT_NAME,
                              "Sorry, the settings could not be saved (" + WithoutRoot(strError) + ")",
                              platform::EMessageIcon::Warning);
    if (!m_pStore->Prune(limits, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the oldest faxes could not be removed: " + strError,
                              platform::EMessageIcon::Warning);
    m_pModel->Reload();
    if (m_pModel->rowCount() > 0)
        m_tableFaxes->selectRow(0);
}
