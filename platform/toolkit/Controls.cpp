#include "platform/toolkit/Controls.h"

#include "platform/toolkit/Dialog.h"

#include <algorithm>

namespace toolkit {

ControlState* CWndControl::State() const {
  if (!m_pDialog) return nullptr;
  return m_pDialog->Item(m_id);
}

void CWndControl::EnableWindow(bool enable) {
  if (m_pDialog) m_pDialog->EnableItem(m_id, enable);
}

bool CWndControl::IsWindowEnabled() const {
  const ControlState* c = State();
  return c && c->enabled;
}

void CWndControl::ShowWindow(int cmd) {
  if (m_pDialog) m_pDialog->ShowItem(m_id, cmd);
}

bool CWndControl::IsWindowVisible() const {
  const ControlState* c = State();
  return c && c->visible;
}

void CWndControl::SetWindowText(const std::string& text) {
  if (m_pDialog) m_pDialog->SetDlgItemText(m_id, text);
}

std::string CWndControl::GetWindowText() const {
  const ControlState* c = State();
  return c ? c->text : std::string();
}

void CWndControl::SetFont(const CFont& font, bool redraw) {
  ControlState* c = State();
  if (!c) return;
  if (const LogFont* desc = font.Description())
    c->font = *desc;
  else
    c->font.reset();
  if (redraw) m_pDialog->Changed(m_id, Change::Font);
}

bool CWndControl::GetFont(LogFont& out) const {
  const ControlState* c = State();
  if (!c || !c->font) return false;
  out = *c->font;
  return true;
}

void CWndControl::SetFocus() {
  if (m_pDialog) m_pDialog->GotoDlgCtrl(m_id);
}

void CEdit::SetSelAll() {
  if (ControlState* c = State()) c->selectAll = true;
}

HICON CStatic::SetIcon(HICON icon) {
  ControlState* c = State();
  if (!c) return nullptr;
  HICON previous = c->icon;
  c->icon = icon;
  GetDialog()->Changed(GetDlgCtrlID(), Change::Icon);
  return previous;
}

HICON CStatic::GetIcon() const {
  const ControlState* c = State();
  return c ? c->icon : nullptr;
}

// The progress bar goes through its window procedure, exactly as the
// messages that other threads post to it.
void CProgressCtrl::SetRange32(int32_t lower, int32_t upper) {
  if (const platform::WindowHandle h = GetSafeHwnd())
    platform::DispatchMessage(platform::Message{h, platform::PBM_SETRANGE32,
                                                static_cast<uintptr_t>(static_cast<uint32_t>(lower)), upper});
}

void CProgressCtrl::GetRange(int32_t& lower, int32_t& upper) const {
  const ControlState* c = State();
  lower = c ? c->rangeLower : 0;
  upper = c ? c->rangeUpper : 0;
}

int32_t CProgressCtrl::SetPos(int32_t pos) {
  const ControlState* c = State();
  if (!c) return 0;
  const int32_t previous = c->pos;
  platform::DispatchMessage(
      platform::Message{GetSafeHwnd(), platform::PBM_SETPOS, static_cast<uintptr_t>(static_cast<uint32_t>(pos)), 0});
  return previous;
}

int32_t CProgressCtrl::GetPos() const {
  const ControlState* c = State();
  return c ? c->pos : 0;
}

bool ShowWindow(platform::WindowHandle hwnd, int cmd) {
  if (hwnd == 0 || !platform::IsWindow(hwnd)) return false;
  return platform::DispatchMessage(platform::Message{hwnd, WM_SHOWWINDOW, static_cast<uintptr_t>(cmd), 0});
}

}  // namespace toolkit
