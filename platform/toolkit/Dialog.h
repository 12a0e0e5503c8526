// The dialog base: a dialog built from its template, run modally on the
// user-interface thread, with data exchange and range checks.
//
// Modal run: the dialog's controls come into being, OnInitDialog runs, the
// backend shows the dialog, and the modal loop runs until EndDialog. The loop
// keeps dispatching the thread's messages (thread messages to the installed
// handlers, window messages to their windows, see MessageLoop.h) and waits on
// the user's input and the thread's queue together. A dialog with an owner
// disables its owner while it runs; a dialog without one leaves every other
// window usable.
#pragma once

#include "platform/Wnd.h"
#include "platform/toolkit/Backend.h"
#include "platform/toolkit/Controls.h"
#include "platform/toolkit/Font.h"
#include "platform/toolkit/Icon.h"
#include "platform/toolkit/Template.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace toolkit {

class CDataExchange;

// Live state of one control while its dialog is open.
struct ControlState {
  ControlTemplate tmpl;
  std::string text;
  bool enabled = true;
  bool visible = true;
  bool selectAll = false;  // edit: the whole text is selected, typing replaces it
  HICON icon = nullptr;
  int32_t rangeLower = 0;
  int32_t rangeUpper = 100;
  int32_t pos = 0;
  std::optional<LogFont> font;  // none: the control has no font of its own
  platform::WindowHandle hwnd = 0;

  bool IsEditable() const {
    return tmpl.kind == ControlKind::Edit && enabled && visible && (tmpl.style & ES_READONLY) == 0;
  }
  bool IsPushButton() const { return tmpl.kind == ControlKind::PushButton; }
};

class CDialog : public platform::CWnd {
 public:
  // The registered template with the id (an unknown id gives an empty
  // dialog whose modal run returns -1 at once).
  explicit CDialog(int templateId, CDialog* parent = nullptr);
  explicit CDialog(const DialogTemplate& tmpl, CDialog* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog modally; returns the value given to EndDialog, -1 when
  // the dialog could not be shown or the loop ended on WM_QUIT.
  virtual intptr_t DoModal();
  void EndDialog(intptr_t result);

  // Data exchange: true copies the controls into the members and validates,
  // false copies the members into the controls. False when a check refused.
  bool UpdateData(bool saveAndValidate = true);

  // --- state of the open dialog -------------------------------------------
  bool IsOpen() const { return m_open; }
  bool IsShown() const { return m_shown; }
  // EndDialog has been called; the modal loop ends at its next turn.
  bool HasEnded() const { return m_ended; }
  const DialogTemplate& Template() const { return m_template; }
  int TemplateId() const { return m_template.id; }
  CDialog* GetParent() const { return m_pParent; }
  virtual bool IsMessageBox() const { return false; }

  const std::vector<ControlState>& Items() const { return m_items; }
  ControlState* Item(int id);
  const ControlState* Item(int id) const;

  void SetWindowText(const std::string& caption);
  std::string GetWindowText() const { return m_caption; }
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const { return m_enabled; }
  HICON SetIcon(HICON icon, bool bigIcon);
  HICON GetIcon(bool bigIcon) const { return bigIcon ? m_bigIcon : m_smallIcon; }
  // The dialog's font (from its template); none when the template names none.
  std::optional<LogFont> GetFont() const;

  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  void EnableItem(int id, bool enable);
  void ShowItem(int id, int cmd);
  // Moves the focus to the control; an edit gets its whole text selected.
  void GotoDlgCtrl(int id);
  int GetFocusId() const { return m_focusId; }
  // The default push button's id, 0 when the dialog has none.
  int GetDefaultId() const;

  // --- what the user does (called by backends on this thread) --------------
  // Each returns false when the action does not apply (a hidden or disabled
  // control, a read-only edit) and changes nothing then.
  bool ClickButton(int id);
  void PressEnter();
  void PressEscape();
  void PressCloseBox();
  bool TypeText(int id, const std::string& text);  // replaces the edit's text
  bool FocusControl(int id);
  void FocusNext(bool backwards);

  // The backend's notice that something visible changed.
  void Changed(int controlId, Change what);

 protected:
  // Runs after the controls exist, before the dialog is shown. The base
  // copies the members into the controls. True lets the toolkit put the focus
  // on the first tab stop.
  virtual bool OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX) { (void)pDX; }
  // The OK command: validates the data and ends with IDOK.
  virtual void OnOK();
  // The Cancel command (also Escape): ends with IDCANCEL.
  virtual void OnCancel();
  // The close box: the Cancel command.
  virtual void OnClose();
  // A command (a button pressed); true when the dialog handled it. The base
  // handles none, so IDOK and IDCANCEL reach OnOK and OnCancel.
  virtual bool OnCommand(int id) { (void)id; return false; }

