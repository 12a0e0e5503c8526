// The console backend in line mode, in process through pipes: what it prints
// while a dialog changes, how it reads choices, and the end of its input.
#include "platform/Threads.h"
#include "platform/toolkit/ConsoleBackend.h"
#include "platform/toolkit/Dialog.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace toolkit;

namespace {

constexpr int IDD_CONSOLE_TEST = 710;
constexpr int IDC_STATUS_LINE = 1012;
constexpr int IDC_BAR = 1005;
constexpr int IDC_MORE = 1016;

DialogTemplate ConsoleTemplate() {
  DialogTemplate t = ModalDialogTemplate(IDD_CONSOLE_TEST, "Console test", 200, 80);
  t.controls = {LText(IDC_STATUS_LINE, "", 10, 10, 180, 8), ProgressBar(IDC_BAR, 10, 25, 180, 14),
                DefPushButton(IDOK, "Go", 10, 50, 50, 14), PushButton(IDC_MORE, "More", 70, 50, 50, 14, WS_DISABLED),
                PushButton(IDCANCEL, "Cancel", 130, 50, 50, 14)};
  return t;
}

// The backend's input and output through pipes; the output is collected on a
// thread of its own so that the backend never blocks on a full pipe.
class ConsoleLines : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(m_in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(m_out, O_CLOEXEC), 0);
    m_reader = std::thread([this] {
      char buffer[4096];
      ssize_t n;
      while ((n = read(m_out[0], buffer, sizeof buffer)) > 0) m_output.append(buffer, static_cast<size_t>(n));
    });
    m_backend = std::make_shared<CConsoleBackend>(m_in[0], m_out[1], CConsoleBackend::Mode::Lines);
    SetBackend(m_backend);
    SetAppTitle("Installer");
    platform::SetAppThreadId(platform::CurrentThreadId());
  }
  void TearDown() override {
    SetBackend(nullptr);
    SetThreadMessageHandler(nullptr);
    m_backend.reset();
    CloseInput();
    close(m_in[0]);
  }
  // All output so far, once the writer has closed its end.
  const std::string& Output() {
    if (m_out[1] >= 0) {
      close(m_out[1]);
      m_out[1] = -1;
      m_reader.join();
      close(m_out[0]);
    }
    return m_output;
  }
  void Input(const std::string& text) { ASSERT_EQ(write(m_in[1], text.data(), text.size()), static_cast<ssize_t>(text.size())); }
  void CloseInput() {
    if (m_in[1] >= 0) close(m_in[1]);
    m_in[1] = -1;
  }

  int m_in[2] = {-1, -1};
  int m_out[2] = {-1, -1};
  std::thread m_reader;
  std::string m_output;
  std::shared_ptr<CConsoleBackend> m_backend;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// A dialog whose worker reports status lines and progress from the moment
// the dialog is up.
class CStatusDialog : public CDialog {
 public:
  CStatusDialog() : CDialog(ConsoleTemplate()) {}
  ~CStatusDialog() override {
    if (m_worker.joinable()) m_worker.join();
  }
  CProgressCtrl m_bar;
  std::thread m_worker;
  int m_refusedCloses = 0;
  bool m_mayClose = true;
  // The worker starts reporting only after the first refused close.
  bool m_startAfterRefusal = false;
  std::promise<void> m_refused;

  static uint32_t Status() { return platform::RegisterMessage("TEST_CONSOLE_STATUS"); }
  static uint32_t Done() { return platform::RegisterMessage("TEST_CONSOLE_DONE"); }

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_BAR, m_bar); }
  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    const platform::WindowHandle bar = m_bar.GetSafeHwnd();
    const platform::ThreadId ui = platform::CurrentThreadId();
    std::shared_future<void> go;
    if (m_startAfterRefusal) go = m_refused.get_future().share();
    m_worker = std::thread([=] {
      if (go.valid()) go.wait();
      platform::PostMessage(bar, platform::PBM_SETRANGE32, 0, 1000);
      for (int i = 1; i <= 1000; ++i) {
        platform::PostMessage(bar, platform::PBM_SETPOS, static_cast<uintptr_t>(i), 0);
        if (i % 250 == 0) platform::PostThreadMessage(ui, Status(), 0, i / 250);
      }
      platform::PostThreadMessage(ui, Done(), 0, 0);
    });
    return true;
  }
  void OnClose() override {
    if (!m_mayClose) {
      if (++m_refusedCloses == 1 && m_startAfterRefusal) m_refused.set_value();
      return;
    }
    CDialog::OnClose();
  }
};

