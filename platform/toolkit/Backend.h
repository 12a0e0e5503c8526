// The backend interface: what shows dialogs to the user and brings back the
// user's actions.
//
// Dialogs are written once against CDialog; a backend presents them. The
// toolkit tells the backend when a dialog opens, changes and closes, and
// lets it wait for input: WaitForInput blocks until the user has acted or the
// thread's message queue has something (its wake-up descriptor is readable),
// delivers the actions to the dialogs (ClickButton, PressEnter, TypeText,
// ...) and returns. A backend never dispatches thread messages itself and
// never reads the wake-up descriptor, so the modal loop sees every message.
//
// Backends: "headless" (scripted, for tests), "console" (a terminal). A
// GTK 3 backend ("gtk") and a Win32 backend ("win32") fit the same interface:
// GTK watches the wake-up descriptor as one more source of its main context,
// Win32 waits with the queue's event among its handles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace toolkit {

class CDialog;

// What changed in an open dialog.
enum class Change {
  Text,      // a control's text
  State,     // a control's enabled or visible state
  Progress,  // a progress bar's range or position
  Icon,      // a static icon's image
  Font,      // a control's font
  Focus,     // the focus moved (controlId: the new focus)
  Dialog,    // the dialog's caption, icon or enabled state (controlId 0)
};

class IBackend {
 public:
  virtual ~IBackend() = default;
  virtual std::string Name() const = 0;

  // The dialog exists and has been initialised; show it above the open ones.
  virtual void DialogOpened(CDialog& dlg) = 0;
  // Something visible changed in a shown dialog.
  virtual void DialogChanged(CDialog& dlg, int controlId, Change what) = 0;
  // The dialog has ended with the result and is about to disappear.
  virtual void DialogClosed(CDialog& dlg, intptr_t result) = 0;
  // Waits (blocking, no spinning) until the user acts or queueWakeFd is
  // readable; delivers the user's actions. `modal` is the dialog whose modal
  // loop is waiting (the topmost one).
  virtual void WaitForInput(CDialog& modal, int queueWakeFd) = 0;
};

// The backend in use. Set it before the first dialog opens; a dialog keeps
// the backend it opened with until it closes.
void SetBackend(std::shared_ptr<IBackend> backend);
// The backend in use; the default one is created on first use.
std::shared_ptr<IBackend> GetBackend();

// A backend by name: "headless", "console"; null for a name that this build
// does not have.
std::shared_ptr<IBackend> CreateBackend(const std::string& name);
// The backend the session offers: win32 on Windows, gtk where a display is
// available and the build has it, console otherwise.
std::string DefaultBackendName();

}  // namespace toolkit
