// k4v-dialogs: try the installer's dialogs in a terminal.
//
//   k4v-dialogs [--lines] [DIALOG...]
//
// DIALOG is one of
//   eula     the licence agreement
//   pass     the results dialog, success form
//   fail     the results dialog, failure form
//   serial   the serial-number dialog
//   worker   a worker thread that reports status and progress and asks for
//            the serial number through the prompt while a window is open
// Without a DIALOG all of eula, pass, fail and serial run in turn. On a
// terminal the dialogs are drawn full screen; --lines (or input or output
// that is not a terminal) gives the line format described in README.md. After each
// dialog one line tells its result, for example "eula: 1".
#include "platform/Clock.h"
#include "platform/Threads.h"
#include "platform/toolkit/ConsoleBackend.h"
#include "platform/toolkit/Dialog.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/MessageLoop.h"
#include "ui/EulaDialog.h"
#include "ui/PassFailDialog.h"
#include "ui/SerialNumberDialog.h"
#include "ui/SerialNumberPromptUi.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace toolkit;

namespace {

void Say(const std::string& line) {
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
}

// --- the worker demonstration ------------------------------------------------------

constexpr int IDD_DEMO = 900;
constexpr int IDC_DEMO_STATUS = 1012;
constexpr int IDC_DEMO_PROGRESS = 1005;

uint32_t StatusMessage() {
  static const uint32_t id = platform::RegisterMessage("K4V_DIALOGS_DEMO_STATUS");
  return id;
}

class CWorkerDemoDialog : public CDialog {
 public:
  CWorkerDemoDialog() : CDialog(Template()) {}
  ~CWorkerDemoDialog() override {
    if (m_worker.joinable()) m_worker.join();
  }

  void OnStatus(const platform::Message& msg) {
    std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(msg.wParam));
    SetDlgItemText(IDC_DEMO_STATUS, *text);
    if (msg.lParam == 1) {
      m_finished = true;
      EnableItem(IDCANCEL, true);
    }
  }

  std::atomic<int32_t> m_serial{0};
  std::atomic<bool> m_confirmed{false};

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_DEMO_PROGRESS, m_progress); }

  bool OnInitDialog() override {
    CDialog::OnInitDialog();
    m_progress.SetRange32(0, 40);
    const platform::ThreadId ui = platform::CurrentThreadId();
    m_worker = std::thread([this, ui] { Work(ui); });
    return true;
  }

  // The close box while the worker runs: refused, as the installer's main
  // dialog refuses it during an installation.
  void OnClose() override {
    if (!m_finished) {
      MessageBox(this, "The worker is still running, please wait.", "Error");
      return;
    }
    CDialog::OnClose();
  }

 private:
  static DialogTemplate Template() {
    DialogTemplate t = ModalDialogTemplate(IDD_DEMO, "Worker demonstration", 240, 80);
    t.controls = {
        LText(IDC_DEMO_STATUS, "", 20, 10, 200, 8),
        ProgressBar(IDC_DEMO_PROGRESS, 20, 28, 200, 14, WS_BORDER),
        DefPushButton(IDCANCEL, "Close", 95, 56, 50, 14, WS_DISABLED),
    };
    return t;
  }

  // The worker: status lines and progress, the serial number half way.
  void Work(platform::ThreadId ui) {
    auto status = [ui](const std::string& text, intptr_t last) {
      auto* copy = new std::string(text);
      if (!platform::PostThreadMessage(ui, StatusMessage(), reinterpret_cast<uintptr_t>(copy), last)) delete copy;
    };
    const platform::WindowHandle bar = m_progress.GetSafeHwnd();
    for (int step = 1; step <= 40; ++step) {
      if (step % 10 == 1) status("Step " + std::to_string(step / 10 + 1) + " of 4...Please Wait", 0);
      platform::PostMessage(bar, platform::PBM_SETPOS, static_cast<uintptr_t>(step), 0);
      platform::SleepMs(50);
      if (step == 20) {
        int32_t value = 0;
        ISerialNumberPrompt* prompt = GetSerialNumberPrompt();
        const bool ok = prompt && prompt->AskSerialNumber(0, value);
        m_confirmed = ok;
        m_serial = value;
        status(ok ? "Serial number " + std::to_string(value) : "**Failed to set serial number", 0);
      }
    }
    status("Finished", 1);
  }

  CProgressCtrl m_progress;
  std::thread m_worker;
  bool m_finished = false;
};

intptr_t RunWorkerDemo() {
  CWorkerDemoDialog dlg;
  SetThreadMessageHandler([&dlg](const platform::Message& msg) {
    if (msg.message != StatusMessage()) return false;
    dlg.OnStatus(msg);
    return true;
  });
  const intptr_t result = dlg.DoModal();
  SetThreadMessageHandler(nullptr);
  Say("worker: " + std::string(dlg.m_confirmed ? "serial " + std::to_string(dlg.m_serial.load()) : "no serial"));
  return result;
}

int Usage() {
  std::fprintf(stderr, "usage: k4v-dialogs [--lines] [eula|pass|fail|serial|worker]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  bool lines = false;
  std::vector<std::string> dialogs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--lines")
      lines = true;
    else if (arg == "eula" || arg == "pass" || arg == "fail" || arg == "serial" || arg == "worker")
      dialogs.push_back(arg);
    else
      return Usage();
  }
  if (dialogs.empty()) dialogs = {"eula", "pass", "fail", "serial"};

  platform::SetAppThreadId(platform::CurrentThreadId());
  SetAppTitle("k4v-dialogs");
  SetBackend(std::make_shared<CConsoleBackend>(
      STDIN_FILENO, STDOUT_FILENO, lines ? CConsoleBackend::Mode::Lines : CConsoleBackend::Mode::Auto));
  CSerialNumberPromptUi prompt;

  for (const std::string& name : dialogs) {
    if (name == "eula") {
      CEulaDialog dlg;
      Say("eula: " + std::to_string(dlg.DoModal()));
    } else if (name == "pass" || name == "fail") {
      const bool success = name == "pass";
      CPassFailDialog dlg(success ? "Installation complete" : "**Failed to connect to the unit", success);
      Say("results: " + std::to_string(dlg.DoModal()));
    } else if (name == "serial") {
      CSerialNumberDialog dlg;
      const intptr_t result = dlg.DoModal();
      Say("serial: " + std::to_string(result) + (result == IDOK ? " " + std::to_string(dlg.m_serialNumber) : ""));
    } else {
      RunWorkerDemo();
    }
  }
  return 0;
}