TEST_F(ConsoleLines, PrintsStatusLinesAndProgressAsTheyChange) {
  CStatusDialog dlg;
  SetThreadMessageHandler([&](const platform::Message& m) {
    if (m.message == CStatusDialog::Status()) {
      dlg.SetDlgItemText(IDC_STATUS_LINE, "step " + std::to_string(m.lParam));
    } else if (m.message == CStatusDialog::Done()) {
      dlg.EnableItem(IDC_MORE, true);
      Input("More\n");  // answered once everything has arrived: "More" does nothing
      Input("Go\n");
    } else {
      return false;
    }
    return true;
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  const std::string& out = Output();

  EXPECT_EQ(out.find("== Console test (dialog 710) ==\n"), 0u) << out;
  EXPECT_NE(out.find("   [1] Go (default)\n   [2] More (disabled)\n   [3] Cancel\n"), std::string::npos) << out;
  size_t at = 0;
  for (int i = 1; i <= 4; ++i) {
    at = out.find("   status: step " + std::to_string(i) + "\n", at);
    ASSERT_NE(at, std::string::npos) << "step " << i << "\n" << out;
  }
  // Each percent once, in order, however many positions were posted.
  at = 0;
  for (int p = 1; p <= 100; ++p) {
    const std::string line = "   progress: " + std::to_string(p) + "%\n";
    EXPECT_EQ(Count(out, line), 1u) << line;
    at = out.find(line, at);
    ASSERT_NE(at, std::string::npos) << line;
  }
  EXPECT_NE(out.find("   button [2] More: enabled\n"), std::string::npos) << out;
  EXPECT_NE(out.find("-- dialog 710 closed: 1 (Go)\n"), std::string::npos) << out;
}

TEST_F(ConsoleLines, ReadsChoicesByNumberLabelAndKeyword) {
  struct Case {
    const char* input;
    intptr_t result;
  } cases[] = {{"1\n", IDOK},      {"go\n", IDOK},     {"\n", IDOK},        {"3\n", IDCANCEL},
               {"Cancel\n", IDCANCEL}, {"esc\n", IDCANCEL}, {"close\n", IDCANCEL},
               // Disabled, unknown, out of range or without a field: nothing happens.
               {"2\nMore\n7\nfoo\n=12\n1\n", IDOK}};
  for (const Case& c : cases) {
    Input(c.input);
    CDialog dlg(ConsoleTemplate());
    EXPECT_EQ(dlg.DoModal(), c.result) << c.input;
  }
  const std::string& out = Output();
  EXPECT_NE(out.find("   ? More is disabled\n"), std::string::npos) << out;
  EXPECT_NE(out.find("   ? unknown choice \"7\""), std::string::npos) << out;
  EXPECT_NE(out.find("   ? unknown choice \"foo\""), std::string::npos) << out;
  EXPECT_NE(out.find("   ? this dialog has no field to fill\n"), std::string::npos) << out;
}

TEST_F(ConsoleLines, AnOverlongLineIsCutAndTheNextOneStillCounts) {
  // More than a pipe holds: written while the dialog reads.
  std::thread writer([this] { Input(std::string(100000, 'x') + "\n3\n"); });
  CDialog dlg(ConsoleTemplate());
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  writer.join();
  const std::string& out = Output();
  EXPECT_NE(out.find("? unknown choice \"" + std::string(CConsoleBackend::MAX_LINE, 'x') + "\""), std::string::npos);
  EXPECT_EQ(out.find(std::string(CConsoleBackend::MAX_LINE + 1, 'x')), std::string::npos);
}

TEST_F(ConsoleLines, AtTheEndOfInputARefusingDialogIsClosedOnceItsStateChanges) {
  CloseInput();
  CStatusDialog dlg;
  dlg.m_mayClose = false;
  dlg.m_startAfterRefusal = true;
  SetThreadMessageHandler([&](const platform::Message& m) {
    if (m.message == CStatusDialog::Done()) {
      dlg.m_mayClose = true;
      dlg.EnableItem(IDC_MORE, true);
      return true;
    }
    return m.message == CStatusDialog::Status();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  // One refused try when the input ended, then none until the state changed:
  // no busy retrying while the worker ran.
  EXPECT_EQ(dlg.m_refusedCloses, 1);
  EXPECT_NE(Output().find("-- end of input: closing \"Console test\"\n"), std::string::npos);
}
