#include "sender/app/SendDialog.h"

#include "pages/DocumentFile.h"
#include "platform/BinaryFile.h"
#include "platform/Message.h"
#include "platform/PageFiles.h"
#include "platform/ProgramPath.h"
#include "platform/Roots.h"
#include "platform/Text.h"
#include "resources/DialogTables.h"
#include "resources/ProgramIcon.h"
#include "sender/app/AboutDialog.h"
#include "sender/app/CoverChoice.h"
#include "sender/app/CoverPageDialog.h"
#include "sender/app/DialogBuilder.h"
#include "sender/app/MailPassword.h"
#include "sender/app/MisdialQuestion.h"
#include "sender/app/PreviewPane.h"
#include "sender/app/QueryButton.h"
#include "sender/app/RecipientList.h"
#include "sender/app/SendCheckBox.h"
#include "sender/app/SendRunner.h"
#include "sender/app/SentFaxWindow.h"
#include "sender/app/SentFaxes.h"
#include "sender/app/SettingsDialog.h"
#include "sender/common/Branding.h"
#include "sender/controls/HyperLink1.h"
#include "sender/controls/LinkOpener.h"
#include "sender/controls/TintedStatic.h"
#include "sender/mail/MailSyntax.h"
#include "sender/send/CoverInsertion.h"
#include "sender/send/MultiSend.h"
#include "sender/send/SendOperation.h"
#include "sender/store/SettingsFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <utility>
#include <vector>

using namespace resources;

namespace
{

constexpr const char* WARNING_CAPTION = "警告";
constexpr const char* TEXT_REINSTALL = "程序不能运行，请重新安装Vellum之星3.0";
constexpr const char* TEXT_OUT_OF_MEMORY = "内存不够，请关闭其它应用程序";

constexpr const char* TEXT_BUTTON_WAIT = "Wait...";
constexpr const char* TEXT_BUTTON_SEND = "Send";

constexpr const char* PAGE_ENTRY_PREFIX = "Page ";
constexpr const char* TEXT_NO_COVER = "Sorry, the fax cannot have a cover page: ";
constexpr const char* TEXT_COVER_OVER_LIMIT = "Sorry, a fax has at most 254 pages, the cover page included";
static_assert(platform::MAX_PAGES == 254);

constexpr int SLIDER_TICK_FREQUENCY = 200;
constexpr int SLIDER_START_POSITION = 30;

// The help document that the installer places in the system directory.
constexpr const char* HELP_DOCUMENT_NAME = "Sample.html";

} // namespace

CSendDialog::CSendDialog(QWidget* pParent) : QDialog(pParent), m_hIcon(ProgramIcon())
{
    CDialogBuilder::Build(*this, SEND_DIALOG,
                          [this](const SControlTemplate& control, QWidget* pDialogParent)
                          { return CreateControl(control, pDialogParent); });
    m_boxMore = CDialogBuilder::Control<CTintedStatic>(*this, IDC_BOX_MORE);
    m_textMore = CDialogBuilder::Control<CTintedStatic>(*this, IDC_TEXT_MORE);
    m_linkMore = CDialogBuilder::Control<CHyperLink1>(*this, IDC_LINK_MORE);
    m_linkMore->Attach();
    m_sliderVert = CDialogBuilder::Control<QSlider>(*this, IDC_SLIDER_VERT);
    m_sliderHorz = CDialogBuilder::Control<QSlider>(*this, IDC_SLIDER_HORZ);
    m_listPages = CDialogBuilder::Control<QListWidget>(*this, IDC_PAGE_LIST);
    m_editFaxNumber = CDialogBuilder::Control<QLineEdit>(*this, IDC_FAX_NUMBER);
    m_comboRecipient = CDialogBuilder::Control<QComboBox>(*this, IDC_RECIPIENT);
    m_buttonCoverPage = CDialogBuilder::Control<QCheckBox>(*this, IDC_COVER_PAGE);
    m_buttonCoverDetails = CDialogBuilder::Control<QPushButton>(*this, IDC_COVER_DETAILS);
    m_preview = qobject_cast<CPreviewPane*>(CDialogBuilder::Control(*this, IDC_PREVIEW_SURFACE));
    m_pQueryButton =
        std::make_unique<CQueryButton>(CDialogBuilder::Control<QPushButton>(*this, IDC_ONLINE_QUERY));
    m_pRecipients = std::make_unique<CRecipientList>(
        *this, m_comboRecipient, m_editFaxNumber,
        CDialogBuilder::BaseUnitsOf(CDialogBuilder::DialogFont(SEND_DIALOG)));

    m_bInitCompleted = OnInitDialog();
    ConnectHandlers();
    setAcceptDrops(true);
}

CSendDialog::~CSendDialog() = default;

int CSendDialog::exec()
{
    // An application-modal dialog makes Qt turn away input to every other top-level window.
    // Window-modal without a parent blocks nobody, and exec() still waits for the end. The
    // message boxes and dialogs opened from here are modal themselves and still block it.
    setWindowModality(Qt::WindowModal);
    return QDialog::exec();
}

