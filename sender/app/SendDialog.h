#pragma once

#include "platform/CancelSignal.h"
#include "resources/DialogTables.h"
#include "sender/app/MailPassword.h"
#include "sender/app/PageRaster.h"
#include "sender/controls/BalloonTip.h"
#include "sender/send/SendOperation.h"
#include "sender/store/AddressBook.h"
#include "sender/store/ProviderSettings.h"

#include <QDialog>
#include <QIcon>
#include <memory>
#include <optional>
#include <string>

class CHyperLink1;
class CQueryButton;
class CPreviewPane;
class CRecipientList;
class CTintedStatic;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

// The main dialog (dialog 102): recipient and fax number, the cover page choice, the page list
// and its preview, and the buttons that send, configure, query, help and show About.
class CSendDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CSendDialog(QWidget* pParent = nullptr);
    ~CSendDialog() override;

    // Settings as last read or configured.
    std::string m_strSmtpServer;
    std::string m_strEmail;
    std::string m_strUserName;
    // The settings beyond those three: security, login, gateway.
    SProviderSettings m_provider;
    // Recipient and fax number as last read from their controls.
    std::string m_strRecipient;
    std::string m_strFaxNumber;
    // What the cover page of this fax says beyond the recipient and the sender (the cover page
    // dialog's fields). They belong to this fax: they live as long as the dialog.
    std::string m_strCoverCompany;
    std::string m_strCoverSubject;
    std::string m_strCoverNote;

    // Runs the dialog until it closes, modal to no other window: the boxes and the password
    // window of the coverage query are non-modal, and they must take input beside it.
    int exec() override;

    const CAddressBook& AddressBook() const { return m_book; }
    CRecipientList& Recipients() { return *m_pRecipients; }
    // Rewrites the address book after a send to this recipient: the recipient first, then
    // the entries held since start-up. The user is told when the file cannot be written.
    // The entries held in memory and the recipient list stay as they are.
    bool SaveAddressBook(const std::string& strRecipient, const std::string& strFaxNumber);
    int CurrentPage() const { return m_nCurrentPage; }
    bool PreviewLoaded() const { return m_bPreviewLoaded; }
    int HorzOffset() const { return m_nHorzOffset; }
    int VertOffset() const { return m_nVertOffset; }
    bool HasRasterBuffer() const { return m_raster.IsAllocated(); }
    const CBalloonTip& Tip() const { return m_tip; }
    // The coverage query behind the Online Query button (tests point it at their own server).
    CQueryButton& QueryButton() { return *m_pQueryButton; }
    // What the initialisation returned: false when it ended early (no page-count file,
    // or one that says the printer left nothing behind).
    bool InitCompleted() const { return m_bInitCompleted; }
    // Lists the page files of the drive root anew (after Send again put a sent fax's pages
    // there) and fills in the recipient and number.
    void ShowPagesFor(const std::string& strRecipient, const std::string& strFaxNumber);
    // Whether the next send is to put a cover page in as page 1: the Cover page box. Send again
    // chooses as the fax went (a cover it was sent with was left out of its pages, to be drawn
    // anew); the choice kept for the next start stays the user's own.
    void ChooseCover(bool bCover);
    bool CoverChosen() const;
    // Makes a document file (PDF, PostScript, an image or plain text) the pages to send, as
    // printing it would, while the dialog waits with the Send button reading "Wait..."; a file
    // that cannot be rendered is reported, and one whose rendering the user stops with Cancel or
    // Escape is not: either way the pages stay as they were.
    bool TakeDocument(const std::string& strPath);
    // The cover page that Send asks for: nullopt when the Cover page box is not ticked.
    // The page count includes the cover; the date is left to the day of drawing.
    std::optional<SCoverRequest> CoverRequest() const;

