// The dialog toolkit on the headless backend: number parsing and range
// checks, the keys that end a dialog, message boxes, modality, and the modal
// loop's dispatch of thread and window messages.
#include "platform/toolkit/Dialog.h"
#include "platform/toolkit/Font.h"
#include "tests/ui/HeadlessFixture.h"

#include <atomic>
#include <thread>
#include <vector>

using namespace toolkit;
using HA = HeadlessAction;

namespace {

constexpr int IDD_TEST = 700;
constexpr int IDC_NUMBER = 10;
constexpr int IDC_OTHER = 11;
constexpr int IDC_PROGRESS = 12;
constexpr int IDC_STATUS = 13;

DialogTemplate TestTemplate(bool withCancel = true, bool cancelDisabled = false) {
  DialogTemplate t = ModalDialogTemplate(IDD_TEST, "Test", 200, 100);
  t.controls.push_back(DefPushButton(IDOK, "OK", 10, 80, 50, 14));
  if (withCancel) t.controls.push_back(PushButton(IDCANCEL, "Cancel", 70, 80, 50, 14, cancelDisabled ? WS_DISABLED : 0));
  t.controls.push_back(PushButton(IDC_OTHER, "Other", 130, 80, 50, 14));
  t.controls.push_back(EditText(IDC_NUMBER, 10, 10, 80, 14));
  t.controls.push_back(ProgressBar(IDC_PROGRESS, 10, 40, 180, 14));
  t.controls.push_back(LText(IDC_STATUS, "", 10, 60, 180, 8));
  return t;
}

// A dialog with a number field checked to 1..99; "Other" ends it with 7.
class CNumberDialog : public CDialog {
 public:
  explicit CNumberDialog(const DialogTemplate& t = TestTemplate(), CDialog* parent = nullptr) : CDialog(t, parent) {}
  int32_t m_number = 0;
  CProgressCtrl m_progress;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Text(pDX, IDC_NUMBER, m_number);
    DDV_MinMaxLong(pDX, m_number, 1, 99);
  }
  bool OnCommand(int id) override {
    if (id != IDC_OTHER) return false;
    EndDialog(7);
    return true;
  }
};

}  // namespace

