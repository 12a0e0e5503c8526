// The serial-number prompt of the user interface.
//
// The worker asks for the serial number through ISerialNumberPrompt. The
// dialog is shown on the user-interface thread (windows live on one thread):
// the worker posts a registered thread message naming its request and waits
// for the answer without a time limit; the user-interface thread serves the
// request from whatever loop it runs (the main dialog's, a message box's,
// another dialog's) by running CSerialNumberDialog modally, without an owner,
// so the other windows stay usable meanwhile. A request made on the
// user-interface thread itself runs the dialog at once.
//
// Create the prompt on the user-interface thread; it installs itself with
// SetSerialNumberPrompt and registers its message with the toolkit's
// dispatch. Destroying it (after the workers are gone) uninstalls it and
// answers a request still waiting as cancelled.
#pragma once

#include "mainboard/SerialNumberPrompt.h"
#include "platform/Threads.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

class CSerialNumberPromptUi : public ISerialNumberPrompt {
 public:
  CSerialNumberPromptUi();
  ~CSerialNumberPromptUi() override;
  CSerialNumberPromptUi(const CSerialNumberPromptUi&) = delete;
  CSerialNumberPromptUi& operator=(const CSerialNumberPromptUi&) = delete;

  bool AskSerialNumber(int32_t initialValue, int32_t& value) override;

  // The registered message that carries a request to the user-interface
  // thread (wParam: the request's number).
  static uint32_t RequestMessage();

 private:
  struct Request {
    int32_t initialValue = 0;
    bool answered = false;
    bool confirmed = false;
    int32_t value = 0;
  };

  void Serve(uintptr_t requestId);
  static bool RunDialog(int32_t initialValue, int32_t& value);

  platform::ThreadId m_uiThread;
  int m_serviceToken = 0;
  std::mutex m_mutex;
  std::condition_variable m_answered;
  std::map<uintptr_t, Request> m_requests;
  uintptr_t m_nextRequest = 1;
  int m_waiting = 0;
  bool m_closing = false;
};