QWidget* CSendDialog::CreateControl(const SControlTemplate& control, QWidget* pParent)
{
    const QString strText = QString::fromUtf8(control.m_pszText);
    switch (control.m_nId)
    {
    case IDC_PREVIEW_SURFACE:
    {
        auto* pPane = new CPreviewPane(pParent);
        pPane->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        return pPane;
    }
    case IDC_BOX_MORE:
    {
        auto* pBox = new CTintedStatic(pParent, CTintedStatic::EKind::GroupBox);
        pBox->setText(strText);
        return pBox;
    }
    case IDC_TEXT_MORE:
    {
        auto* pText = new CTintedStatic(pParent);
        pText->setText(strText);
        return pText;
    }
    case IDC_LINK_MORE:
    {
        auto* pLink = new CHyperLink1(pParent);
        pLink->setText(strText);
        return pLink;
    }
    default:
        return nullptr;
    }
}

bool CSendDialog::OnInitDialog()
{
    // The preview surface is white behind the view.
    m_preview->SetBackTint(Qt::white);

    // There is no system menu to extend on this desktop, so string 101 has no item to
    // name; the window manager draws the icon of the minimized window.
    setWindowIcon(m_hIcon);

    if (m_tip.CreateBalloon(this))
    {
        const QColor tipColour(255, 0, 0);
        for (const SControlTip& tip : SEND_DIALOG_TIPS)
            m_tip.AddControlTip(CDialogBuilder::Control(*this, tip.m_nId), tip.m_pszText, tipColour);
    }

    m_linkMore->SetTarget(PUBLISHER_WEB_ADDRESS);
    m_linkMore->AlterLinkStyle(0, CHyperLink1::LinkOpenOnPress, CHyperLink1::EApply::Now);
    const QColor blue(0, 0, 255);
    m_textMore->SetTextTint(blue);
    m_boxMore->SetTextTint(blue);

    LoadAddressBook();
    m_provider = ReadProviderSettings();
    m_pQueryButton->m_options.m_strHost = m_provider.m_strQueryHost;
    // The last fax's choice; its template is checked when the cover is shown or sent.
    m_buttonCoverPage->setChecked(m_provider.m_bCoverPage);

    if (!FillPageList())
        return false;
    SetUpPreview();
    return true;
}

void CSendDialog::SetUpPreview()
{
    m_sliderVert->setRange(0, VERT_OFFSET_MAX);
    m_sliderHorz->setRange(0, HORZ_OFFSET_MAX);
    for (QSlider* pSlider : {m_sliderVert, m_sliderHorz})
    {
        pSlider->setTickInterval(SLIDER_TICK_FREQUENCY);
        pSlider->setPageStep(SLIDER_TICK_FREQUENCY);
        pSlider->setValue(SLIDER_START_POSITION);
    }
    m_nCurrentPage = 1;

    if (!m_raster.IsAllocated() && !m_raster.Allocate())
        platform::ShowMessage(WARNING_CAPTION, TEXT_OUT_OF_MEMORY);
}

