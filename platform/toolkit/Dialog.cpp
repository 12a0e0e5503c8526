#include "platform/toolkit/Dialog.h"

#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/MessageLoop.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace toolkit {

namespace {

// The dialogs open on this thread, bottom to top.
std::vector<CDialog*>& OpenStack() {
  thread_local std::vector<CDialog*> stack;
  return stack;
}

}  // namespace

const std::vector<CDialog*>& OpenDialogs() { return OpenStack(); }

CDialog::CDialog(int templateId, CDialog* parent) : m_pParent(parent) {
  if (const DialogTemplate* t = FindDialogTemplate(templateId)) {
    m_template = *t;
  } else {
    m_template.id = templateId;
    m_templateFound = false;
  }
  m_caption = m_template.caption;
}

CDialog::CDialog(const DialogTemplate& tmpl, CDialog* parent) : m_template(tmpl), m_pParent(parent) {
  m_caption = m_template.caption;
}

CDialog::~CDialog() {
  if (m_open) DestroyItems();
}

ControlState* CDialog::Item(int id) {
  for (ControlState& c : m_items)
    if (c.tmpl.id == id) return &c;
  return nullptr;
}

const ControlState* CDialog::Item(int id) const {
  for (const ControlState& c : m_items)
    if (c.tmpl.id == id) return &c;
  return nullptr;
}

std::optional<LogFont> CDialog::GetFont() const {
  if (m_template.fontFace.empty()) return std::nullopt;
  return DialogLogFont(m_template.fontFace, m_template.fontPoints);
}

void CDialog::Changed(int controlId, Change what) {
  if (m_shown && m_backend) m_backend->DialogChanged(*this, controlId, what);
}

// --- creation and destruction of the controls --------------------------------

void CDialog::CreateItems() {
  m_items.clear();
  m_items.reserve(m_template.controls.size());
  const std::optional<LogFont> font = GetFont();
  for (const ControlTemplate& t : m_template.controls) {
    ControlState c;
    c.tmpl = t;
    c.text = t.text;
    c.enabled = (t.style & WS_DISABLED) == 0;
    c.visible = (t.style & WS_VISIBLE) != 0;
    c.font = font;
    if (t.kind == ControlKind::StaticIcon) c.icon = LoadIcon(t.iconId);
    m_items.push_back(std::move(c));
  }
  // Handles come after the vector is complete: each procedure keeps the
  // index of its control.
  for (size_t i = 0; i < m_items.size(); ++i)
    m_items[i].hwnd = platform::CreateWindowHandle(
        [this, i](uint32_t message, uintptr_t wParam, intptr_t lParam) { return ItemProc(i, message, wParam, lParam); });
  Attach(platform::CreateWindowHandle(
      [this](uint32_t message, uintptr_t wParam, intptr_t lParam) { return WindowProc(message, wParam, lParam); }));
  m_focusId = 0;
  m_enabled = true;
}

void CDialog::DestroyItems() {
  for (CWndControl* control : m_bound) {
    control->Detach();
    control->m_pDialog = nullptr;
    control->m_id = 0;
  }
  m_bound.clear();
  for (ControlState& c : m_items) {
    platform::DestroyWindowHandle(c.hwnd);
    c.hwnd = 0;
  }
  if (platform::WindowHandle h = Detach()) platform::DestroyWindowHandle(h);
}

// --- modal run -------------------------------------------------------------------

intptr_t CDialog::DoModal() {
  if (m_open || !m_templateFound) return -1;
  m_backend = GetBackend();
  m_open = true;
  m_ended = false;
  m_result = -1;
  CreateItems();
  OpenStack().push_back(this);

  // A dialog with an owner disables it while it runs.
  CDialog* owner = (m_pParent && m_pParent->IsOpen() && m_pParent->IsWindowEnabled()) ? m_pParent : nullptr;
  if (owner) owner->EnableWindow(false);

  auto finish = [&] {
    if (owner) owner->EnableWindow(true);
    auto& stack = OpenStack();
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
    DestroyItems();
    m_shown = false;
    m_open = false;
    m_backend.reset();
  };
  try {
    if (OnInitDialog() && m_focusId == 0) m_focusId = FirstTabStop();
    if (!m_ended) {
      m_shown = true;
      m_backend->DialogOpened(*this);
      RunModalLoop();
      m_backend->DialogClosed(*this, m_result);
    }
  } catch (...) {
    if (m_shown) m_backend->DialogClosed(*this, -1);
    finish();
    throw;
  }
  finish();
  return m_result;
}

void CDialog::RunModalLoop() {
  while (!m_ended) {
    if (!PumpWaitingMessages()) {
      if (!m_ended) EndDialog(-1);
      break;
    }
    if (m_ended) break;
    m_backend->WaitForInput(*this, platform::MessageQueueWakeFd());
  }
}

