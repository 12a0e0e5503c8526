// The headless backend: for tests. It records what each dialog showed and
// answers with scripted presses and entries.
//
// Scripts are kept per dialog template id (message boxes share
// MESSAGE_BOX_TEMPLATE_ID) and consumed in order. Whenever a modal loop waits
// for input, the backend performs the next action of the topmost open,
// enabled dialog that has one ready; a WaitUntil action holds its dialog's
// script until its condition is true, and the loop keeps dispatching thread
// messages meanwhile (conditions must become true through messages; a wait
// ends unsatisfied after m_waitLimitMs and is reported). A dialog that waits
// for input with no action left is reported as unanswered and closed with its
// close box (or ended with -1 if it refuses to close), so that a test that
// forgot an answer fails instead of hanging.
#pragma once

#include "platform/toolkit/Backend.h"
#include "platform/toolkit/Template.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace toolkit {

class CDialog;

struct HeadlessAction {
  enum class Kind { Click, Type, Enter, Escape, CloseBox, Focus, WaitUntil, Inspect };
  Kind kind = Kind::Enter;
  int id = 0;
  std::string text;
  std::function<bool()> until;
  std::function<void(CDialog&)> inspect;

  static HeadlessAction Click(int id) { return {Kind::Click, id, {}, {}, {}}; }
  static HeadlessAction Type(int id, const std::string& text) { return {Kind::Type, id, text, {}, {}}; }
  static HeadlessAction Enter() { return {Kind::Enter, 0, {}, {}, {}}; }
  static HeadlessAction Escape() { return {Kind::Escape, 0, {}, {}, {}}; }
  static HeadlessAction CloseBox() { return {Kind::CloseBox, 0, {}, {}, {}}; }
  static HeadlessAction Focus(int id) { return {Kind::Focus, id, {}, {}, {}}; }
  static HeadlessAction WaitUntil(std::function<bool()> condition) { return {Kind::WaitUntil, 0, {}, std::move(condition), {}}; }
  // Runs the function on the open dialog (to look at its state mid-run).
  static HeadlessAction Inspect(std::function<void(CDialog&)> fn) { return {Kind::Inspect, 0, {}, {}, std::move(fn)}; }
};

// One control as the dialog showed it.
struct ShownControl {
  int id = 0;
  ControlKind kind = ControlKind::StaticText;
  std::string text;
  bool enabled = false;
  bool visible = false;
  int iconId = 0;          // static icons: the shown icon's resource id (0: none)
  int32_t rangeLower = 0;  // progress bars
  int32_t rangeUpper = 0;
  int32_t pos = 0;
};

// One opening of a dialog.
struct ShownDialog {
  int templateId = 0;
  bool messageBox = false;
  bool hasOwner = false;
  std::string caption;
  std::vector<ShownControl> atOpen;   // as shown when it opened
  std::vector<ShownControl> atClose;  // as it was when it ended
  int focusAtOpen = 0;
  int focusAtClose = 0;
  bool closed = false;
  intptr_t result = -1;

  const ShownControl* Control(int id, bool whenClosed = false) const;
  // The text of a message box (its text control).
  std::string MessageText() const;
};

class CHeadlessBackend : public IBackend {
 public:
  std::string Name() const override { return "headless"; }

  // Appends actions to the script of the dialogs with the template id.
  void Script(int templateId, std::vector<HeadlessAction> actions);

  // Every opening, in order; references stay valid.
  const std::deque<ShownDialog>& Shown() const { return m_shown; }
  // The openings of dialogs with the template id.
  std::vector<const ShownDialog*> ShownWithId(int templateId) const;
  // What went wrong: unanswered dialogs, waits that timed out.
  const std::vector<std::string>& Problems() const { return m_problems; }
  // Every action performed or refused, in words ("129 click 1", ...).
  const std::vector<std::string>& Log() const { return m_log; }
  // Scripted actions not used yet.
  size_t PendingActions() const;

  int m_waitLimitMs = 60000;

  void DialogOpened(CDialog& dlg) override;
  void DialogChanged(CDialog& dlg, int controlId, Change what) override;
  void DialogClosed(CDialog& dlg, intptr_t result) override;
  void WaitForInput(CDialog& modal, int queueWakeFd) override;

 private:
  void Perform(CDialog& dlg, const HeadlessAction& action);

  std::map<int, std::deque<HeadlessAction>> m_scripts;
  std::deque<ShownDialog> m_shown;
  std::map<const CDialog*, size_t> m_open;
  std::vector<std::string> m_problems;
  std::vector<std::string> m_log;
  const CDialog* m_unanswered = nullptr;
};

}  // namespace toolkit