public slots:
    // Send (the default button): the send operation.
    void OnSend();
    // Cancel and Escape close the dialog, or during a send end the send instead.
    void reject() override;
    void OnConfig();
    // Online Query: the coverage query of the typed fax number.
    void OnOnlineQuery();
    void OnHelpButton();
    void OnAbout();
    void OnRecipientLeave();
    void OnFaxNumberLeave();
    void OnRecipientSelect(int nIndex);
    void OnPreview();
    void OnHScroll();
    void OnVScroll();
    // Ctrl+H: the sent faxes window; its Send again brings a fax's pages and recipient here.
    void OnSentFaxes();
    // The Cover page box: a cover is checked by drawing it, and refused (the box cleared) with
    // the reason when its template cannot serve; the choice is kept for the next start.
    void OnCoverPageToggled(bool bChecked);
    // Cover page...: the cover page dialog; its OK asks for a cover.
    void OnCoverDetails();
    // Check: what would make a send of this fax fail, found without sending (SendCheckBox.h).
    void OnCheck();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    // A document file dropped on the dialog becomes its pages.
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    QWidget* CreateControl(const resources::SControlTemplate& control, QWidget* pParent);
    bool OnInitDialog();
    void ConnectHandlers();
    void LoadAddressBook();
    void AddRecipientName(const QString& strName);
    bool FillPageList();
    // The sliders and the raster buffer, once the page list has been filled.
    void SetUpPreview();
    // Records a send the server took; a record that cannot be kept is reported, nothing more.
    void KeepSentRecord(const SSendJob& job, const SSendResult& result);
    void DrawPreview();
    // Whether the cover of request can be drawn and the fax with it stays within the page
    // limit; otherwise the user is told why and false comes back.
    bool CheckCover(const SCoverRequest& request);
    // Lists the pages anew (after the cover choice changed), keeping the page shown.
    void RefillPageList();
    // The list's entries: the printed pages, and the cover before them when there is one.
    int ListedPages() const;
    void ListPages(int nRow);
    // Shows whether the waiting pages hold a cover already: the box ticked and fixed.
    void ShowCoverInPages();
    // Whether page 1 of the list is a cover the dialog draws, not one a send has put in already.
    bool DrawsCover() const;
    // The Send button's state while a send runs: disabled, reading "Wait...", and once the
    // mail goes out how much of it the server has acknowledged.
    void SetSendButtonBusy(bool bBusy);
    // Send with several entries in the recipient list: the same pages to each.
    // Reads the sender's settings into the members, saying what to correct when they are
    // missing or the e-mail address is not a plain one.
    bool ReadSenderSettings();
    // The mail password for a send that signs in, from the keyring or the user, into the job;
    // false when the user cancels the question.
    bool ObtainPassword(SSendJob& job, EPasswordOrigin& eOrigin);
    void SendToSeveral(const CGatewayTemplate& gateway);
    void ShowSendProgress(std::uint64_t nSent, std::uint64_t nTotal);

    CAddressBook m_book;
    CPageRaster m_raster;
    bool m_bInitCompleted = false;
    bool m_bSending = false;
    // Why the record of the last fax sent could not be kept; told after the outcome.
    std::string m_strRecordError;
    // Raised by Cancel during a send or a document's rendering, which then end at once.
    platform::CCancelSignal m_cancel;
    // Set while the recipient box finishes an edit, when its activation is no choice.
    bool m_bTypingEnds = false;

    // The preview's state: the page last asked for, whether any page has been read,
    // and the offsets, which are taken from the sliders only when a slider moves.
    int m_nCurrentPage = 0;
    bool m_bPreviewLoaded = false;
    // The pages of the printed document, without the cover.
    int m_nDocumentPages = 0;
    // A send that did not go out has put the cover in as page 1 of the waiting fax already: it
    // is among the page files, and goes with them whatever the box says.
    bool m_bCoverInPages = false;
    int m_nHorzOffset = 0;
    int m_nVertOffset = 0;

    CBalloonTip m_tip;
    CTintedStatic* m_boxMore = nullptr;
    CTintedStatic* m_textMore = nullptr;
    CHyperLink1* m_linkMore = nullptr;
    QSlider* m_sliderVert = nullptr;
    QSlider* m_sliderHorz = nullptr;
    QListWidget* m_listPages = nullptr;
    QLineEdit* m_editFaxNumber = nullptr;
    QComboBox* m_comboRecipient = nullptr;
    QCheckBox* m_buttonCoverPage = nullptr;
    QPushButton* m_buttonCoverDetails = nullptr;
    CPreviewPane* m_preview = nullptr;
    QIcon m_hIcon;
    // The recipients of this fax: the boxes show its current entry.
    std::unique_ptr<CRecipientList> m_pRecipients;
    // Last, so that a running query is stopped while the controls still exist.
    std::unique_ptr<CQueryButton> m_pQueryButton;
};