void CDialog::EndDialog(intptr_t result) {
  if (m_ended) return;
  m_result = result;
  m_ended = true;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnClose() {
  if (CancelDisabled()) return;
  HandleCommand(IDCANCEL);
}

void CDialog::HandleCommand(int id) {
  if (m_ended) return;
  if (OnCommand(id)) return;
  if (id == IDOK)
    OnOK();
  else if (id == IDCANCEL)
    OnCancel();
}

bool CDialog::UpdateData(bool saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (const CDataExchange::Failure&) {
    return false;
  }
  return true;
}

// --- window procedures -------------------------------------------------------------

intptr_t CDialog::WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  (void)lParam;
  switch (message) {
    case WM_COMMAND:
      HandleCommand(static_cast<int>(wParam & 0xFFFF));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ENABLE:
      EnableWindow(wParam != 0);
      return 0;
    default:
      return 0;
  }
}

intptr_t CDialog::ItemProc(size_t index, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (index >= m_items.size()) return 0;
  ControlState& c = m_items[index];
  switch (message) {
    case platform::PBM_SETRANGE32: {
      const int32_t previous = c.rangeLower;
      c.rangeLower = static_cast<int32_t>(static_cast<uint32_t>(wParam));
      c.rangeUpper = static_cast<int32_t>(lParam);
      if (c.rangeUpper < c.rangeLower) std::swap(c.rangeLower, c.rangeUpper);
      c.pos = std::clamp(c.pos, c.rangeLower, c.rangeUpper);
      Changed(c.tmpl.id, Change::Progress);
      return previous;
    }
    case platform::PBM_SETPOS: {
      const int32_t previous = c.pos;
      c.pos = std::clamp(static_cast<int32_t>(static_cast<uint32_t>(wParam)), c.rangeLower, c.rangeUpper);
      if (c.pos != previous) Changed(c.tmpl.id, Change::Progress);
      return previous;
    }
    case PBM_GETPOS:
      return c.pos;
    case WM_SHOWWINDOW: {
      const bool visible = static_cast<int>(wParam) != SW_HIDE;
      if (c.visible != visible) {
        c.visible = visible;
        Changed(c.tmpl.id, Change::State);
      }
      return 0;
    }
    case WM_ENABLE: {
      const bool enabled = wParam != 0;
      if (c.enabled != enabled) {
        c.enabled = enabled;
        Changed(c.tmpl.id, Change::State);
      }
      return 0;
    }
    default:
      return 0;
  }
}

// --- state changes by the program ---------------------------------------------------

void CDialog::SetWindowText(const std::string& caption) {
  m_caption = caption;
  Changed(0, Change::Dialog);
}

void CDialog::EnableWindow(bool enable) {
  if (m_enabled == enable) return;
  m_enabled = enable;
  Changed(0, Change::Dialog);
}

HICON CDialog::SetIcon(HICON icon, bool bigIcon) {
  HICON& slot = bigIcon ? m_bigIcon : m_smallIcon;
  HICON previous = slot;
  slot = icon;
  Changed(0, Change::Dialog);
  return previous;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
  ControlState* c = Item(id);
  if (!c || c->text == text) return;
  c->text = text;
  Changed(id, Change::Text);
}

std::string CDialog::GetDlgItemText(int id) const {
  const ControlState* c = Item(id);
  return c ? c->text : std::string();
}

void CDialog::EnableItem(int id, bool enable) {
  ControlState* c = Item(id);
  if (!c || c->enabled == enable) return;
  c->enabled = enable;
  Changed(id, Change::State);
}

void CDialog::ShowItem(int id, int cmd) {
  ControlState* c = Item(id);
  const bool visible = cmd != SW_HIDE;
  if (!c || c->visible == visible) return;
  c->visible = visible;
  Changed(id, Change::State);
}

void CDialog::GotoDlgCtrl(int id) {
  ControlState* c = Item(id);
  if (!c) return;
  m_focusId = id;
  if (c->tmpl.kind == ControlKind::Edit) c->selectAll = true;
  Changed(id, Change::Focus);
}

int CDialog::GetDefaultId() const {
  for (const ControlState& c : m_items)
    if (c.IsPushButton() && (c.tmpl.style & 0xF) == BS_DEFPUSHBUTTON) return c.tmpl.id;
  return 0;
}

int CDialog::FirstTabStop() const {
  for (const ControlState& c : m_items)
    if ((c.tmpl.style & WS_TABSTOP) && c.enabled && c.visible) return c.tmpl.id;
  return 0;
}

bool CDialog::CancelDisabled() const {
  const ControlState* cancel = Item(IDCANCEL);
  return cancel && !cancel->enabled;
}

// --- what the user does ----------------------------------------------------------------

bool CDialog::ClickButton(int id) {
  ControlState* c = Item(id);
  if (m_ended || !m_enabled || !c || !c->IsPushButton() || !c->enabled || !c->visible) return false;
  HandleCommand(id);
  return true;
}

