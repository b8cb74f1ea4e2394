#pragma once

#include "sender/send/SendOperation.h"

#include <functional>

class QAbstractButton;
class QWidget;

// Runs work on a worker thread while this thread keeps the windows painted: events go on
// being processed until the worker has finished. The user's input to pWindow is turned away
// meanwhile, except a click on pCancel and the Escape key, which call fnCancel (on this
// thread; the work should then end soon). Its buttons but pCancel look disabled meanwhile and
// are enabled again afterwards. Other windows take input as usual. Called on the GUI thread.
void RunWhileWaiting(const std::function<void()>& fnWork, QWidget* pWindow,
                     QAbstractButton* pCancel = nullptr, const std::function<void()>& fnCancel = {});

// The waiting part of a send (converter, message, SMTP dialogue) run as above.
SSendResult RunSendJobWhileWaiting(const SSendJob& job, QWidget* pWindow, QAbstractButton* pCancel = nullptr,
                                   const std::function<void()>& fnCancel = {});
