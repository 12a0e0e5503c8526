// The smallest window object: a handle that the user-interface toolkit fills
// in when the window exists and clears when it is destroyed. Other threads
// read the handle (to post to the window), so it is atomic.
#pragma once

#include "platform/Threads.h"

#include <atomic>

namespace platform {

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  WindowHandle GetSafeHwnd() const { return m_hWnd.load(); }
  void Attach(WindowHandle h) { m_hWnd.store(h); }
  WindowHandle Detach() { return m_hWnd.exchange(0); }

 protected:
  std::atomic<WindowHandle> m_hWnd{0};
};

}  // namespace platform
