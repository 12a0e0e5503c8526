// The agreement, results and serial-number dialogs on the headless backend:
// what each shows, their forms, the serial-number field and the results of
// their modal runs.
#include "tests/ui/HeadlessFixture.h"
#include "ui/EulaDialog.h"
#include "ui/EulaText.h"
#include "ui/PassFailDialog.h"
#include "ui/Resource.h"
#include "ui/SerialNumberDialog.h"

#include <regex>
#include <string>

using namespace toolkit;
using HA = HeadlessAction;

namespace {

std::string Label(const ShownDialog& d, int id) {
  const ShownControl* c = d.Control(id);
  return c ? c->text : "<missing>";
}

}  // namespace

using EulaDialog = HeadlessTest;

TEST_F(EulaDialog, ShowsTheAgreementAndReturnsTheButtonThatClosedIt) {
  struct Case {
    const char* what;
    HA action;
    intptr_t result;
  } cases[] = {
      {"I Accept", HA::Click(IDOK), IDOK},
      {"Cancel", HA::Click(IDCANCEL), IDCANCEL},
      {"Enter (Cancel is the default button)", HA::Enter(), IDCANCEL},
      {"Escape", HA::Escape(), IDCANCEL},
      {"close box", HA::CloseBox(), IDCANCEL},
  };
  for (const Case& c : cases) {
    Script(IDD_EULA_DIALOG, {c.action});
    CEulaDialog dlg;
    EXPECT_EQ(dlg.DoModal(), c.result) << c.what;
  }

  const ShownDialog& shown = m_backend->Shown().front();
  EXPECT_EQ(shown.caption, "End User License Agreement");
  EXPECT_FALSE(shown.hasOwner);
  EXPECT_EQ(Label(shown, IDOK), "I Accept");
  EXPECT_EQ(Label(shown, IDCANCEL), "Cancel");
  EXPECT_EQ(Label(shown, IDC_AGREEMENT), EULA_TEXT);
}

TEST(EulaText, IsAnAgreementOfNumberedClausesInCrLfLines) {
  const std::string text = EULA_TEXT;
  EXPECT_GT(text.size(), 2000u);
  EXPECT_LT(text.size(), 2500u);
  // Every line feed ends a CR LF pair, and no carriage return stands alone.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
    if (text[i] == '\r') {
      ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
    }
  }
  for (int clause = 1; clause <= 5; ++clause)
    EXPECT_NE(text.find("\r\n" + std::to_string(clause) + ". "), std::string::npos) << "clause " << clause;
}

using PassFailDialog = HeadlessTest;

TEST_F(PassFailDialog, EachFormShowsOnlyItsIconAndMessage) {
  struct Case {
    int32_t success;
    int shownIcon, hiddenIcon;
    const char* message;
    bool retryEnabled;
  } cases[] = {
      {1, IDC_SUCCESS_ICON, IDC_FAILURE_ICON, "Firmware install completed successfully!", false},
      {0, IDC_FAILURE_ICON, IDC_SUCCESS_ICON, "Firmware install failed! Please try again.", true},
  };
  for (const Case& c : cases) {
    Script(IDD_PASS_FAIL_DIALOG, {HA::Click(IDOK)});
    CPassFailDialog dlg("Installation aborted by user", c.success);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    const ShownDialog& shown = m_backend->Shown().back();
    EXPECT_EQ(shown.caption, "Firmware Install Results");
    EXPECT_TRUE(shown.Control(c.shownIcon)->visible);
    EXPECT_FALSE(shown.Control(c.hiddenIcon)->visible);
    EXPECT_FALSE(shown.Control(c.hiddenIcon)->enabled);
    EXPECT_EQ(shown.Control(IDC_SUCCESS_ICON)->iconId, IDI_SUCCESS);
    EXPECT_EQ(shown.Control(IDC_FAILURE_ICON)->iconId, IDI_FAILURE);
    EXPECT_EQ(Label(shown, IDC_RESULT_MESSAGE), c.message);
    EXPECT_TRUE(shown.Control(IDC_RETRY)->visible);
    EXPECT_EQ(shown.Control(IDC_RETRY)->enabled, c.retryEnabled);
    EXPECT_TRUE(shown.Control(IDOK)->enabled);
    EXPECT_EQ(Label(shown, IDC_DETAILS), "Installation aborted by user");
  }
}

