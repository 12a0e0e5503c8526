#include "platform/toolkit/HeadlessBackend.h"

#include "platform/toolkit/Dialog.h"
#include "platform/toolkit/MessageBox.h"

#include <poll.h>

namespace toolkit {

namespace {

std::vector<ShownControl> Snapshot(const CDialog& dlg) {
  std::vector<ShownControl> out;
  for (const ControlState& c : dlg.Items()) {
    ShownControl s;
    s.id = c.tmpl.id;
    s.kind = c.tmpl.kind;
    s.text = c.text;
    s.enabled = c.enabled;
    s.visible = c.visible;
    s.iconId = c.icon ? c.icon->resourceId : 0;
    s.rangeLower = c.rangeLower;
    s.rangeUpper = c.rangeUpper;
    s.pos = c.pos;
    out.push_back(std::move(s));
  }
  return out;
}

std::string Describe(const CDialog& dlg) {
  return (dlg.IsMessageBox() ? std::string("message box") : "dialog " + std::to_string(dlg.TemplateId())) + " \"" +
         dlg.GetWindowText() + "\"";
}

}  // namespace

const ShownControl* ShownDialog::Control(int id, bool whenClosed) const {
  for (const ShownControl& c : whenClosed ? atClose : atOpen)
    if (c.id == id) return &c;
  return nullptr;
}

std::string ShownDialog::MessageText() const {
  const ShownControl* c = Control(IDC_MESSAGE_TEXT);
  return c ? c->text : std::string();
}

void CHeadlessBackend::Script(int templateId, std::vector<HeadlessAction> actions) {
  auto& queue = m_scripts[templateId];
  for (auto& a : actions) queue.push_back(std::move(a));
}

std::vector<const ShownDialog*> CHeadlessBackend::ShownWithId(int templateId) const {
  std::vector<const ShownDialog*> out;
  for (const ShownDialog& d : m_shown)
    if (d.templateId == templateId) out.push_back(&d);
  return out;
}

size_t CHeadlessBackend::PendingActions() const {
  size_t n = 0;
  for (const auto& [id, queue] : m_scripts) n += queue.size();
  return n;
}

void CHeadlessBackend::DialogOpened(CDialog& dlg) {
  ShownDialog d;
  d.templateId = dlg.TemplateId();
  d.messageBox = dlg.IsMessageBox();
  d.hasOwner = dlg.GetParent() != nullptr;
  d.caption = dlg.GetWindowText();
  d.atOpen = Snapshot(dlg);
  d.focusAtOpen = dlg.GetFocusId();
  m_shown.push_back(std::move(d));
  m_open[&dlg] = m_shown.size() - 1;
}

void CHeadlessBackend::DialogChanged(CDialog&, int, Change) {}

void CHeadlessBackend::DialogClosed(CDialog& dlg, intptr_t result) {
  auto it = m_open.find(&dlg);
  if (it == m_open.end()) return;
  ShownDialog& d = m_shown[it->second];
  d.atClose = Snapshot(dlg);
  d.focusAtClose = dlg.GetFocusId();
  d.closed = true;
  d.result = result;
  m_open.erase(it);
  if (m_unanswered == &dlg) m_unanswered = nullptr;
}

void CHeadlessBackend::Perform(CDialog& dlg, const HeadlessAction& a) {
  const std::string who = std::to_string(dlg.TemplateId()) + " ";
  switch (a.kind) {
    case HeadlessAction::Kind::Click:
      m_log.push_back(who + "click " + std::to_string(a.id) + (dlg.ClickButton(a.id) ? "" : " refused"));
      break;
    case HeadlessAction::Kind::Type:
      m_log.push_back(who + "type " + std::to_string(a.id) + " \"" + a.text + "\"" +
                      (dlg.TypeText(a.id, a.text) ? "" : " refused"));
      break;
    case HeadlessAction::Kind::Enter:
      m_log.push_back(who + "enter");
      dlg.PressEnter();
      break;
    case HeadlessAction::Kind::Escape:
      m_log.push_back(who + "escape");
      dlg.PressEscape();
      break;
    case HeadlessAction::Kind::CloseBox:
      m_log.push_back(who + "close box");
      dlg.PressCloseBox();
      break;
    case HeadlessAction::Kind::Focus:
      m_log.push_back(who + "focus " + std::to_string(a.id) + (dlg.FocusControl(a.id) ? "" : " refused"));
      break;
    case HeadlessAction::Kind::Inspect:
      if (a.inspect) a.inspect(dlg);
      break;
    case HeadlessAction::Kind::WaitUntil:
      break;
  }
}

void CHeadlessBackend::WaitForInput(CDialog& modal, int queueWakeFd) {
  // The topmost open dialog that accepts input and has a ready action acts.
  const std::vector<CDialog*> open = OpenDialogs();
  bool waiting = false;
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    CDialog& dlg = **it;
    if (!dlg.IsShown() || !dlg.IsWindowEnabled()) continue;
    auto script = m_scripts.find(dlg.TemplateId());
    if (script == m_scripts.end() || script->second.empty()) continue;
    HeadlessAction& front = script->second.front();
    if (front.kind == HeadlessAction::Kind::WaitUntil) {
      if (!front.until || front.until()) {
        script->second.pop_front();
        return;
      }
      waiting = true;
      continue;
    }
    const HeadlessAction action = std::move(front);
    script->second.pop_front();
    Perform(dlg, action);
    return;
  }

  if (waiting) {
    // Block on the thread's queue: the conditions change through messages.
    pollfd p{queueWakeFd, POLLIN, 0};
    if (poll(&p, 1, m_waitLimitMs) == 0) {
      for (auto it = open.rbegin(); it != open.rend(); ++it) {
        auto script = m_scripts.find((*it)->TemplateId());
        if (script != m_scripts.end() && !script->second.empty() &&
            script->second.front().kind == HeadlessAction::Kind::WaitUntil) {
          m_problems.push_back(Describe(**it) + ": waited in vain");
          script->second.pop_front();
          break;
        }
      }
    }
    return;
  }

  // Nothing scripted for the waiting dialog.
  if (m_unanswered == &modal) {
    m_problems.push_back(Describe(modal) + ": refused to close");
    modal.EndDialog(-1);
    return;
  }
  m_problems.push_back(Describe(modal) + ": no scripted answer");
  m_unanswered = &modal;
  modal.PressCloseBox();
}

}  // namespace toolkit
