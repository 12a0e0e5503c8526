// CInstallerThread: the worker thread that runs exactly one installation.
//
// Start protocol (user-interface thread): create the worker suspended, store
// the progress bar window, resume it, post UM_START_PROCESSING. The worker
// runs the installation, posts its status lines, then exactly one
// UM_THREAD_CLOSING_MSG, and ends.
//
// Lifetime rule: the worker is always owned through std::shared_ptr. Its
// thread holds one reference while it runs and drops it when it ends ("the
// worker deletes itself"); the user-interface thread keeps its own reference
// from creation until it has handled UM_THREAD_CLOSING_MSG. So RequestAbort,
// which the UI may call until then, can never reach a destroyed worker.
#pragma once

#include "engine/StatusMessages.h"
#include "platform/Threads.h"
#include "serial/SerialPort.h"

#include <atomic>
#include <memory>
#include <string>

class CInstallerThread : public platform::CWinThread {
 public:
  CInstallerThread();
  ~CInstallerThread() override;

  // UI thread: ask the worker to stop at its next check between steps.
  void RequestAbort() { m_abortRequested.store(1); }
  // Worker: has an abort been requested?
  int32_t IsAbortRequested() const { return m_abortRequested.load(); }

  // Handler of UM_START_PROCESSING: runs the installation and reports.
  void OnStartProcessing(uintptr_t wParam, intptr_t lParam);

  // The installation; 1 when the unit was completely updated, 0 otherwise.
  virtual int32_t RunInstallation();

  // Posts a copy of the text as one status line to the UI thread.
  void PostStatus(const std::string& text);

  CSerialPort m_serialPort;
  std::atomic<int32_t> m_abortRequested{0};
  platform::CWnd* m_pProgressWnd = nullptr;
  std::string m_statusText;
  int32_t m_detectedDspKind = 4;

 protected:
  bool OnThreadMessage(const platform::Message& msg) override;
};

// Creates a worker of type T suspended, stores the progress window, resumes it
// and posts UM_START_PROCESSING; the start protocol in one call. Returns null
// when the thread cannot be created.
template <typename T = CInstallerThread>
std::shared_ptr<T> StartInstallerThread(platform::CWnd* progressWnd, platform::WindowHandle dialog) {
  auto worker = std::make_shared<T>();
  if (!worker->CreateThread(true)) return nullptr;
  worker->m_pProgressWnd = progressWnd;
  worker->ResumeThread();
  platform::PostThreadMessage(worker->ThreadIdentifier(), UM_START_PROCESSING, dialog, 0);
  return worker;
}