void CSendDialog::ConnectHandlers()
{
    auto button = [this](int nId) { return CDialogBuilder::Control<QPushButton>(*this, nId); };
    connect(button(IDOK), &QPushButton::clicked, this, &CSendDialog::OnSend);
    connect(button(IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
    connect(button(IDC_CONFIG), &QPushButton::clicked, this, &CSendDialog::OnConfig);
    connect(button(IDC_ONLINE_QUERY), &QPushButton::clicked, this, &CSendDialog::OnOnlineQuery);
    connect(button(IDC_HELP), &QPushButton::clicked, this, &CSendDialog::OnHelpButton);
    connect(button(IDC_ABOUT), &QPushButton::clicked, this, &CSendDialog::OnAbout);
    connect(button(IDC_PREVIEW), &QPushButton::clicked, this, &CSendDialog::OnPreview);
    connect(m_buttonCoverPage, &QCheckBox::toggled, this, &CSendDialog::OnCoverPageToggled);
    connect(m_buttonCoverDetails, &QPushButton::clicked, this, &CSendDialog::OnCoverDetails);
    connect(button(IDC_CHECK), &QPushButton::clicked, this, &CSendDialog::OnCheck);
    // The sent faxes have no control of their own: the dialog's layout stays as it is.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this), &QShortcut::activated, this,
            &CSendDialog::OnSentFaxes);
    // Only choosing an item of the list looks a number up; typing a name does not.
    connect(m_comboRecipient, &QComboBox::activated, this, &CSendDialog::OnRecipientSelect);
    m_comboRecipient->lineEdit()->installEventFilter(this);
    m_comboRecipient->installEventFilter(this);
    m_editFaxNumber->installEventFilter(this);
    // Every movement of a slider, by mouse or key, and a press on its thumb, is a
    // scroll notification that takes the slider's position.
    for (auto [pSlider, handler] :
         {std::pair{m_sliderHorz, &CSendDialog::OnHScroll}, std::pair{m_sliderVert, &CSendDialog::OnVScroll}})
    {
        connect(pSlider, &QSlider::valueChanged, this, handler);
        connect(pSlider, &QSlider::sliderPressed, this, handler);
        connect(pSlider, &QSlider::sliderReleased, this, handler);
    }
}

bool CSendDialog::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // When typing ends (the box loses the focus, or Return) Qt's combo box "activates" the
    // entry whose name equals the typed text. That is no choice from the list: it must not
    // replace the number the user typed.
    if (pWatched == m_comboRecipient || pWatched == m_comboRecipient->lineEdit())
    {
        const auto* pKey = pEvent->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(pEvent) : nullptr;
        if (pEvent->type() == QEvent::FocusOut ||
            (pKey != nullptr && (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter)))
        {
            m_bTypingEnds = true;
            QTimer::singleShot(0, this, [this] { m_bTypingEnds = false; });
        }
    }
    if (pEvent->type() == QEvent::FocusOut)
    {
        if (pWatched == m_editFaxNumber)
            OnFaxNumberLeave();
        else if (pWatched == m_comboRecipient || pWatched == m_comboRecipient->lineEdit())
            OnRecipientLeave();
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

void CSendDialog::LoadAddressBook()
{
    m_book.Load();
    for (const auto& entry : m_book.Entries())
        AddRecipientName(QString::fromStdString(entry.m_strName));
    // Filling the list chooses no recipient.
    m_comboRecipient->setCurrentIndex(-1);
    m_comboRecipient->setEditText(QString());
}

void CSendDialog::AddRecipientName(const QString& strName)
{
    // The recipient list is sorted without regard to case; equal names keep the order
    // in which they came.
    int nPos = m_comboRecipient->count();
    while (nPos > 0 &&
           QString::compare(m_comboRecipient->itemText(nPos - 1), strName, Qt::CaseInsensitive) > 0)
        --nPos;
    m_comboRecipient->insertItem(nPos, strName);
}

bool CSendDialog::FillPageList()
{
    platform::CFileReader file;
    std::uint8_t nPageCount = 0;
    // An empty page-count file says no more than a missing one.
    if (!file.Open(platform::DrivePath(platform::PAGE_COUNT_FILE_NAME)) || !file.ReadByte(nPageCount))
        return false;
    // A count of no pages says that the printer ran but left nothing.
    if (nPageCount == platform::PageCountByte(0))
    {
        platform::ShowMessage(CLinkOpener::ApplicationTitle(), TEXT_REINSTALL,
                              platform::EMessageIcon::Warning);
        return false;
    }
    m_bCoverInPages = WaitingFaxHasCover();
    m_nDocumentPages = platform::PagesOfCountByte(nPageCount) - (m_bCoverInPages ? 1 : 0);
    ShowCoverInPages();
    ListPages(0);
    return true;
}

// Send: the checks and the settings on this thread, the address book, then the converter
// and the mail on a worker while the dialog waits, and the outcome in a message box.
void CSendDialog::OnSend()
{
    m_provider = ReadProviderSettings();
    // A damaged gateway address would send the fax to the built-in gateway instead.
    if (const auto eGateway = CGatewayTemplate::Check(m_provider.m_strGatewayAddress);
        eGateway != EGatewayTemplateCheck::Ok)
    {
        platform::ShowMessage(PRODUCT_NAME, GatewaySettingText(eGateway), platform::EMessageIcon::Warning);
        return;
    }
    const CGatewayTemplate gateway(m_provider.m_strGatewayAddress);
    if (m_pRecipients->Count() > 1)
    {
        SendToSeveral(gateway);
        return;
    }
    m_strRecipient = m_comboRecipient->currentText().toStdString();
    m_strFaxNumber = m_editFaxNumber->text().toStdString();
    const ERecipientCheck eCheck = CheckRecipient(m_strRecipient, m_strFaxNumber, gateway);
    if (eCheck != ERecipientCheck::Ok)
    {
        platform::ShowMessage(PRODUCT_NAME, RecipientCheckText(eCheck, gateway, m_strFaxNumber.size()),
                              platform::EMessageIcon::Warning);
        return;
    }
    if (!ReadSenderSettings())
        return;

    // A number or name that looks mistyped against the address book asks first; the choice
    // shows in the controls (and so on the cover page).
    const std::string strTypedName = m_strRecipient;
    const std::string strTypedNumber = m_strFaxNumber;
    if (!ConfirmLikelyMisdial(this, m_book.Entries(), gateway, m_strRecipient, m_strFaxNumber))
        return;
    if (m_strRecipient != strTypedName || m_strFaxNumber != strTypedNumber)
    {
        m_comboRecipient->setEditText(QString::fromStdString(m_strRecipient));
        m_editFaxNumber->setText(QString::fromStdString(m_strFaxNumber));
    }

    // A cover asked for and not to be had stops the send: the fax never goes without it.
    // A cover that a failed send put in already goes as it is.
    SSendJob job;
    job.m_cover = CoverRequest();
    if (job.m_cover && !WaitingFaxHasCover() && !CheckCover(*job.m_cover))
        return;

    // A secure send with a login signs in: the password comes from the keyring or the user.
    // A user who cancels the question sends nothing.
    const bool bSignIn = m_provider.m_eSecurity != ESmtpSecurity::None && !m_provider.m_strLogin.empty();
    EPasswordOrigin ePasswordOrigin = EPasswordOrigin::AskedNotToKeep;
    if (bSignIn && !ObtainPassword(job, ePasswordOrigin))
        return;

    // The recipient is recorded before anything is sent, whatever the outcome; a book that
    // cannot be written is reported and does not stop the fax.
    SaveAddressBook(m_strRecipient, m_strFaxNumber);

    // The disabled Send button loses the focus (to Cancel, where Return closes the dialog): it
    // goes back where it was once the send is over.
    const QPointer<QWidget> pFocus = focusWidget();
    SetSendButtonBusy(true);
    job.m_strSmtpServer = m_strSmtpServer;
    job.m_eSecurity = m_provider.m_eSecurity;
    job.m_strLogin = m_provider.m_strLogin;
    job.m_strFrom = m_strEmail;
    job.m_strRecipientAddress = GatewayAddress(m_strRecipient, m_strFaxNumber, gateway);
    job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
    job.m_fnRunConverter = RunInstalledConverter;
    m_cancel.Clear();
    job.m_pCancel = &m_cancel;
    job.m_fnProgress = [this](std::uint64_t nSent, std::uint64_t nTotal)
    { QMetaObject::invokeMethod(this, [this, nSent, nTotal] { ShowSendProgress(nSent, nTotal); }); };
    const SSendResult result = RunSendJobWhileWaiting(
        job, this, CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), [this] { m_cancel.Raise(); });

    if (bSignIn)
        SettleMailPassword(m_strSmtpServer, m_provider.m_strLogin, job.m_strPassword, ePasswordOrigin,
                           result.m_bSignedIn             ? ESignInAnswer::Accepted
                           : result.m_bCredentialsRefused ? ESignInAnswer::Refused
                                                          : ESignInAnswer::None);
    platform::WipeSecret(job.m_strPassword);
    if (result.m_eOutcome == ESendOutcome::Sent)
        KeepSentRecord(job, result);
    // The list must not offer pages that can no longer be sent.
    if (PagesAreGone(result))
    {
        m_listPages->clear();
        m_bPreviewLoaded = false;
        m_preview->SetView(QImage());
    }
    else if (result.m_eOutcome != ESendOutcome::Sent)
    {
        // A cover this send put in stays among the pages for the next try.
        m_bCoverInPages = WaitingFaxHasCover();
        ShowCoverInPages();
    }
    const std::string strText = SendOutcomeText(result);
    if (result.m_eOutcome == ESendOutcome::NoPages)
        platform::ShowMessage(CLinkOpener::ApplicationTitle(), strText, platform::EMessageIcon::Warning);
    else if (!strText.empty())
        platform::ShowMessage(PRODUCT_NAME, strText, platform::EMessageIcon::Warning);
    if (!m_strRecordError.empty())
        platform::ShowMessage(PRODUCT_NAME,
                              "The fax was sent, but it could not be kept among the sent faxes: " +
                                  std::exchange(m_strRecordError, std::string()),
                              platform::EMessageIcon::Warning);
    SetSendButtonBusy(false);
    if (pFocus)
        pFocus->setFocus();
    if (result.m_eOutcome == ESendOutcome::Sent)
        accept();
}

void CSendDialog::OnCheck()
{
    // As during a send, Cancel and Escape end the check and do not close the dialog. Every
    // recipient of the list is checked; the boxes show the current one.
    std::vector<SCheckRecipient> aRecipients;
    for (const SAddressEntry& entry : m_pRecipients->Entries())
        aRecipients.push_back(SCheckRecipient{entry.m_strName, entry.m_strNumber});
    m_bSending = true;
    RunSendCheck(this, CDialogBuilder::Control<QPushButton>(*this, IDC_CHECK),
                 CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), m_cancel, std::move(aRecipients),
                 CoverRequest());
    m_bSending = false;
}