void CDialog::PressEnter() {
  if (m_ended || !m_enabled) return;
  const ControlState* focus = Item(m_focusId);
  if (focus && focus->IsPushButton() && focus->enabled && focus->visible) {
    HandleCommand(focus->tmpl.id);
    return;
  }
  const int def = GetDefaultId();
  if (def == 0) {
    HandleCommand(IDOK);
    return;
  }
  ClickButton(def);
}

void CDialog::PressEscape() {
  if (m_ended || !m_enabled || CancelDisabled()) return;
  HandleCommand(IDCANCEL);
}

void CDialog::PressCloseBox() {
  if (m_ended || !m_enabled) return;
  OnClose();
}

bool CDialog::TypeText(int id, const std::string& text) {
  ControlState* c = Item(id);
  if (m_ended || !m_enabled || !c || !c->IsEditable()) return false;
  c->text = text;
  c->selectAll = false;
  m_focusId = id;
  return true;
}

bool CDialog::FocusControl(int id) {
  ControlState* c = Item(id);
  if (!m_enabled || !c || !c->enabled || !c->visible) return false;
  if (c->tmpl.kind != ControlKind::PushButton && c->tmpl.kind != ControlKind::Edit) return false;
  GotoDlgCtrl(id);
  return true;
}

void CDialog::FocusNext(bool backwards) {
  std::vector<int> stops;
  for (const ControlState& c : m_items)
    if ((c.tmpl.style & WS_TABSTOP) && c.enabled && c.visible) stops.push_back(c.tmpl.id);
  if (stops.empty()) return;
  auto it = std::find(stops.begin(), stops.end(), m_focusId);
  size_t index = 0;
  if (it != stops.end()) {
    const size_t here = static_cast<size_t>(it - stops.begin());
    index = backwards ? (here + stops.size() - 1) % stops.size() : (here + 1) % stops.size();
  } else if (backwards) {
    index = stops.size() - 1;
  }
  GotoDlgCtrl(stops[index]);
}

// --- data exchange ---------------------------------------------------------------------

void CDataExchange::PrepareCtrl(int id) {
  m_idLastControl = id;
  m_bEditLastControl = false;
}

void CDataExchange::PrepareEditCtrl(int id) {
  m_idLastControl = id;
  m_bEditLastControl = true;
}

void CDataExchange::Fail() {
  if (m_bSaveAndValidate && m_idLastControl != 0) m_pDlgWnd->GotoDlgCtrl(m_idLastControl);
  throw Failure{};
}

std::string FormatString2(const std::string& text, const std::string& arg1, const std::string& arg2) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == '1' || text[i + 1] == '2')) {
      out += text[i + 1] == '1' ? arg1 : arg2;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ParseInt32(const std::string& text, int32_t& value) {
  auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f'; };
  size_t i = 0;
  size_t end = text.size();
  while (i < end && blank(text[i])) ++i;
  while (end > i && blank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end) return false;
  // Accumulate as a magnitude in 64 bits; stop as soon as it leaves the range.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  int64_t magnitude = 0;
  for (; i < end; ++i) {
    const char ch = text[i];
    if (ch < '0' || ch > '9') return false;
    magnitude = magnitude * 10 + (ch - '0');
    if (magnitude > limit) return false;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

void DDX_Control(CDataExchange* pDX, int id, CWndControl& control) {
  CDialog* dlg = pDX->m_pDlgWnd;
  if (control.m_pDialog == dlg && control.m_id == id) return;  // bound already
  for (size_t i = 0; i < dlg->m_items.size(); ++i) {
    if (dlg->m_items[i].tmpl.id != id) continue;
    control.m_pDialog = dlg;
    control.m_id = id;
    control.Attach(dlg->m_items[i].hwnd);
    dlg->m_bound.push_back(&control);
    return;
  }
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
  CDialog* dlg = pDX->m_pDlgWnd;
  pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate)
    value = dlg->GetDlgItemText(id);
  else
    dlg->SetDlgItemText(id, value);
}

void DDX_Text(CDataExchange* pDX, int id, int32_t& value) {
  CDialog* dlg = pDX->m_pDlgWnd;
  pDX->PrepareEditCtrl(id);
  if (!pDX->m_bSaveAndValidate) {
    dlg->SetDlgItemText(id, std::to_string(value));
    return;
  }
  int32_t parsed = 0;
  if (!ParseInt32(dlg->GetDlgItemText(id), parsed)) {
    AfxMessageBox(PARSE_INT_MESSAGE);
    pDX->Fail();
  }
  value = parsed;
}

void DDV_MinMaxLong(CDataExchange* pDX, int32_t value, int32_t minVal, int32_t maxVal) {
  if (!pDX->m_bSaveAndValidate) return;
  if (value < minVal || value > maxVal) {
    AfxMessageBox(FormatString2(PARSE_INT_RANGE_MESSAGE, std::to_string(minVal), std::to_string(maxVal)));
    pDX->Fail();
  }
}

}  // namespace toolkit
