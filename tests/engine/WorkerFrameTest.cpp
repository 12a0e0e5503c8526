// The worker frame: start protocol, status records, the one closing message,
// exceptions and aborts. The test thread plays the user-interface thread.
#include "engine/InstallerThread.h"
#include "platform/Clock.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

using platform::Message;

namespace {

// A worker that runs a procedure of the test instead of an installation.
struct ScriptedWorker : CInstallerThread {
  static inline std::function<int32_t(ScriptedWorker&)> procedure;
  static inline std::atomic<int> destroyed{0};
  ~ScriptedWorker() override { ++destroyed; }
  int32_t RunInstallation() override { return procedure(*this); }
};

struct Received {
  std::vector<std::string> lines;
  int closings = 0;
  uintptr_t abortFlag = 99;
  intptr_t result = 99;
  std::vector<Message> progress;
  std::vector<Message> shows;
};

struct WorkerFrameFixture : ::testing::Test {
  platform::CWnd progressBar;
  std::vector<Message> windowMessages;

  void SetUp() override {
    RegisterInstallerMessages();
    platform::SetAppThreadId(platform::CurrentThreadId());
    progressBar.Attach(platform::CreateWindowHandle([this](uint32_t m, uintptr_t w, intptr_t l) {
      windowMessages.push_back(Message{progressBar.GetSafeHwnd(), m, w, l});
      return 0;
    }));
    ScriptedWorker::destroyed = 0;
  }
  void TearDown() override { platform::DestroyWindowHandle(progressBar.Detach()); }

  // Runs the UI side until the closing message, then a little longer to see
  // that nothing follows it.
  Received RunUntilClosed(std::shared_ptr<ScriptedWorker>& worker) {
    Received r;
    Message m;
    while (r.closings == 0) {
      EXPECT_TRUE(platform::WaitMessage(20000)) << "the worker never closed";
      if (!platform::PeekMessage(m)) break;
      Take(m, r);
    }
    worker.reset();  // the UI forgets its worker when the closing message arrives
    while (platform::WaitMessage(200) && platform::PeekMessage(m)) Take(m, r);
    return r;
  }

  void Take(const Message& m, Received& r) {
    if (m.hwnd != 0) {
      platform::DispatchMessage(m);
    } else if (m.message == UM_UPDATE_DATA_MSG) {
      EXPECT_EQ(r.closings, 0) << "a status line after the closing message";
      auto* record = reinterpret_cast<B_STR*>(m.wParam);
      EXPECT_EQ(record->m_saveAndValidate, 0);
      r.lines.push_back(record->m_pText ? *record->m_pText : "<null>");
      delete record;
    } else if (m.message == UM_THREAD_CLOSING_MSG) {
      ++r.closings;
      r.abortFlag = m.wParam;
      r.result = m.lParam;
    } else if (m.message == UM_SHOW_WINDOW_MSG) {
      r.shows.push_back(m);
    }
  }
};

}  // namespace

TEST_F(WorkerFrameFixture, StatusLinesThenExactlyOneClosingMessage) {
  ScriptedWorker::procedure = [](ScriptedWorker& w) {
    for (int i = 0; i < 200; ++i) w.PostStatus("line " + std::to_string(i));
    return 1;
  };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  ASSERT_TRUE(worker);
  const Received r = RunUntilClosed(worker);
  ASSERT_EQ(r.lines.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(r.lines[i], "line " + std::to_string(i));
  EXPECT_EQ(r.closings, 1);
  EXPECT_EQ(r.abortFlag, 0u);
  EXPECT_EQ(r.result, 1);
}

TEST_F(WorkerFrameFixture, AStatusRecordKeepsTheTextAsPosted) {
  ScriptedWorker::procedure = [](ScriptedWorker& w) {
    w.m_statusText = "Verified OK.";
    w.PostStatus(w.m_statusText);
    w.m_statusText = "changed after the post";
    return 1;
  };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  const Received r = RunUntilClosed(worker);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], "Verified OK.");
}

TEST_F(WorkerFrameFixture, AnExceptionEndsWithResultZeroAfterTheLinesPosted) {
  ScriptedWorker::procedure = [](ScriptedWorker& w) -> int32_t {
    w.PostStatus("before");
    throw std::runtime_error("a step failed badly");
  };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  const Received r = RunUntilClosed(worker);
  EXPECT_EQ(r.lines, std::vector<std::string>{"before"});
  EXPECT_EQ(r.closings, 1);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.abortFlag, 0u);
}

