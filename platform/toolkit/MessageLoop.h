// Message dispatch of the user-interface thread.
//
// Every loop that the user-interface thread runs (the application's own loop
// and every modal loop: dialogs, message boxes, the range-check message)
// dispatches the thread's messages through here, so that none is lost or
// delayed while a dialog is open:
// - window messages (hwnd != 0) go to their window through
//   platform::DispatchMessage (the progress bar's PBM_* posted by the worker);
// - thread messages go first to the service registered for their id (the
//   serial-number prompt registers one), then to the thread-message handler
//   that the application object installs (tests install their own).
// A thread message that nobody takes is dropped.
#pragma once

#include "platform/Threads.h"

#include <cstdint>
#include <functional>

namespace toolkit {

// The application's handler; it returns true when it handled the message.
using ThreadMessageHandler = std::function<bool(const platform::Message&)>;
void SetThreadMessageHandler(ThreadMessageHandler handler);

// A service for one registered thread message. Returns a token for
// RemoveThreadMessageService; a later registration for the same id takes
// precedence until it is removed.
using ThreadMessageService = std::function<void(const platform::Message&)>;
int AddThreadMessageService(uint32_t message, ThreadMessageService service);
void RemoveThreadMessageService(int token);

// Dispatches one message taken from the thread's queue.
void DispatchUiMessage(const platform::Message& msg);

// Dispatches the messages waiting in the calling thread's queue (at most
// `limit`, so that a flood of messages cannot keep a loop from the user's
// input). Returns false when it took WM_QUIT; the WM_QUIT is posted again so
// that every enclosing loop ends too.
bool PumpWaitingMessages(int limit = 256);

}  // namespace toolkit
