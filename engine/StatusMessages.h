// The worker's reports to the user-interface thread: the four registered
// thread messages, the status-line record B_STR and the progress reporter.
#pragma once

#include "platform/Threads.h"
#include "platform/Wnd.h"
#include "serial/ProgCtrl.h"

#include <cstdint>
#include <string>

// Registered message ids (0 until RegisterInstallerMessages has run).
extern uint32_t UM_UPDATE_DATA_MSG;     // worker -> UI: wParam B_STR*, lParam 0
extern uint32_t UM_THREAD_CLOSING_MSG;  // worker -> UI: wParam abort flag, lParam result
extern uint32_t UM_START_PROCESSING;    // UI -> worker: wParam dialog window, lParam 0
extern uint32_t UM_SHOW_WINDOW_MSG;     // progress reporter -> UI: wParam window, lParam 1 show / 0 hide

// Registers the four messages under their names; done once at program start,
// before any window exists. Calling it again yields the same ids.
void RegisterInstallerMessages();

// The build's target model name, "Solstrand K4v".
extern const std::string g_modelName;

// One status line in transit from the worker to the UI thread. The record
// owns a heap copy of the text, so later changes of the worker's status text
// do not alter a record in flight. A null text asks only for a refresh.
struct B_STR {
  B_STR() = default;
  B_STR(const std::string& text, int32_t saveAndValidate)
      : m_saveAndValidate(saveAndValidate), m_pText(new std::string(text)) {}
  virtual ~B_STR() { delete m_pText; }
  B_STR(const B_STR&) = delete;
  B_STR& operator=(const B_STR&) = delete;

  int32_t m_saveAndValidate = 0;
  std::string* m_pText = nullptr;
};

// Progress reporter of the worker: range and position are posted straight to
// the progress bar window; showing and hiding go through the UI thread, which
// owns the window. The window handle is taken anew at each call.
class CThreadedProgressCtrl : public CProgCtrl {
 public:
  explicit CThreadedProgressCtrl(platform::CWnd* progressWnd) : m_pProgressWnd(progressWnd) {}
  void SetRange(int32_t lower, int32_t upper) override;
  void SetPos(int32_t pos) override;
  void Show(int32_t cmd) override;

  platform::CWnd* m_pProgressWnd;

 private:
  platform::WindowHandle Handle() const { return m_pProgressWnd ? m_pProgressWnd->GetSafeHwnd() : 0; }
};