void CSendDialog::KeepSentRecord(const SSendJob& job, const SSendResult& result)
{
    std::string strError;
    if (!KeepSentFax(m_strRecipient, m_strFaxNumber, job.m_strRecipientAddress, result,
                     m_provider.m_sentLimits, strError))
        m_strRecordError = strError;
}

std::optional<SCoverRequest> CSendDialog::CoverRequest() const
{
    if (!m_buttonCoverPage->isChecked())
        return std::nullopt;
    // The settings as they are now: Config may have changed them since the dialog started.
    const SProviderSettings provider = ReadProviderSettings();
    std::string strServer, strEmail, strUserName;
    (void)ReadSettings(strServer, strEmail, strUserName);
    SCoverRequest request;
    request.m_template = CoverTemplatePath(provider.m_strCoverTemplate);
    SCoverFields& fields = request.m_fields;
    fields.m_strRecipient = m_comboRecipient->currentText().toStdString();
    fields.m_strRecipientFax = m_editFaxNumber->text().toStdString();
    fields.m_strRecipientCompany = m_strCoverCompany;
    fields.m_strSubject = m_strCoverSubject;
    fields.m_strNote = m_strCoverNote;
    FillCoverSender(fields, provider, strUserName, strEmail);
    fields.m_nPages = m_nDocumentPages + 1;
    return request;
}

bool CSendDialog::CheckCover(const SCoverRequest& request)
{
    if (request.m_fields.m_nPages > platform::MAX_PAGES)
    {
        platform::ShowMessage(PRODUCT_NAME, TEXT_COVER_OVER_LIMIT, platform::EMessageIcon::Warning);
        return false;
    }
    std::vector<std::uint8_t> raster;
    std::string strError;
    if (DrawCoverRequest(request, raster, strError))
        return true;
    platform::ShowMessage(PRODUCT_NAME, TEXT_NO_COVER + strError, platform::EMessageIcon::Warning);
    return false;
}