TEST(ParseInt32, AcceptsDecimal32BitNumbersWithBlanksAround) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"0", true, 0},
      {"12345678", true, 12345678},
      {"  42\t", true, 42},
      {"+7", true, 7},
      {"-5", true, -5},
      {"007", true, 7},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},     // one past the 32-bit range, though a 64-bit long holds it
      {"-2147483649", false, 0},
      {"4294967297", false, 0},     // would wrap to 1 if cut to 32 bits
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"12ab", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"1.5", false, 0},
      {"--1", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = -999;
    EXPECT_EQ(ParseInt32(c.text, value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(Fonts, EnlargedBoldOrsTheWeightAndTruncatesTheScaledSize) {
  EXPECT_EQ(DialogLogFont("MS Sans Serif", 8).height, -11);
  struct Case {
    int32_t weight, height, width;
    int32_t weightOut, heightOut, widthOut;
  } cases[] = {
      {400, -11, 0, 956, -14, 0},  // the dialog font: 400 | 700 is 956, -14.3 truncates toward zero
      {700, 16, 7, 700, 20, 9},
      {0, -13, 5, 700, -16, 6},
      {100, 10, 10, 764, 13, 13},
  };
  for (const Case& c : cases) {
    LogFont in;
    in.weight = c.weight;
    in.height = c.height;
    in.width = c.width;
    in.faceName = "MS Sans Serif";
    const LogFont out = EnlargedBold(in);
    EXPECT_EQ(out.weight, c.weightOut);
    EXPECT_EQ(out.height, c.heightOut);
    EXPECT_EQ(out.width, c.widthOut);
    EXPECT_EQ(out.faceName, "MS Sans Serif");
  }
}

using DialogBase = HeadlessTest;

TEST_F(DialogBase, TheKeysEndTheDialogAsTheButtonsSay) {
  struct Case {
    const char* what;
    bool withCancel, cancelDisabled;
    std::vector<HA> actions;
    intptr_t result;
  } cases[] = {
      {"OK with a valid number", true, false, {HA::Type(IDC_NUMBER, "5"), HA::Click(IDOK)}, IDOK},
      {"Enter in the field presses the default button", true, false, {HA::Type(IDC_NUMBER, "5"), HA::Enter()}, IDOK},
      {"Enter on a focused button presses that one", true, false, {HA::Focus(IDC_OTHER), HA::Enter()}, 7},
      {"Escape is Cancel", true, false, {HA::Escape()}, IDCANCEL},
      {"the close box is Cancel", true, false, {HA::CloseBox()}, IDCANCEL},
      {"Escape without a Cancel button still cancels", false, false, {HA::Escape()}, IDCANCEL},
      {"a disabled Cancel button stops Escape and the close box", true, true,
       {HA::Escape(), HA::CloseBox(), HA::Click(IDCANCEL), HA::Click(IDC_OTHER)}, 7},
  };
  for (Case& c : cases) {
    Script(IDD_TEST, c.actions);
    CNumberDialog dlg(TestTemplate(c.withCancel, c.cancelDisabled));
    EXPECT_EQ(dlg.DoModal(), c.result) << c.what;
  }
}

TEST_F(DialogBase, ARefusedEntryKeepsTheDialogOpenWithTheFieldSelected) {
  struct Case {
    const char* entry;
    const char* message;
  } cases[] = {
      {"0", "Please enter an integer between 1 and 99."},
      {"100", "Please enter an integer between 1 and 99."},
      {"-1", "Please enter an integer between 1 and 99."},
      {"4294967297", "Please enter an integer."},
      {"seven", "Please enter an integer."},
      {"", "Please enter an integer."},
  };
  for (const Case& c : cases) {
    bool checked = false;
    Script(IDD_TEST, {HA::Focus(IDC_OTHER), HA::Type(IDC_NUMBER, c.entry), HA::Click(IDOK),
                      HA::Inspect([&](CDialog& dlg) {
                        checked = true;
                        EXPECT_FALSE(dlg.HasEnded());
                        EXPECT_EQ(dlg.GetFocusId(), IDC_NUMBER);
                        EXPECT_TRUE(dlg.Item(IDC_NUMBER)->selectAll);
                        EXPECT_EQ(dlg.GetDlgItemText(IDC_NUMBER), c.entry);
                      }),
                      HA::Type(IDC_NUMBER, " 42 "), HA::Click(IDOK)});
    Script(MESSAGE_BOX_TEMPLATE_ID, {HA::Click(IDOK)});
    const size_t before = m_backend->Shown().size();
    CNumberDialog dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK) << c.entry;
    EXPECT_EQ(dlg.m_number, 42);
    EXPECT_TRUE(checked);
    // The dialog, then exactly one message box with the framework's text,
    // the application's title and the warning icon.
    ASSERT_EQ(m_backend->Shown().size(), before + 2) << c.entry;
    const ShownDialog& box = m_backend->Shown()[before + 1];
    EXPECT_TRUE(box.messageBox);
    EXPECT_EQ(box.MessageText(), c.message);
    EXPECT_EQ(box.caption, "Installer");
    EXPECT_TRUE(box.hasOwner);
    ASSERT_NE(box.Control(IDC_MESSAGE_ICON), nullptr);
    EXPECT_EQ(box.Control(IDC_MESSAGE_ICON)->iconId, IDI_EXCLAMATION);
  }
}

TEST_F(DialogBase, MessageBoxesTakeTheirCaptionOrTheApplicationsTitle) {
  Script(MESSAGE_BOX_TEMPLATE_ID, {HA::Enter(), HA::Escape(), HA::CloseBox()});
  EXPECT_EQ(MessageBox(nullptr, "Programming still in progress.", "Error"), IDOK);
  EXPECT_EQ(AfxMessageBox("Previous operation still in progress, please wait"), IDOK);
  EXPECT_EQ(MessageBox(nullptr, "Plain"), IDOK);
  ASSERT_EQ(m_backend->Shown().size(), 3u);
  EXPECT_EQ(m_backend->Shown()[0].caption, "Error");
  EXPECT_EQ(m_backend->Shown()[0].MessageText(), "Programming still in progress.");
  EXPECT_EQ(m_backend->Shown()[0].Control(IDC_MESSAGE_ICON), nullptr);
  EXPECT_EQ(m_backend->Shown()[1].caption, "Installer");
  EXPECT_EQ(m_backend->Shown()[2].caption, "Installer");
  for (const ShownDialog& d : m_backend->Shown()) EXPECT_EQ(d.result, IDOK);
}

TEST_F(DialogBase, AnOwnedDialogDisablesItsOwnerAndAnUnownedOneDoesNot) {
  bool ownerEnabledUnderOwned = true, ownerEnabledUnderFree = false;
  CNumberDialog owner;
  Script(IDD_TEST, {HA::Inspect([&](CDialog& self) {
           // Nested dialogs: one owned by this one, one without an owner.
           DialogTemplate t = TestTemplate();
           t.id = 701;
           Script(701, {HA::Inspect([&](CDialog&) { ownerEnabledUnderOwned = self.IsWindowEnabled(); }),
                        HA::Escape(),
                        HA::Inspect([&](CDialog&) { ownerEnabledUnderFree = self.IsWindowEnabled(); }),
                        HA::Escape()});
           CDialog owned(t, &self);
           owned.DoModal();
           CDialog free(t, nullptr);
           free.DoModal();
         }),
         HA::Escape()});
  owner.DoModal();
  EXPECT_FALSE(ownerEnabledUnderOwned);
  EXPECT_TRUE(ownerEnabledUnderFree);
  EXPECT_TRUE(m_backend->ShownWithId(701)[0]->hasOwner);
  EXPECT_FALSE(m_backend->ShownWithId(701)[1]->hasOwner);
}

TEST_F(DialogBase, TheModalLoopDispatchesThreadAndWindowMessagesFromOtherThreads) {
  const uint32_t STATUS = platform::RegisterMessage("TEST_TOOLKIT_STATUS");
  const uint32_t SERVICE = platform::RegisterMessage("TEST_TOOLKIT_SERVICE");
  constexpr int COUNT = 500;
  std::vector<intptr_t> statuses;
  int serviced = 0;
  SetThreadMessageHandler([&](const platform::Message& m) {
    if (m.message != STATUS) return false;
    statuses.push_back(m.lParam);
    return true;
  });
  const int token = AddThreadMessageService(SERVICE, [&](const platform::Message&) { ++serviced; });

  CNumberDialog dlg;
  std::thread worker;
  const platform::ThreadId ui = platform::CurrentThreadId();
  Script(IDD_TEST,
         {HA::Inspect([&](CDialog&) {
            dlg.m_progress.SetRange32(0, COUNT);
            const platform::WindowHandle bar = dlg.m_progress.GetSafeHwnd();
            ASSERT_NE(bar, 0u);
            worker = std::thread([=] {
              for (int i = 1; i <= COUNT; ++i) {
                platform::PostThreadMessage(ui, STATUS, 0, i);
                platform::PostMessage(bar, platform::PBM_SETPOS, static_cast<uintptr_t>(i), 0);
              }
              platform::PostThreadMessage(ui, SERVICE, 0, 0);
            });
          }),
          HA::WaitUntil([&] { return serviced == 1; }),
          HA::Inspect([&](CDialog& d) {
            EXPECT_EQ(dlg.m_progress.GetPos(), COUNT);
            // The show command of the worker's progress reporter, by handle.
            EXPECT_TRUE(ShowWindow(dlg.m_progress.GetSafeHwnd(), SW_HIDE));
            EXPECT_FALSE(d.Item(IDC_PROGRESS)->visible);
          }),
          HA::Escape()});
  dlg.DoModal();
  worker.join();
  RemoveThreadMessageService(token);

  ASSERT_EQ(statuses.size(), static_cast<size_t>(COUNT));
  for (int i = 0; i < COUNT; ++i) ASSERT_EQ(statuses[static_cast<size_t>(i)], i + 1);
  // Once the dialog is gone its controls have no window: posts fail, nothing is delivered.
  EXPECT_EQ(dlg.m_progress.GetSafeHwnd(), 0u);
  EXPECT_FALSE(platform::PostMessage(dlg.m_progress.GetSafeHwnd(), platform::PBM_SETPOS, 1, 0));
}

TEST_F(DialogBase, QuitEndsEveryModalLoopAndStaysQueued) {
  Script(IDD_TEST, {HA::Inspect([](CDialog&) {
           platform::PostThreadMessage(platform::CurrentThreadId(), platform::WM_QUIT, 3, 0);
         })});
  CNumberDialog dlg;
  EXPECT_EQ(dlg.DoModal(), -1);
  platform::Message m;
  ASSERT_TRUE(platform::PeekMessage(m));
  EXPECT_EQ(m.message, platform::WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
}
