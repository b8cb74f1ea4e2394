#include "sender/app/SendRunner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <thread>
#include <vector>

namespace
{

bool IsUserInput(QEvent::Type eType)
{
    switch (eType)
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

// Turns away the user's input to one window, but for its cancel button and Escape.
class CInputGate : public QObject
{
public:
    CInputGate(QWidget* pWindow, QAbstractButton* pCancel, const std::function<void()>& fnCancel)
        : m_pWindow(pWindow), m_pCancel(pCancel), m_fnCancel(fnCancel)
    {
        qApp->installEventFilter(this);
    }
    ~CInputGate() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override
    {
        auto* pWidget = qobject_cast<QWidget*>(pWatched);
        if (pWidget == nullptr || m_pWindow == nullptr || pWidget->window() != m_pWindow ||
            !IsUserInput(pEvent->type()))
            return false;
        const bool bCancelKey =
            pEvent->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Escape;
        if (bCancelKey && m_fnCancel)
            m_fnCancel();
        const bool bMouse =
            pEvent->type() == QEvent::MouseButtonPress || pEvent->type() == QEvent::MouseButtonRelease;
        // The cancel button takes its own clicks, and reports them through its clicked signal.
        return !(bMouse && pWidget == m_pCancel && m_fnCancel);
    }

private:
    QWidget* m_pWindow;
    QAbstractButton* m_pCancel;
    const std::function<void()>& m_fnCancel;
};

// Shows the window's buttons disabled while the gate turns their input away, all but a cancel
// button that takes its clicks, and enables again those it disabled. Buttons of other windows
// owned by this one (the Online Query's answer box) go on taking input and stay as they are.
class CBusyButtons
{
public:
    CBusyButtons(QWidget* pWindow, QAbstractButton* pCancel)
    {
        if (pWindow == nullptr)
            return;
        for (QAbstractButton* pButton : pWindow->findChildren<QAbstractButton*>())
            if (pButton != pCancel && pButton->window() == pWindow && pButton->isEnabled())
            {
                pButton->setEnabled(false);
                m_aDisabled.emplace_back(pButton);
            }
    }
    ~CBusyButtons()
    {
        for (const QPointer<QAbstractButton>& pButton : m_aDisabled)
            if (pButton)
                pButton->setEnabled(true);
    }
    CBusyButtons(const CBusyButtons&) = delete;
    CBusyButtons& operator=(const CBusyButtons&) = delete;

private:
    std::vector<QPointer<QAbstractButton>> m_aDisabled;
};

} // namespace

void RunWhileWaiting(const std::function<void()>& fnWork, QWidget* pWindow, QAbstractButton* pCancel,
                     const std::function<void()>& fnCancel)
{
    QEventLoop loop;
    CInputGate gate(pWindow, pCancel, fnCancel);
    const CBusyButtons busy(pWindow, fnCancel ? pCancel : nullptr);
    QMetaObject::Connection cancelClicked;
    if (pCancel != nullptr && fnCancel)
        cancelClicked =
            QObject::connect(pCancel, &QAbstractButton::clicked, &loop, [&fnCancel] { fnCancel(); });
    // The worker only computes; the loop below is the one place that waits for it, and it
    // cannot return before the worker has posted its quit, so the join never blocks long.
    std::thread worker(
        [&fnWork, &loop]
        {
            fnWork();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    loop.exec();
    worker.join();
    QObject::disconnect(cancelClicked);
}

SSendResult RunSendJobWhileWaiting(const SSendJob& job, QWidget* pWindow, QAbstractButton* pCancel,
                                   const std::function<void()>& fnCancel)
{
    SSendResult result;
    RunWhileWaiting([&job, &result] { result = RunSendJob(job); }, pWindow, pCancel, fnCancel);
    return result;
}
