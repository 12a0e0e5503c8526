#include "platform/Threads.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

// One thread's message queue. The eventfd is readable exactly while the queue
// holds a message, so that a loop can poll it together with other devices.
struct Queue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Message> messages;
  int wakeFd = -1;

  Queue() : wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Queue() {
    if (wakeFd >= 0) close(wakeFd);
  }

  void Push(const Message& m) {
    std::lock_guard<std::mutex> lock(mutex);
    if (messages.empty() && wakeFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t r = write(wakeFd, &one, sizeof one);
    }
    messages.push_back(m);
    cv.notify_one();
  }

  // Caller holds the lock and the queue is not empty.
  Message PopLocked() {
    Message m = messages.front();
    messages.pop_front();
    if (messages.empty() && wakeFd >= 0) {
      uint64_t value = 0;
      [[maybe_unused]] ssize_t r = read(wakeFd, &value, sizeof value);
    }
    return m;
  }
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, uint32_t> messageIds;
  uint32_t nextMessageId = 0xC000;
  std::map<ThreadId, std::shared_ptr<Queue>> queues;
  ThreadId nextThreadId = 1;
  struct Window {
    ThreadId owner;
    std::shared_ptr<WindowProc> proc;
  };
  std::map<WindowHandle, Window> windows;
  WindowHandle nextWindow = 0x10;
};

Registry& registry() {
  static Registry* r = new Registry;  // lives until the process ends
  return *r;
}

std::atomic<ThreadId> g_appThreadId{0};

// The calling thread's queue, registered on first use and removed when the
// thread ends, so that posts to an ended thread fail instead of piling up.
struct ThreadQueueSlot {
  ThreadId id = 0;
  std::shared_ptr<Queue> queue;
  ~ThreadQueueSlot() {
    if (id == 0) return;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.queues.erase(id);
  }
};
thread_local ThreadQueueSlot t_slot;

Queue& OwnQueue() {
  if (!t_slot.queue) {
    auto q = std::make_shared<Queue>();
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    t_slot.id = r.nextThreadId++;
    t_slot.queue = q;
    r.queues[t_slot.id] = q;
  }
  return *t_slot.queue;
}

std::shared_ptr<Queue> FindQueue(ThreadId id) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.queues.find(id);
  return it == r.queues.end() ? nullptr : it->second;
}

}  // namespace

uint32_t RegisterMessage(const std::string& name) {
  if (name.empty()) return 0;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto [it, inserted] = r.messageIds.try_emplace(name, r.nextMessageId);
  if (inserted) ++r.nextMessageId;
  return it->second;
}

ThreadId CurrentThreadId() {
  OwnQueue();
  return t_slot.id;
}

bool PostThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto q = FindQueue(thread);
  if (!q) return false;
  q->Push(Message{0, message, wParam, lParam});
  return true;
}

bool PostMessage(WindowHandle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  ThreadId owner = 0;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(hwnd);
    if (it == r.windows.end()) return false;
    owner = it->second.owner;
  }
  auto q = FindQueue(owner);
  if (!q) return false;
  q->Push(Message{hwnd, message, wParam, lParam});
  return true;
}

bool GetMessage(Message& out) {
  Queue& q = OwnQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  q.cv.wait(lock, [&] { return !q.messages.empty(); });
  out = q.PopLocked();
  return out.message != WM_QUIT;
}

bool PeekMessage(Message& out) {
  Queue& q = OwnQueue();
  std::lock_guard<std::mutex> lock(q.mutex);
  if (q.messages.empty()) return false;
  out = q.PopLocked();
  return true;
}

bool WaitMessage(int ms) {
  Queue& q = OwnQueue();
  std::unique_lock<std::mutex> lock(q.mutex);
  const auto ready = [&] { return !q.messages.empty(); };
  if (ms < 0) {
    q.cv.wait(lock, ready);
    return true;
  }
  return q.cv.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

int MessageQueueWakeFd() { return OwnQueue().wakeFd; }

WindowHandle CreateWindowHandle(WindowProc proc) {
  const ThreadId owner = CurrentThreadId();
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const WindowHandle h = r.nextWindow++;
  r.windows[h] = Registry::Window{owner, std::make_shared<WindowProc>(std::move(proc))};
  return h;
}

void DestroyWindowHandle(WindowHandle hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.windows.erase(hwnd);
}

bool IsWindow(WindowHandle hwnd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.windows.count(hwnd) != 0;
}

bool DispatchMessage(const Message& msg) {
  if (msg.hwnd == 0) return false;
  std::shared_ptr<WindowProc> proc;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(msg.hwnd);
    if (it == r.windows.end()) return false;
    proc = it->second.proc;
  }
  (*proc)(msg.message, msg.wParam, msg.lParam);
  return true;
}

void SetAppThreadId(ThreadId id) { g_appThreadId.store(id); }
ThreadId AppThreadId() { return g_appThreadId.load(); }

// --- CWinThread -------------------------------------------------------------

struct CWinThread::StartGate {
  std::mutex mutex;
  std::condition_variable cv;
  bool queueReady = false;
  bool resumed = false;
};

CWinThread::CWinThread() : m_gate(std::make_shared<StartGate>()) {}
CWinThread::~CWinThread() = default;

bool CWinThread::CreateThread(bool suspended) {
  std::shared_ptr<CWinThread> self;
  try {
    self = shared_from_this();
  } catch (const std::bad_weak_ptr&) {
    return false;  // the object must be owned by a shared_ptr
  }
  auto gate = m_gate;
  {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (gate->queueReady) return false;  // already created
    gate->resumed = !suspended;
  }
  try {
    std::thread([this, self]() mutable { ThreadMain(std::move(self)); }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock<std::mutex> lock(gate->mutex);
  gate->cv.wait(lock, [&] { return gate->queueReady; });
  return true;
}

void CWinThread::ResumeThread() {
  std::lock_guard<std::mutex> lock(m_gate->mutex);
  m_gate->resumed = true;
  m_gate->cv.notify_all();
}

void CWinThread::ThreadMain(std::shared_ptr<CWinThread> self) {
  auto gate = m_gate;
  {
    std::unique_lock<std::mutex> lock(gate->mutex);
    m_threadId = CurrentThreadId();
    gate->queueReady = true;
    gate->cv.notify_all();
    gate->cv.wait(lock, [&] { return gate->resumed; });
  }
  if (!m_autoDelete) self.reset();  // the creator keeps the object alive
  if (InitInstance()) {
    Message msg;
    while (GetMessage(msg)) {
      if (msg.hwnd != 0)
        DispatchMessage(msg);
      else
        OnThreadMessage(msg);
    }
    m_exitCode = static_cast<int>(msg.wParam);
  }
  ExitInstance();
  // Letting go of the self reference deletes the object unless someone else
  // still holds it.
  self.reset();
}

}  // namespace platform