TEST_F(PassFailDialog, RetryReturnsFourOnlyInTheFailureForm) {
  struct Case {
    const char* what;
    int32_t success;
    std::vector<HA> actions;
    intptr_t result;
  } cases[] = {
      {"Retry after a failure", 0, {HA::Click(IDC_RETRY)}, IDRETRY},
      {"Retry is disabled after a success", 1, {HA::Click(IDC_RETRY), HA::Enter()}, IDOK},
      {"Enter", 0, {HA::Enter()}, IDOK},
      {"Escape", 0, {HA::Escape()}, IDCANCEL},
      {"close box", 1, {HA::CloseBox()}, IDCANCEL},
  };
  for (Case& c : cases) {
    Script(IDD_PASS_FAIL_DIALOG, c.actions);
    CPassFailDialog dlg("details", c.success);
    EXPECT_EQ(dlg.DoModal(), c.result) << c.what;
  }
  EXPECT_EQ(m_backend->Log()[1], "131 click 1007 refused");
}

TEST_F(PassFailDialog, AnEmptyDetailsTextLeavesTheEditEmpty) {
  Script(IDD_PASS_FAIL_DIALOG, {HA::Click(IDOK)});
  CPassFailDialog dlg("", 0);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(Label(m_backend->Shown().back(), IDC_DETAILS), "");
}

using SerialNumberDialog = HeadlessTest;

TEST_F(SerialNumberDialog, ShowsTheQuestionAndStartsAtZero) {
  Script(IDD_SERIAL_NUMBER_DIALOG, {HA::Click(IDCANCEL)});
  CSerialNumberDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  const ShownDialog& shown = m_backend->Shown().back();
  EXPECT_EQ(shown.caption, "Confirm Serial Number");
  EXPECT_FALSE(shown.hasOwner);
  EXPECT_EQ(Label(shown, IDC_SERIAL_NUMBER), "0");
  EXPECT_EQ(Label(shown, IDC_STATIC),
            "Please confirm the serial number of your Veltro product from the rear panel lable near the power "
            "switch ");
  EXPECT_EQ(Label(shown, IDOK), "OK");
  EXPECT_EQ(Label(shown, IDCANCEL), "Cancel");
}

TEST_F(SerialNumberDialog, EightDigitsAreTakenAndTheBoundsHold) {
  struct Case {
    const char* entry;
    int32_t value;
  } cases[] = {{"12345678", 12345678}, {"99999999", 99999999}, {"1", 1}, {" 00000042 ", 42}};
  for (const Case& c : cases) {
    Script(IDD_SERIAL_NUMBER_DIALOG, {HA::Type(IDC_SERIAL_NUMBER, c.entry), HA::Enter()});
    CSerialNumberDialog dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK) << c.entry;
    EXPECT_EQ(dlg.m_serialNumber, c.value) << c.entry;
  }
}

TEST_F(SerialNumberDialog, RefusedEntriesKeepItOpenWithTheFrameworksMessage) {
  const std::string range = "Please enter an integer between 1 and 99999999.";
  const std::string integer = "Please enter an integer.";
  struct Case {
    const char* entry;
    std::string message;
  } cases[] = {
      {"0", range},             // the value it starts with
      {"123456789", range},     // nine digits
      {"-12345678", range},
      {"12ab5678", integer},
      {"abc", integer},
      {"", integer},
      {"4294967297", integer},  // does not fit in 32 bits (would be 1 if cut)
  };
  for (const Case& c : cases) {
    bool inspected = false;
    Script(IDD_SERIAL_NUMBER_DIALOG,
           {HA::Type(IDC_SERIAL_NUMBER, c.entry), HA::Click(IDOK), HA::Inspect([&](CDialog& dlg) {
              inspected = true;
              EXPECT_FALSE(dlg.HasEnded());
              EXPECT_EQ(dlg.GetFocusId(), IDC_SERIAL_NUMBER);
            }),
            HA::Click(IDCANCEL)});
    Script(MESSAGE_BOX_TEMPLATE_ID, {HA::Click(IDOK)});
    const size_t before = m_backend->Shown().size();
    CSerialNumberDialog dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << c.entry;
    EXPECT_TRUE(inspected) << c.entry;
    ASSERT_EQ(m_backend->Shown().size(), before + 2) << c.entry;
    EXPECT_EQ(m_backend->Shown()[before + 1].MessageText(), c.message) << c.entry;
  }
}

TEST_F(SerialNumberDialog, ANumberEnteredAfterARefusalIsTaken) {
  Script(IDD_SERIAL_NUMBER_DIALOG, {HA::Click(IDOK), HA::Type(IDC_SERIAL_NUMBER, "12345678"), HA::Click(IDOK)});
  Script(MESSAGE_BOX_TEMPLATE_ID, {HA::Enter()});
  CSerialNumberDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.m_serialNumber, 12345678);
  EXPECT_EQ(m_backend->Shown()[1].MessageText(), "Please enter an integer between 1 and 99999999.");
}