 private:
  friend class CDataExchange;
  friend void DDX_Control(CDataExchange*, int, CWndControl&);

  void HandleCommand(int id);
  void CreateItems();
  void DestroyItems();
  void RunModalLoop();
  int FirstTabStop() const;
  bool CancelDisabled() const;
  intptr_t WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
  intptr_t ItemProc(size_t index, uint32_t message, uintptr_t wParam, intptr_t lParam);

  DialogTemplate m_template;
  bool m_templateFound = true;
  CDialog* m_pParent = nullptr;
  std::shared_ptr<IBackend> m_backend;
  std::vector<ControlState> m_items;
  std::vector<CWndControl*> m_bound;
  std::string m_caption;
  bool m_enabled = true;
  bool m_open = false;
  bool m_shown = false;
  bool m_ended = false;
  intptr_t m_result = -1;
  int m_focusId = 0;
  HICON m_bigIcon = nullptr;
  HICON m_smallIcon = nullptr;
};

// The dialogs open on the calling thread, from the first opened to the
// topmost.
const std::vector<CDialog*>& OpenDialogs();

// --- data exchange -----------------------------------------------------------

class CDataExchange {
 public:
  CDataExchange(CDialog* dlg, bool saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}

  // Marks the control that the following checks are about.
  void PrepareCtrl(int id);
  void PrepareEditCtrl(int id);
  // Refuses the exchange: the focus goes to the last prepared control (an
  // edit gets its text selected) and the exchange ends. The message has been
  // shown before.
  [[noreturn]] void Fail();

  bool m_bSaveAndValidate;
  CDialog* m_pDlgWnd;
  int m_idLastControl = 0;
  bool m_bEditLastControl = false;

  struct Failure {};
};

// The framework's messages for refused entries.
inline constexpr const char* PARSE_INT_MESSAGE = "Please enter an integer.";
inline constexpr const char* PARSE_INT_RANGE_MESSAGE = "Please enter an integer between %1 and %2.";

// Replaces %1 and %2 in the text.
std::string FormatString2(const std::string& text, const std::string& arg1, const std::string& arg2);

// Reads a decimal 32-bit signed number: blanks around it are allowed, a sign
// may lead, nothing else. False for anything else and for numbers outside the
// 32-bit range, whatever the width of the platform's long.
bool ParseInt32(const std::string& text, int32_t& value);

// Binds the control object to the dialog's control with the id.
void DDX_Control(CDataExchange* pDX, int id, CWndControl& control);
// Exchanges a text with the control.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Exchanges a decimal number with the control; text that is not a 32-bit
// number is refused with PARSE_INT_MESSAGE.
void DDX_Text(CDataExchange* pDX, int id, int32_t& value);
// When saving: refuses a value outside min..max with PARSE_INT_RANGE_MESSAGE.
void DDV_MinMaxLong(CDataExchange* pDX, int32_t value, int32_t minVal, int32_t maxVal);

}  // namespace toolkit