TEST_F(WorkerFrameFixture, AbortDuringAStepIsSeenAfterIt) {
  std::mutex mutex;
  std::condition_variable cv;
  bool stepRunning = false;
  bool aborted = false;
  ScriptedWorker::procedure = [&](ScriptedWorker& w) -> int32_t {
    {
      std::unique_lock<std::mutex> lock(mutex);
      stepRunning = true;
      cv.notify_all();
      cv.wait(lock, [&] { return aborted; });  // the long step
    }
    if (w.IsAbortRequested()) return 0;  // the check between steps
    w.PostStatus("not reached");
    return 1;
  };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return stepRunning; });
    worker->RequestAbort();
    aborted = true;
    cv.notify_all();
  }
  const Received r = RunUntilClosed(worker);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.abortFlag, 1u);
  EXPECT_EQ(r.result, 0);
}

TEST_F(WorkerFrameFixture, ProgressGoesToTheBarAndShowThroughTheUiThread) {
  ScriptedWorker::procedure = [](ScriptedWorker& w) {
    CThreadedProgressCtrl progress(w.m_pProgressWnd);
    progress.SetRange(0, 41);
    progress.SetPos(1);
    progress.Show(1);
    progress.Show(0);
    return 1;
  };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  const Received r = RunUntilClosed(worker);
  ASSERT_EQ(windowMessages.size(), 2u);
  EXPECT_EQ(windowMessages[0].message, platform::PBM_SETRANGE32);
  EXPECT_EQ(windowMessages[0].wParam, 0u);
  EXPECT_EQ(windowMessages[0].lParam, 41);
  EXPECT_EQ(windowMessages[1].message, platform::PBM_SETPOS);
  EXPECT_EQ(windowMessages[1].wParam, 1u);
  ASSERT_EQ(r.shows.size(), 2u);
  EXPECT_EQ(r.shows[0].wParam, progressBar.GetSafeHwnd());
  EXPECT_EQ(r.shows[0].lParam, 1);
  EXPECT_EQ(r.shows[1].lParam, 0);
}

TEST_F(WorkerFrameFixture, TheWorkerOutlivesALateAbortAndThenGoesAway) {
  ScriptedWorker::procedure = [](ScriptedWorker&) { return 1; };
  auto worker = StartInstallerThread<ScriptedWorker>(&progressBar, 0);
  std::weak_ptr<ScriptedWorker> weak = worker;
  Message m;
  do {
    ASSERT_TRUE(platform::WaitMessage(20000));
    ASSERT_TRUE(platform::PeekMessage(m));
  } while (m.message != UM_THREAD_CLOSING_MSG);
  // Until the UI lets go, an abort request still reaches a live object.
  platform::WaitMs(100);
  worker->RequestAbort();
  EXPECT_EQ(ScriptedWorker::destroyed.load(), 0);
  worker.reset();
  for (int i = 0; i < 200 && ScriptedWorker::destroyed.load() == 0; ++i) platform::WaitMs(10);
  EXPECT_EQ(ScriptedWorker::destroyed.load(), 1);
  EXPECT_TRUE(weak.expired());
}

TEST_F(WorkerFrameFixture, TheProductSequenceDoesNotPretendToInstall) {
  auto worker = StartInstallerThread<CInstallerThread>(&progressBar, 0);
  ASSERT_TRUE(worker);
  Message m;
  std::vector<std::string> lines;
  intptr_t result = 99;
  for (;;) {
    ASSERT_TRUE(platform::WaitMessage(20000));
    ASSERT_TRUE(platform::PeekMessage(m));
    if (m.message == UM_UPDATE_DATA_MSG) {
      auto* record = reinterpret_cast<B_STR*>(m.wParam);
      lines.push_back(*record->m_pText);
      delete record;
    }
    if (m.message == UM_THREAD_CLOSING_MSG) {
      result = m.lParam;
      break;
    }
  }
  EXPECT_EQ(result, 0);
  ASSERT_EQ(lines.size(), 1u);
}
