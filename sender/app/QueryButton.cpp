#include "sender/app/QueryButton.h"

#include "platform/qt/MessageIcon.h"
#include "sender/app/CredentialsDialog.h"
#include "sender/common/Branding.h"
#include "sender/query/QueryNumber.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace
{

constexpr const char* BUTTON_TEXT_IDLE = "Online Query";
constexpr const char* BUTTON_TEXT_BUSY = "Wait...";

// What the GUI thread hands back to the waiting worker once the user has closed a window.
struct SAnswer
{
    std::mutex m_mutex;
    std::condition_variable_any m_cvDone;
    bool m_bDone = false;
    std::optional<SCredentials> m_credentials;

    void Give(std::optional<SCredentials> credentials = std::nullopt)
    {
        {
            std::lock_guard lock(m_mutex);
            m_bDone = true;
            m_credentials = std::move(credentials);
        }
        m_cvDone.notify_all();
    }

    // Returns false when the query was stopped first.
    bool Wait(std::stop_token stopToken)
    {
        std::unique_lock lock(m_mutex);
        return m_cvDone.wait(lock, stopToken, [this] { return m_bDone; });
    }
};

// Shows a window of the worker with the keyboard, as any message box has it: Return or
// Escape closes an answer, and a question takes typing at once.
void ShowInFront(QWidget* pWindow)
{
    pWindow->show();
    pWindow->raise();
    pWindow->activateWindow();
}

} // namespace

CQueryButton::CQueryButton(QPushButton* pButton, QObject* pParent) : QObject(pParent), m_pButton(pButton)
{
    // Messages in the framework's style carry the application's title: the program's name.
    if (const QString strTitle = QCoreApplication::applicationName(); !strTitle.isEmpty())
        m_options.m_strAppTitle = strTitle.toStdString();
}

CQueryButton::~CQueryButton()
{
    m_worker.request_stop();
    for (const QPointer<QWidget>& pWindow : m_aOpenWindows)
        delete pWindow.data();
    if (m_worker.joinable())
        m_worker.join();
}

void CQueryButton::OnOnlineQuery(const std::string& strFaxNumber)
{
    // The disabled button lets no second query start; a direct call is turned away as well.
    if (m_bQuerying)
        return;
    if (const auto strRefusal = CheckQueryNumber(strFaxNumber, m_options.m_strHost))
    {
        platform::ShowMessage(PRODUCT_NAME, *strRefusal, platform::EMessageIcon::Warning);
        return;
    }
    m_bQuerying = true;
    if (m_pButton)
    {
        m_pButton->setEnabled(false);
        m_pButton->setText(QString::fromLatin1(BUTTON_TEXT_BUSY));
        m_pButton->update();
    }
    m_strQueryNumber = strFaxNumber;
    // The worker gets its own copies: nothing it reads changes under it.
    m_worker = std::jthread([this, options = m_options, strNumber = strFaxNumber](std::stop_token stopToken)
                            { CoverageQueryProc(stopToken, options, strNumber); });
}

void CQueryButton::CoverageQueryProc(std::stop_token stopToken, const SCoverageQueryOptions& options,
                                     const std::string& strNumber)
{
    CCoverageQuery query(
        options,
        [this, stopToken](const std::string& strServer, const std::string& strRealm)
        { return AskCredentialsAndWait(stopToken, strServer, strRealm); },
        [this, stopToken](const std::string& strCaption, const std::string& strText,
                          platform::EMessageIcon eIcon)
        { ShowMessageAndWait(stopToken, strCaption, strText, eIcon); });
    const SQueryResult result = query.Run(strNumber, stopToken);
    // A stopped query belongs to an object on its way out: nothing more is handed to it.
    if (stopToken.stop_requested())
        return;
    QMetaObject::invokeMethod(
        this, [this, result] { EndQuery(result); }, Qt::QueuedConnection);
}

void CQueryButton::EndQuery(const SQueryResult& result)
{
    // The worker has handed over its last word and is on its way out.
    if (m_worker.joinable())
        m_worker.join();
    m_lastResult = result;
    m_bQuerying = false;
    if (m_pButton)
    {
        m_pButton->setEnabled(true);
        m_pButton->setText(QString::fromLatin1(BUTTON_TEXT_IDLE));
        m_pButton->update();
    }
    emit QueryFinished();
}

QWidget* CQueryButton::OwnerWindow() const
{
    return m_pButton ? m_pButton->window() : nullptr;
}

void CQueryButton::KeepWindow(QWidget* pWindow)
{
    std::erase_if(m_aOpenWindows, [](const QPointer<QWidget>& p) { return p.isNull(); });
    m_aOpenWindows.emplace_back(pWindow);
}

void CQueryButton::ShowMessageAndWait(std::stop_token stopToken, const std::string& strCaption,
                                      const std::string& strText, platform::EMessageIcon eIcon)
{
    if (stopToken.stop_requested())
        return;
    // The message log answers at once, from any thread.
    if (platform::MessagesGoToLog())
    {
        platform::ShowMessage(strCaption, strText, eIcon);
        return;
    }
    auto answer = std::make_shared<SAnswer>();
    QMetaObject::invokeMethod(
        this,
        [this, answer, strCaption, strText, eIcon]
        {
            auto* pBox = new QMessageBox(platform::ToQtMessageIcon(eIcon), QString::fromStdString(strCaption),
                                         QString::fromStdString(strText), QMessageBox::Ok, OwnerWindow());
            pBox->setAttribute(Qt::WA_DeleteOnClose);
            // No modality: the main dialog stays usable while the box is open.
            pBox->setWindowModality(Qt::NonModal);
            connect(pBox, &QDialog::finished, pBox, [answer] { answer->Give(); });
            KeepWindow(pBox);
            ShowInFront(pBox);
        },
        Qt::QueuedConnection);
    (void)answer->Wait(stopToken);
}

std::optional<SCredentials> CQueryButton::AskCredentialsAndWait(std::stop_token stopToken,
                                                                const std::string& strServer,
                                                                const std::string& strRealm)
{
    if (stopToken.stop_requested())
        return std::nullopt;
    auto answer = std::make_shared<SAnswer>();
    QMetaObject::invokeMethod(
        this,
        [this, answer, strServer, strRealm]
        {
            auto* pDialog = new CCredentialsDialog(QString::fromStdString(strServer),
                                                   QString::fromStdString(strRealm), OwnerWindow());
            pDialog->setAttribute(Qt::WA_DeleteOnClose);
            pDialog->setWindowModality(Qt::NonModal);
            connect(pDialog, &QDialog::finished, pDialog,
                    [answer, pDialog](int nResult)
                    {
                        if (nResult == QDialog::Accepted)
                            answer->Give(SCredentials{pDialog->UserName(), pDialog->Password()});
                        else
                            answer->Give();
                    });
            KeepWindow(pDialog);
            ShowInFront(pDialog);
        },
        Qt::QueuedConnection);
    if (!answer->Wait(stopToken))
        return std::nullopt;
    std::lock_guard lock(answer->m_mutex);
    return answer->m_credentials;
}
