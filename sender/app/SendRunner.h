#pragma once

#include "sender/send/SendOperation.h"

// Runs the waiting part of a send (converter, message, SMTP dialogue) on a worker thread
// while this thread keeps its window painted: events go on being processed, except the
// user's input, until the worker has finished. Called on the GUI thread.
SSendResult RunSendJobWhileWaiting(const SSendJob& job);