void CSendDialog::OnCoverPageToggled(bool bChecked)
{
    if (bChecked)
    {
        const auto request = CoverRequest();
        if (!request || !CheckCover(*request))
        {
            const QSignalBlocker blocker(m_buttonCoverPage);
            m_buttonCoverPage->setChecked(false);
            return;
        }
    }
    RefillPageList();
    // The next fax starts with this choice.
    SProviderSettings settings = ReadProviderSettings();
    settings.m_bCoverPage = bChecked;
    m_provider.m_bCoverPage = bChecked;
    std::string strError;
    if (!WriteProviderSettings(settings, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the settings could not be saved (" + strError + ")",
                              platform::EMessageIcon::Warning);
}

void CSendDialog::OnCoverDetails()
{
    CCoverPageDialog dialog(m_strCoverCompany, m_strCoverSubject, m_strCoverNote, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_strCoverCompany = dialog.m_strCompany;
    m_strCoverSubject = dialog.m_strSubject;
    m_strCoverNote = dialog.m_strNote;
    // Writing a cover asks for one; a cover already shown shows the new texts.
    if (!m_buttonCoverPage->isChecked())
        m_buttonCoverPage->setChecked(true);
    else if (m_bPreviewLoaded && m_nCurrentPage == 1)
        OnPreview();
}

void CSendDialog::RefillPageList()
{
    // No pages, nothing to list: a cover alone is no fax.
    if (m_listPages->count() == 0)
        return;
    // The page that was chosen stays chosen: one row further down with a cover, one up without.
    ListPages(m_listPages->currentRow() + ListedPages() - m_listPages->count());
    if (m_bPreviewLoaded)
        OnPreview();
}

int CSendDialog::ListedPages() const
{
    return m_nDocumentPages + (m_buttonCoverPage->isChecked() || m_bCoverInPages ? 1 : 0);
}

void CSendDialog::ListPages(int nRow)
{
    m_listPages->clear();
    const int nPages = ListedPages();
    for (int nPage = 1; nPage <= nPages; ++nPage)
        m_listPages->addItem(QString::fromLatin1(PAGE_ENTRY_PREFIX) + QString::number(nPage));
    if (nPages > 0)
        m_listPages->setCurrentRow(std::clamp(nRow, 0, nPages - 1));
}

void CSendDialog::ShowCoverInPages()
{
    // A cover that an earlier, failed send put in is one of the fax's pages now and goes with
    // them: the box says so and cannot be cleared, nor the drawn cover's texts changed.
    if (m_bCoverInPages)
    {
        const QSignalBlocker blocker(m_buttonCoverPage);
        m_buttonCoverPage->setChecked(true);
    }
    m_buttonCoverPage->setEnabled(!m_bCoverInPages);
    m_buttonCoverDetails->setEnabled(!m_bCoverInPages);
}

bool CSendDialog::DrawsCover() const
{
    return m_buttonCoverPage->isChecked() && !m_bCoverInPages;
}

void CSendDialog::ChooseCover(bool bCover)
{
    {
        const QSignalBlocker blocker(m_buttonCoverPage);
        m_buttonCoverPage->setChecked(bCover);
    }
    if (m_listPages->count() > 0)
        ListPages(0);
}

bool CSendDialog::CoverChosen() const
{
    return m_buttonCoverPage->isChecked();
}

void CSendDialog::OnSentFaxes()
{
    if (m_bSending)
        return;
    CSentFaxWindow window(this);
    if (window.exec() != QDialog::Accepted || !window.SendAgainFax())
        return;
    ShowPagesFor(window.SendAgainFax()->m_strRecipient, window.SendAgainFax()->m_strFaxNumber);
    ChooseCover(window.SendAgainFax()->m_bCoverSent);
}

namespace
{

// The one local file that a drag carries, or an empty text.
QString DraggedFile(const QMimeData* pData)
{
    if (pData == nullptr || pData->urls().size() != 1 || !pData->urls().front().isLocalFile())
        return {};
    return pData->urls().front().toLocalFile();
}

} // namespace

void CSendDialog::dragEnterEvent(QDragEnterEvent* pEvent)
{
    if (!m_bSending && !DraggedFile(pEvent->mimeData()).isEmpty())
        pEvent->acceptProposedAction();
}

void CSendDialog::dropEvent(QDropEvent* pEvent)
{
    const QString strFile = DraggedFile(pEvent->mimeData());
    if (strFile.isEmpty() || m_bSending)
        return;
    pEvent->acceptProposedAction();
    // The drop ends before the document is rendered, so that the dragging program goes on.
    QTimer::singleShot(0, this, [this, strFile] { (void)TakeDocument(strFile.toStdString()); });
}

bool CSendDialog::TakeDocument(const std::string& strPath)
{
    if (m_bSending)
        return false;
    // The rendering shows and ends as a send does: the Send button reads "Wait...", and Cancel
    // or Escape stop it at once, leaving the pages as they were.
    SetSendButtonBusy(true);
    m_cancel.Clear();
    driver::SDocumentSettings settings;
    settings.m_pCancel = &m_cancel;
    driver::SDocumentResult result;
    RunWhileWaiting([&result, &settings, strPath]
                    { result = driver::RenderDocumentFile(strPath, platform::DriveRoot(), settings); },
                    this, CDialogBuilder::Control<QPushButton>(*this, IDCANCEL),
                    [this] { m_cancel.Raise(); });
    SetSendButtonBusy(false);
    if (result.m_eResult == driver::EJobResult::Stopped)
        return false; // the user's own choice: nothing to tell
    if (result.m_eResult != driver::EJobResult::Done)
    {
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the file cannot be faxed: " + result.m_strReason,
                              platform::EMessageIcon::Warning);
        return false;
    }
    ShowPagesFor(m_comboRecipient->currentText().toStdString(), m_editFaxNumber->text().toStdString());
    return true;
}

void CSendDialog::ShowPagesFor(const std::string& strRecipient, const std::string& strFaxNumber)
{
    m_listPages->clear();
    m_bPreviewLoaded = false;
    m_preview->SetView(QImage());
    if (FillPageList() && !m_bInitCompleted)
    {
        SetUpPreview();
        m_bInitCompleted = true;
    }
    m_comboRecipient->setEditText(QString::fromStdString(strRecipient));
    m_editFaxNumber->setText(QString::fromStdString(strFaxNumber));
    m_strRecipient = strRecipient;
    m_strFaxNumber = strFaxNumber;
}

void CSendDialog::reject()
{
    if (m_bSending)
        m_cancel.Raise();
    else
        QDialog::reject();
}

void CSendDialog::SetSendButtonBusy(bool bBusy)
{
    m_bSending = bBusy;
    auto* pButton = CDialogBuilder::Control<QPushButton>(*this, IDOK);
    pButton->setEnabled(!bBusy);
    pButton->setText(bBusy ? TEXT_BUTTON_WAIT : TEXT_BUTTON_SEND);
    pButton->update();
}

void CSendDialog::ShowSendProgress(std::uint64_t nSent, std::uint64_t nTotal)
{
    if (!m_bSending || nTotal == 0)
        return;
    auto* pButton = CDialogBuilder::Control<QPushButton>(*this, IDOK);
    pButton->setText(QStringLiteral("%1 %2%").arg(TEXT_BUTTON_WAIT).arg(nSent * 100 / nTotal));
}

void CSendDialog::closeEvent(QCloseEvent* pEvent)
{
    // A send in progress finishes first: the dialog takes no input until it has.
    if (m_bSending)
        pEvent->ignore();
    else
        QDialog::closeEvent(pEvent);
}

// Online Query takes the number from its control and, when the number passes the
// checks, starts the coverage query on a worker thread.
void CSendDialog::OnOnlineQuery()
{
    m_strFaxNumber = m_editFaxNumber->text().toStdString();
    m_pQueryButton->OnOnlineQuery(m_strFaxNumber);
}

bool CSendDialog::SaveAddressBook(const std::string& strRecipient, const std::string& strFaxNumber)
{
    std::string strError;
    if (m_book.Save(strRecipient, strFaxNumber, strError))
        return true;
    platform::ShowMessage(PRODUCT_NAME, "Sorry, the address book could not be saved (" + strError + ")",
                          platform::EMessageIcon::Warning);
    return false;
}

void CSendDialog::OnConfig()
{
    CSettingsDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The password is kept under the server and login: when either changes, the old one goes.
    std::string strOldServer, strOldEmail, strOldName;
    (void)ReadSettings(strOldServer, strOldEmail, strOldName);
    const std::string strOldLogin = ReadProviderSettings().m_strLogin;
    m_strSmtpServer = dialog.m_strSmtpServer;
    m_strEmail = dialog.m_strEmail;
    m_strUserName = dialog.m_strUserName;
    m_provider = dialog.m_provider;
    std::string strMessage;
    if (!strOldLogin.empty() && (strOldServer != m_strSmtpServer || strOldLogin != m_provider.m_strLogin))
        (void)ForgetMailPassword(strOldServer, strOldLogin, strMessage);
    if (!dialog.m_strPassword.empty() && !m_provider.m_strLogin.empty() &&
        !StoreMailPassword(m_strSmtpServer, m_provider.m_strLogin, dialog.m_strPassword, strMessage))
        platform::ShowMessage(PRODUCT_NAME, strMessage, platform::EMessageIcon::Information);
    m_pQueryButton->m_options.m_strHost = m_provider.m_strQueryHost;
    std::string strError;
    // The file beside quill.cfg first: a quill.cfg without it would be read as settings made
    // before it existed, with no security.
    if (!WriteProviderSettings(m_provider, strError) ||
        !WriteSettings(m_strSmtpServer, m_strEmail, m_strUserName, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the settings could not be saved (" + strError + ")",
                              platform::EMessageIcon::Warning);
}

void CSendDialog::OnHelpButton()
{
    // The desktop's viewer opens the document; a failure to start it is not reported.
    const auto path = platform::InstalledFile(HELP_DOCUMENT_NAME);
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

void CSendDialog::OnAbout()
{
    CAboutDialog dialog(this);
    dialog.exec();
}

void CSendDialog::OnRecipientLeave()
{
    m_strRecipient = m_comboRecipient->currentText().toStdString();
}

void CSendDialog::OnFaxNumberLeave()
{
    m_strFaxNumber = m_editFaxNumber->text().toStdString();
}

void CSendDialog::OnRecipientSelect(int nIndex)
{
    // The list is sorted, so the entry is found by its name: the last of equal names wins.
    if (nIndex < 0 || m_bTypingEnds)
        return;
    const auto strNumber = m_book.NumberFor(m_comboRecipient->itemText(nIndex).toStdString());
    if (strNumber)
        m_editFaxNumber->setText(QString::fromStdString(*strNumber));
}

void CSendDialog::OnPreview()
{
    if (!m_raster.IsAllocated())
        return;
    // The list keeps the pages in order, so entry i is page i + 1; no entry, no page.
    m_nCurrentPage = m_listPages->currentRow() + 1;
    if (m_nCurrentPage < 1)
        return;
    // With a cover the list's first page is the cover, drawn here; the printed pages follow it.
    const auto cover = DrawsCover() ? CoverRequest() : std::nullopt;
    if (cover && m_nCurrentPage == 1)
    {
        std::vector<std::uint8_t> raster;
        std::string strError;
        if (!DrawCoverRequest(*cover, raster, strError))
        {
            platform::ShowMessage(PRODUCT_NAME, TEXT_NO_COVER + strError, platform::EMessageIcon::Warning);
            return;
        }
        m_raster.LoadBytes(raster.data(), raster.size());
        m_bPreviewLoaded = true;
        DrawPreview();
        return;
    }
    const int nFilePage = m_nCurrentPage - (DrawsCover() ? 1 : 0);
    const auto path = platform::DrivePath(platform::RasterFileName(nFilePage));
    if (!m_raster.LoadPage(path))
    {
        // After a send that did not go out the raster has become this fax's fax page.
        std::string strError;
        const auto faxPage =
            IsFaxPageOfWaitingJob(nFilePage)
                ? ReadFaxPageRaster(platform::DrivePath(platform::FaxPageFileName(nFilePage)), strError)
                : std::nullopt;
        if (!faxPage)
            return;
        m_raster.LoadBytes(faxPage->data(), faxPage->size());
    }
    m_bPreviewLoaded = true;
    DrawPreview();
}

void CSendDialog::DrawPreview()
{
    QImage view(VIEW_WIDTH, VIEW_HEIGHT, QImage::Format_Grayscale8);
    for (int y = 0; y < VIEW_HEIGHT; ++y)
    {
        std::uint8_t* pLine = view.scanLine(y);
        for (int x = 0; x < VIEW_WIDTH; ++x)
            pLine[x] = m_raster.ViewPixel(x, y, m_nHorzOffset, m_nVertOffset);
    }
    m_preview->SetView(std::move(view));
}

void CSendDialog::OnHScroll()
{
    m_nHorzOffset = m_sliderHorz->value();
    if (m_raster.IsAllocated() && m_bPreviewLoaded)
        DrawPreview();
}

void CSendDialog::OnVScroll()
{
    m_nVertOffset = m_sliderVert->value();
    if (m_raster.IsAllocated() && m_bPreviewLoaded)
        DrawPreview();
}

bool CSendDialog::ObtainPassword(SSendJob& job, EPasswordOrigin& eOrigin)
{
    auto strPassword = ObtainMailPassword(this, m_strSmtpServer, m_provider.m_strLogin, &eOrigin);
    if (!strPassword)
        return false;
    job.m_strPassword = std::move(*strPassword);
    return true;
}

bool CSendDialog::ReadSenderSettings()
{
    if (!ReadSettings(m_strSmtpServer, m_strEmail, m_strUserName))
    {
        platform::ShowMessage(PRODUCT_NAME, CONFIG_FIRST_TEXT, platform::EMessageIcon::Warning);
        return false;
    }
    // The address becomes the sender of the mail: anything but a plain address would
    // break the MAIL command or the From line.
    if (!IsPlainAddress(m_strEmail))
    {
        platform::ShowMessage(PRODUCT_NAME, EMAIL_NOT_PLAIN_TEXT, platform::EMessageIcon::Warning);
        return false;
    }
    return true;
}

void CSendDialog::SendToSeveral(const CGatewayTemplate& gateway)
{
    // Each entry is checked as the one recipient is; the boxes show the entry that fails.
    std::vector<SAddressEntry> aEntries = m_pRecipients->Entries();
    std::vector<SFaxRecipient> aRecipients;
    std::vector<SAddressEntry> aBook;
    for (std::size_t i = 0; i < aEntries.size(); ++i)
    {
        SFaxRecipient recipient{aEntries[i].m_strName, aEntries[i].m_strNumber, {}, {}};
        const ERecipientCheck eCheck = CheckRecipient(recipient.m_strName, recipient.m_strNumber, gateway);
        m_pRecipients->Choose(static_cast<int>(i));
        if (eCheck != ERecipientCheck::Ok)
        {
            platform::ShowMessage(PRODUCT_NAME,
                                  RecipientCheckText(eCheck, gateway, recipient.m_strNumber.size()),
                                  platform::EMessageIcon::Warning);
            return;
        }
        // Asked for each as for one recipient; the book's entry chosen replaces the one typed.
        const SAddressEntry checked{recipient.m_strName, recipient.m_strNumber};
        if (!ConfirmLikelyMisdial(this, m_book.Entries(), gateway, recipient.m_strName,
                                  recipient.m_strNumber))
            return;
        if (recipient.m_strName != checked.m_strName || recipient.m_strNumber != checked.m_strNumber)
        {
            m_comboRecipient->setEditText(QString::fromStdString(recipient.m_strName));
            m_editFaxNumber->setText(QString::fromStdString(recipient.m_strNumber));
            aEntries[i] = SAddressEntry{recipient.m_strName, recipient.m_strNumber};
        }
        recipient.m_strAddress = GatewayAddress(recipient.m_strName, recipient.m_strNumber, gateway);
        aBook.push_back(SAddressEntry{recipient.m_strName, recipient.m_strNumber});
        aRecipients.push_back(std::move(recipient));
    }
    if (!ReadSenderSettings())
        return;
    // Each recipient's cover names that recipient as typed.
    if (const auto cover = CoverRequest())
    {
        if (!CheckCover(*cover))
            return;
        for (std::size_t i = 0; i < aRecipients.size(); ++i)
        {
            aRecipients[i].m_cover = cover;
            aRecipients[i].m_cover->m_fields.m_strRecipient = aEntries[i].m_strName;
            aRecipients[i].m_cover->m_fields.m_strRecipientFax = aEntries[i].m_strNumber;
        }
    }
    SSendJob job;
    const bool bSignIn = m_provider.m_eSecurity != ESmtpSecurity::None && !m_provider.m_strLogin.empty();
    EPasswordOrigin ePasswordOrigin = EPasswordOrigin::AskedNotToKeep;
    if (bSignIn && !ObtainPassword(job, ePasswordOrigin))
        return;
    std::string strError;
    if (!m_book.Save(aBook, strError))
        platform::ShowMessage(PRODUCT_NAME, "Sorry, the address book could not be saved (" + strError + ")",
                              platform::EMessageIcon::Warning);

    const QPointer<QWidget> pFocus = focusWidget();
    SetSendButtonBusy(true);
    job.m_strSmtpServer = m_strSmtpServer;
    job.m_eSecurity = m_provider.m_eSecurity;
    job.m_strLogin = m_provider.m_strLogin;
    job.m_strFrom = m_strEmail;
    job.m_strSubject = std::string(SUBJECT_PREFIX) + PRODUCT_NAME;
    job.m_fnRunConverter = RunInstalledConverter;
    m_cancel.Clear();
    job.m_pCancel = &m_cancel;
    job.m_fnProgress = [this](std::uint64_t nSent, std::uint64_t nTotal)
    { QMetaObject::invokeMethod(this, [this, nSent, nTotal] { ShowSendProgress(nSent, nTotal); }); };
    SMultiSendResult result;
    RunWhileWaiting([&job, &aRecipients, &result] { result = RunMultiSendJob(job, aRecipients); }, this,
                    CDialogBuilder::Control<QPushButton>(*this, IDCANCEL), [this] { m_cancel.Raise(); });

    ESignInAnswer eAnswer = ESignInAnswer::None;
    for (const SRecipientOutcome& outcome : result.m_aOutcomes)
        if (outcome.m_bTried && outcome.m_result.m_bSignedIn)
            eAnswer = ESignInAnswer::Accepted;
        else if (outcome.m_bTried && outcome.m_result.m_bCredentialsRefused && eAnswer == ESignInAnswer::None)
            eAnswer = ESignInAnswer::Refused;
    if (bSignIn)
        SettleMailPassword(m_strSmtpServer, m_provider.m_strLogin, job.m_strPassword, ePasswordOrigin,
                           eAnswer);
    platform::WipeSecret(job.m_strPassword);
    std::vector<bool> abKeep(aRecipients.size(), true);
    for (std::size_t i = 0; i < result.m_aOutcomes.size(); ++i)
    {
        const SRecipientOutcome& outcome = result.m_aOutcomes[i];
        if (outcome.m_result.m_eOutcome != ESendOutcome::Sent)
            continue;
        abKeep[i] = false;
        if (!KeepSentFax(outcome.m_recipient.m_strName, outcome.m_recipient.m_strNumber,
                         outcome.m_recipient.m_strAddress, outcome.m_result, m_provider.m_sentLimits,
                         strError))
            m_strRecordError = strError;
    }
    if (result.m_common && PagesAreGone(*result.m_common))
    {
        m_listPages->clear();
        m_bPreviewLoaded = false;
        m_preview->SetView(QImage());
    }
    else if (!result.AllSent())
    {
        m_bCoverInPages = WaitingFaxHasCover();
        ShowCoverInPages();
    }
    // Those not reached stay in the list for a send again.
    m_pRecipients->Keep(abKeep);
    const std::string strText = MultiSendText(result);
    const bool bNoPages = result.m_common && result.m_common->m_eOutcome == ESendOutcome::NoPages;
    platform::ShowMessage(bNoPages ? CLinkOpener::ApplicationTitle() : std::string(PRODUCT_NAME), strText,
                          platform::EMessageIcon::Warning);
    if (!m_strRecordError.empty())
        platform::ShowMessage(PRODUCT_NAME,
                              "A fax was sent, but it could not be kept among the sent faxes: " +
                                  std::exchange(m_strRecordError, std::string()),
                              platform::EMessageIcon::Warning);
    SetSendButtonBusy(false);
    if (pFocus)
        pFocus->setFocus();
    if (result.AllSent())
        accept();
}
