// Control objects: members of a dialog class that stand for one control of
// the open dialog.
//
// A control object is bound to its control by DDX_Control during the
// dialog's data exchange; from then until the dialog closes it holds the
// control's platform window handle (CWnd), so that other threads can post to
// it (the worker posts PBM_SETRANGE32 and PBM_SETPOS to the progress bar).
// Calls on a control object that is not bound do nothing and report false,
// empty or zero.
#pragma once

#include "platform/Wnd.h"
#include "platform/toolkit/Font.h"
#include "platform/toolkit/Icon.h"

#include <cstdint>
#include <string>

namespace toolkit {

class CDialog;
class CDataExchange;
struct ControlState;

class CWndControl : public platform::CWnd {
 public:
  bool IsBound() const { return m_pDialog != nullptr; }
  int GetDlgCtrlID() const { return m_id; }
  CDialog* GetDialog() const { return m_pDialog; }

  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;
  void ShowWindow(int cmd);
  bool IsWindowVisible() const;
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  // The control keeps a copy of the font's description; the font object
  // may be released afterwards.
  void SetFont(const CFont& font, bool redraw = true);
  // The control's current font; false when it has none.
  bool GetFont(LogFont& out) const;
  void SetFocus();

 protected:
  ControlState* State() const;

 private:
  friend class CDialog;
  friend void DDX_Control(CDataExchange* pDX, int id, CWndControl& control);
  CDialog* m_pDialog = nullptr;
  int m_id = 0;
};

class CButton : public CWndControl {};

class CEdit : public CWndControl {
 public:
  // Selects the whole text (typing replaces it).
  void SetSelAll();
};

class CStatic : public CWndControl {
 public:
  HICON SetIcon(HICON icon);
  HICON GetIcon() const;
};

class CProgressCtrl : public CWndControl {
 public:
  void SetRange32(int32_t lower, int32_t upper);
  void GetRange(int32_t& lower, int32_t& upper) const;
  // Returns the previous position. The position is kept inside the range.
  int32_t SetPos(int32_t pos);
  int32_t GetPos() const;
};

// Shows or hides the window with the handle (a control or a dialog) when it
// still exists; for the user-interface thread, which owns the windows.
// False when no such window exists.
bool ShowWindow(platform::WindowHandle hwnd, int cmd);

}  // namespace toolkit
