// Threads and thread messages of the platform layer.
//
// Modelled on the desktop platform's message queues: messages registered by
// name get a process-wide id; each thread has a queue; posting never blocks
// and never loses a message; window handles name objects owned by one thread,
// and a message posted to a window is queued on its owner thread and
// dispatched to it there. A thread object is created suspended, runs a message
// loop and lets go of itself when its thread ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

using ThreadId = uint32_t;      // 0 is never a valid thread id
using WindowHandle = uintptr_t; // 0 is never a valid window

inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_USER = 0x0400;
// Progress bar messages.
inline constexpr uint32_t PBM_SETPOS = WM_USER + 2;       // 0x0402
inline constexpr uint32_t PBM_SETRANGE32 = WM_USER + 6;   // 0x0406

struct Message {
  WindowHandle hwnd = 0;  // 0: a thread message
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// Registered messages: the same name always yields the same id (0xC000 and
// up), process-wide. Returns 0 for an empty name.
uint32_t RegisterMessage(const std::string& name);

// The calling thread's id; its message queue exists from the first call.
ThreadId CurrentThreadId();

// Queues a thread message. Never blocks. False when no such thread queue
// exists (the thread has ended or never was).
bool PostThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Queues a message for a window on its owner thread. False when the window
// does not exist.
bool PostMessage(WindowHandle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Takes the next message of the calling thread's queue, blocking until one
// arrives. Returns false for WM_QUIT (the message is still stored in out).
bool GetMessage(Message& out);
// Takes the next message if there is one; never blocks.
bool PeekMessage(Message& out);
// Blocks until the calling thread's queue is not empty or ms have passed
// (ms < 0: no limit). True when a message is waiting.
bool WaitMessage(int ms);
// A descriptor that is readable while the calling thread's queue holds a
// message (POSIX), so that a loop can wait on the queue and on other devices
// with one poll. Valid as long as the thread lives.
int MessageQueueWakeFd();

// Windows: a handle for an object that receives window messages on the thread
// that created it. DispatchMessage calls the procedure when the window still
// exists; a message for a destroyed window is dropped.
using WindowProc = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
WindowHandle CreateWindowHandle(WindowProc proc);
void DestroyWindowHandle(WindowHandle hwnd);
bool IsWindow(WindowHandle hwnd);
// Delivers a window message to its window (hwnd != 0). Returns false for
// thread messages and for windows that no longer exist.
bool DispatchMessage(const Message& msg);

// The application's user-interface thread: the thread to which workers post.
void SetAppThreadId(ThreadId id);
ThreadId AppThreadId();

// A thread with a message loop.
//
// Create it through std::make_shared, then CreateThread(suspended = true),
// store what it needs, ResumeThread(). CreateThread returns only after the new
// thread's queue exists, so messages can be posted to it at once. While the
// thread runs it holds a reference to its own object; with m_autoDelete set
// (the default) it drops that reference when its thread ends, so the object
// lives exactly as long as its thread and whoever else still holds it.
class CWinThread : public std::enable_shared_from_this<CWinThread> {
 public:
  CWinThread();
  virtual ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  bool CreateThread(bool suspended);
  void ResumeThread();

  ThreadId ThreadIdentifier() const { return m_threadId; }

  bool m_autoDelete = true;

 protected:
  // Runs on the new thread before the loop; false ends the thread at once.
  virtual bool InitInstance() { return true; }
  // Runs after the loop; its result is the thread's exit code.
  virtual int ExitInstance() { return m_exitCode; }
  // The message map: return true when the message was handled.
  virtual bool OnThreadMessage(const Message& msg) { (void)msg; return false; }

 private:
  void ThreadMain(std::shared_ptr<CWinThread> self);

  ThreadId m_threadId = 0;
  int m_exitCode = 0;
  struct StartGate;
  std::shared_ptr<StartGate> m_gate;
};

}  // namespace platform
