#pragma once

#include "sender/query/CoverageQuery.h"

#include <QObject>
#include <QPointer>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

class QPushButton;
class QWidget;

// The Online Query button of the main dialog and the query behind it. The start checks
// run on the GUI thread; the query runs on a worker thread of its own, one at a time,
// while the button is disabled and reads "Wait...". The worker's messages and its
// question for a password are shown by the GUI thread as non-modal windows owned by the
// button's window: the window manager keeps them above it, the dialog stays usable beside
// them, and the worker waits until the user has closed them. When the
// query ends, however it ends, the button is enabled again and reads "Online Query".
// Destroying this object stops a running query and waits for its worker (at most about
// a second); nothing is shown or touched after that.
class CQueryButton : public QObject
{
    Q_OBJECT

public:
    explicit CQueryButton(QPushButton* pButton, QObject* pParent = nullptr);
    ~CQueryButton() override;

    // Which server is asked and within which limits: the gateway unless a test points
    // it elsewhere. Read when a query starts.
    SCoverageQueryOptions m_options;

    // The Online Query handler, for the fax number as just read from its edit control.
    void OnOnlineQuery(const std::string& strFaxNumber);

    [[nodiscard]] bool IsQuerying() const { return m_bQuerying; }
    // The number of the running or last query.
    [[nodiscard]] const std::string& QueryNumber() const { return m_strQueryNumber; }
    [[nodiscard]] const SQueryResult& LastResult() const { return m_lastResult; }

signals:
    // On the GUI thread, after the button has come back.
    void QueryFinished();

private:
    void CoverageQueryProc(std::stop_token stopToken, const SCoverageQueryOptions& options,
                           const std::string& strNumber);
    void EndQuery(const SQueryResult& result);
    void ShowMessageAndWait(std::stop_token stopToken, const std::string& strCaption,
                            const std::string& strText, platform::EMessageIcon eIcon);
    std::optional<SCredentials> AskCredentialsAndWait(std::stop_token stopToken, const std::string& strServer,
                                                      const std::string& strRealm);
    // The window the worker's windows belong to: the button's, while it exists.
    QWidget* OwnerWindow() const;
    void KeepWindow(QWidget* pWindow);

    QPointer<QPushButton> m_pButton;
    bool m_bQuerying = false;
    std::string m_strQueryNumber;
    SQueryResult m_lastResult;
    // Message boxes and questions of the worker still open (GUI thread only).
    std::vector<QPointer<QWidget>> m_aOpenWindows;
    std::jthread m_worker;
};
