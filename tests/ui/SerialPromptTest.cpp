// The serial-number prompt: a worker asks, the user-interface thread shows
// the dialog from whatever loop it runs, and the worker gets the answer.
#include "tests/ui/HeadlessFixture.h"
#include "ui/Resource.h"
#include "ui/SerialNumberPromptUi.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace toolkit;
using HA = HeadlessAction;

namespace {

struct Answer {
  std::atomic<bool> done{false};
  bool confirmed = false;
  int32_t value = -1;
};

// Asks from a thread of its own, as the worker does, and tells the
// user-interface thread when it has its answer.
std::thread AskFromWorker(Answer& answer) {
  const platform::ThreadId ui = platform::CurrentThreadId();
  return std::thread([&answer, ui] {
    int32_t value = -1;
    answer.confirmed = GetSerialNumberPrompt()->AskSerialNumber(0, value);
    answer.value = value;
    answer.done = true;
    platform::PostThreadMessage(ui, platform::RegisterMessage("TEST_PROMPT_ANSWERED"), 0, 0);
  });
}

}  // namespace

using SerialNumberPrompt = HeadlessTest;

TEST_F(SerialNumberPrompt, IsServedFromAMessageBoxWhileStatusMessagesKeepArriving) {
  CSerialNumberPromptUi prompt;
  ASSERT_EQ(GetSerialNumberPrompt(), &prompt);
  const uint32_t STATUS = platform::RegisterMessage("TEST_PROMPT_STATUS");
  const uint32_t FINISHED = platform::RegisterMessage("TEST_PROMPT_FINISHED");
  constexpr int BEFORE = 300, AFTER = 300;
  std::vector<intptr_t> statuses;
  int progressUpdates = 0;
  bool finished = false;
  SetThreadMessageHandler([&](const platform::Message& m) {
    if (m.message == STATUS) statuses.push_back(m.lParam);
    else if (m.message == FINISHED) finished = true;
    else return false;
    return true;
  });
  // A window of the user-interface thread that the worker posts to, like the
  // progress bar.
  const platform::WindowHandle bar = platform::CreateWindowHandle([&](uint32_t, uintptr_t, intptr_t) {
    ++progressUpdates;
    return intptr_t{0};
  });

  const platform::ThreadId ui = platform::CurrentThreadId();
  Answer answer;
  std::thread worker([&] {
    for (int i = 1; i <= BEFORE; ++i) {
      platform::PostThreadMessage(ui, STATUS, 0, i);
      platform::PostMessage(bar, platform::PBM_SETPOS, static_cast<uintptr_t>(i), 0);
    }
    int32_t value = -1;
    answer.confirmed = GetSerialNumberPrompt()->AskSerialNumber(0, value);
    answer.value = value;
    for (int i = BEFORE + 1; i <= BEFORE + AFTER; ++i) platform::PostThreadMessage(ui, STATUS, 0, i);
    platform::PostThreadMessage(ui, FINISHED, 0, 0);
  });

  Script(MESSAGE_BOX_TEMPLATE_ID, {HA::WaitUntil([&] { return finished; }), HA::Click(IDOK)});
  Script(IDD_SERIAL_NUMBER_DIALOG, {HA::Type(IDC_SERIAL_NUMBER, "12345678"), HA::Click(IDOK)});
  MessageBox(nullptr, "Programming still in progress, to exit press abort and wait for the current step to complete.",
             "Error");
  worker.join();
  platform::DestroyWindowHandle(bar);

  EXPECT_TRUE(answer.confirmed);
  EXPECT_EQ(answer.value, 12345678);
  ASSERT_EQ(statuses.size(), static_cast<size_t>(BEFORE + AFTER));
  for (int i = 0; i < BEFORE + AFTER; ++i) ASSERT_EQ(statuses[static_cast<size_t>(i)], i + 1);
  EXPECT_EQ(progressUpdates, BEFORE);
  // The message box, with the serial-number dialog above it, without an owner.
  ASSERT_EQ(m_backend->Shown().size(), 2u);
  EXPECT_TRUE(m_backend->Shown()[0].messageBox);
  EXPECT_EQ(m_backend->Shown()[1].templateId, IDD_SERIAL_NUMBER_DIALOG);
  EXPECT_FALSE(m_backend->Shown()[1].hasOwner);
}

TEST_F(SerialNumberPrompt, LeavesTheOtherWindowsUsableWhileItIsOpen) {
  CSerialNumberPromptUi prompt;
  DialogTemplate t = ModalDialogTemplate(800, "Main", 100, 50);
  t.controls = {PushButton(1015, "Abort", 10, 10, 50, 14)};
  bool abortPressed = false;
  struct CMain : CDialog {
    using CDialog::CDialog;
    bool* pressed = nullptr;
    bool OnCommand(int id) override {
      if (id != 1015) return false;
      *pressed = true;
      return true;
    }
  } main(t);
  main.pressed = &abortPressed;

  Answer answer;
  std::thread worker;
  auto serialOpen = [] {
    for (CDialog* d : OpenDialogs())
      if (d->TemplateId() == IDD_SERIAL_NUMBER_DIALOG) return true;
    return false;
  };
  Script(800, {HA::Inspect([&](CDialog&) { worker = AskFromWorker(answer); }),
               HA::WaitUntil(serialOpen),
               HA::Inspect([&](CDialog& self) { EXPECT_TRUE(self.IsWindowEnabled()); }),
               HA::Click(1015),
               HA::WaitUntil([&] { return answer.done.load(); }),
               HA::Escape()});
  Script(IDD_SERIAL_NUMBER_DIALOG, {HA::WaitUntil([&] { return abortPressed; }), HA::Click(IDCANCEL)});
  main.DoModal();
  worker.join();
  EXPECT_TRUE(abortPressed);
  EXPECT_FALSE(answer.confirmed);
  EXPECT_EQ(m_backend->Log()[0], "800 click 1015");
}

TEST_F(SerialNumberPrompt, OnTheUserInterfaceThreadItShowsTheDialogAtOnce) {
  CSerialNumberPromptUi prompt;
  Script(IDD_SERIAL_NUMBER_DIALOG, {HA::Type(IDC_SERIAL_NUMBER, "7"), HA::Enter()});
  int32_t value = 0;
  EXPECT_TRUE(prompt.AskSerialNumber(0, value));
  EXPECT_EQ(value, 7);
}

TEST_F(SerialNumberPrompt, AWaitingWorkerIsReleasedWhenThePromptGoes) {
  Answer answer;
  std::thread worker;
  {
    CSerialNumberPromptUi prompt;
    worker = AskFromWorker(answer);
    // The request has arrived; the prompt goes before anything serves it.
    ASSERT_TRUE(platform::WaitMessage(30000));
  }
  worker.join();
  EXPECT_TRUE(answer.done);
  EXPECT_FALSE(answer.confirmed);
  EXPECT_EQ(GetSerialNumberPrompt(), nullptr);
  // The request left in the queue is dropped harmlessly.
  PumpWaitingMessages();
}
