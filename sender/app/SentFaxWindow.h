#pragma once

#include "platform/CancelSignal.h"
#include "sender/app/NoticeCheck.h"
#include "sender/app/PageRaster.h"
#include "sender/record/SentFaxStore.h"

#include <QDialog>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class CPreviewPane;
class CSentFaxModel;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTableView;

// The faxes sent, newest first: a search by name, number or Message-ID, the chosen fax's pages
// in a preview like the main dialog's, its details (Message-ID and the server's reply, which
// can be selected and copied), its transmission report (saved as a PDF, then printed if the
// user likes) and the fax as one PDF, Send again, Delete, and how many faxes and megabytes are
// kept (0: no limit; a limit that would delete faxes asks first). A damaged record can be put
// aside for a new one from here. Each fax's status says what the gateway's status notices told
// (Delivered, Failed, No word yet, Sent), with the notice in the details; Check now reads the
// mailbox at once, and a failure of the polls is shown here once.
class CSentFaxWindow : public QDialog
{
    Q_OBJECT

public:
    // fnPoll: the notice poll of Check now; empty: PollNotices.
    explicit CSentFaxWindow(QWidget* pParent = nullptr, std::filesystem::path folder = SentFaxFolder(),
                            NoticePollFunction fnPoll = {});
    ~CSentFaxWindow() override;

    // After Send again, when the window has closed with Accepted: the fax whose pages are now
    // the page files of the drive root.
    const std::optional<SSentFax>& SendAgainFax() const { return m_sendAgain; }
    CSentFaxModel* Model() const { return m_pModel; }
    const CPreviewPane* Preview() const { return m_preview; }

public slots:
    void OnSearch();
    void OnSelect();
    void OnPage();
    void OnReport();
    void OnSavePdf();
    void OnSendAgain();
    void OnDelete();
    void OnLimits();
    void OnStartNewRecord();
    // Check now: reads the mailbox for status notices on a worker thread; while it runs the
    // button (or Escape) stops it.
    void OnCheckNow();
    void OnHScroll();
    void OnVScroll();

private:
    const SSentFax* SelectedFax() const;
    void ShowDetails(const SSentFax* pFax);
    void DrawPreview();
    // The problem line, the new-record button and what may be used, after opening the store.
    void ShowStoreState(const std::string& strError);
    // The last failure of the notice polls, if the window has not shown it yet; then it has.
    void ShowPollFailureOnce();
    // A line about the notice polls in the problem line, unless the record has a problem.
    void ShowNoticeLine(const std::string& strText);
    // The kept page files of a fax, page 1 first (an empty path for a page that has none).
    std::vector<std::filesystem::path> PagePaths(const SSentFax& fax) const;
    // Asks where to save a PDF, proposing strName in the folder last used; nullopt when the
    // user cancels.
    std::optional<std::filesystem::path> AskSavePath(const QString& strTitle, const QString& strName);

    std::unique_ptr<CSentFaxStore> m_pStore;
    CSentFaxModel* m_pModel = nullptr;
    std::optional<SSentFax> m_sendAgain;
    CPageRaster m_raster;
    bool m_bPreviewLoaded = false;
    // The limits' question is open: the spin box that lost the keyboard to it asks nothing.
    bool m_bAskingLimits = false;
    NoticePollFunction m_fnPoll;
    bool m_bChecking = false;
    platform::CCancelSignal m_cancelCheck;

    QLabel* m_labelProblem = nullptr;
    QPushButton* m_buttonNewRecord = nullptr;
    QLineEdit* m_editSearch = nullptr;
    QTableView* m_tableFaxes = nullptr;
    QListWidget* m_listPages = nullptr;
    CPreviewPane* m_preview = nullptr;
    QSlider* m_sliderHorz = nullptr;
    QSlider* m_sliderVert = nullptr;
    QPlainTextEdit* m_textDetails = nullptr;
    QPushButton* m_buttonCheckNow = nullptr;
    QPushButton* m_buttonReport = nullptr;
    QPushButton* m_buttonSavePdf = nullptr;
    QPushButton* m_buttonSendAgain = nullptr;
    QPushButton* m_buttonDelete = nullptr;
    QSpinBox* m_spinFaxes = nullptr;
    QSpinBox* m_spinMegabytes = nullptr;
};
