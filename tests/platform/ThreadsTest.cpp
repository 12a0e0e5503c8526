// Thread messages, windows and the message-loop thread object.
#include "platform/Threads.h"

#include <atomic>
#include <gtest/gtest.h>
#include <poll.h>
#include <vector>

using namespace platform;

TEST(ThreadMessages, RegisteredNamesGetOneProcessWideId) {
  const uint32_t a = RegisterMessage("K4V_TEST_A_{0}");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterMessage("K4V_TEST_A_{0}"), a);
  EXPECT_NE(RegisterMessage("K4V_TEST_B_{0}"), a);
  EXPECT_EQ(RegisterMessage(""), 0u);
}

TEST(ThreadMessages, PostsArriveInOrderAndTheWakeDescriptorFollowsTheQueue) {
  const ThreadId me = CurrentThreadId();
  pollfd p{MessageQueueWakeFd(), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0) << "empty queue, nothing to read";
  for (uintptr_t i = 1; i <= 1000; ++i) ASSERT_TRUE(PostThreadMessage(me, WM_USER, i, -static_cast<intptr_t>(i)));
  EXPECT_EQ(poll(&p, 1, 0), 1);
  Message m;
  for (uintptr_t i = 1; i <= 1000; ++i) {
    ASSERT_TRUE(PeekMessage(m));
    EXPECT_EQ(m.wParam, i);
    EXPECT_EQ(m.lParam, -static_cast<intptr_t>(i));
  }
  EXPECT_FALSE(PeekMessage(m));
  EXPECT_EQ(poll(&p, 1, 0), 0);
}

TEST(ThreadMessages, ManyPostersLoseNothing) {
  const ThreadId me = CurrentThreadId();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([me, t] {
      for (int i = 0; i < 2500; ++i) PostThreadMessage(me, WM_USER + 1, static_cast<uintptr_t>(t), i);
    });
  std::vector<int> next(4, 0);
  Message m;
  for (int n = 0; n < 10000; ++n) {
    ASSERT_TRUE(GetMessage(m));
    ASSERT_EQ(m.lParam, next[m.wParam]) << "per-poster order kept";
    ++next[m.wParam];
  }
  for (auto& t : posters) t.join();
  EXPECT_FALSE(PeekMessage(m));
}

TEST(ThreadMessages, WindowMessagesReachTheirWindowUntilItIsDestroyed) {
  std::vector<uint32_t> seen;
  const WindowHandle w = CreateWindowHandle([&](uint32_t msg, uintptr_t, intptr_t) {
    seen.push_back(msg);
    return 0;
  });
  EXPECT_TRUE(IsWindow(w));
  std::thread([w] { EXPECT_TRUE(PostMessage(w, PBM_SETPOS, 3, 0)); }).join();
  Message m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.hwnd, w);
  EXPECT_TRUE(DispatchMessage(m));
  EXPECT_EQ(seen, std::vector<uint32_t>{PBM_SETPOS});

  PostMessage(w, PBM_SETRANGE32, 0, 5);
  DestroyWindowHandle(w);
  ASSERT_TRUE(GetMessage(m));
  EXPECT_FALSE(DispatchMessage(m)) << "a message for a destroyed window is dropped";
  EXPECT_FALSE(PostMessage(w, PBM_SETPOS, 1, 0));
  EXPECT_EQ(seen.size(), 1u);
}

namespace {
class EchoThread : public CWinThread {
 public:
  std::atomic<int>* destroyed;
  ThreadId reply = 0;
  explicit EchoThread(std::atomic<int>* d) : destroyed(d) {}
  ~EchoThread() override { ++*destroyed; }

 protected:
  bool OnThreadMessage(const Message& m) override {
    PostThreadMessage(reply, m.message, m.wParam, m.lParam);
    if (m.wParam == 99) PostThreadMessage(ThreadIdentifier(), WM_QUIT, 0, 0);
    return true;
  }
};
}  // namespace

TEST(WinThread, CreatedSuspendedRunsItsLoopAndLetsGoOfItself) {
  std::atomic<int> destroyed{0};
  auto t = std::make_shared<EchoThread>(&destroyed);
  t->reply = CurrentThreadId();
  ASSERT_TRUE(t->CreateThread(true));
  ASSERT_NE(t->ThreadIdentifier(), 0u);
  // The queue exists already: a message posted before the resume waits.
  ASSERT_TRUE(PostThreadMessage(t->ThreadIdentifier(), WM_USER, 1, 0));
  EXPECT_FALSE(WaitMessage(100)) << "a suspended thread handles nothing";
  t->ResumeThread();
  Message m;
  ASSERT_TRUE(GetMessage(m));
  EXPECT_EQ(m.wParam, 1u);

  std::weak_ptr<EchoThread> weak = t;
  t.reset();  // the thread still holds itself while it runs
  EXPECT_EQ(destroyed.load(), 0);
  auto alive = weak.lock();
  ASSERT_TRUE(alive);
  const ThreadId id = alive->ThreadIdentifier();
  alive.reset();
  ASSERT_TRUE(PostThreadMessage(id, WM_USER, 99, 0));
  ASSERT_TRUE(GetMessage(m));
  // After its loop ends the object goes away by itself, and so does its queue.
  for (int i = 0; i < 500 && (destroyed.load() == 0 || PostThreadMessage(id, WM_USER, 0, 0)); ++i)
    WaitMessage(10);
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_FALSE(PostThreadMessage(id, WM_USER, 0, 0));
}
