// Message boxes: a text, an OK button and an optional icon, in a modal
// dialog of their own whose loop dispatches thread messages like every
// other modal loop.
#pragma once

#include "platform/toolkit/Dialog.h"

#include <string>

namespace toolkit {

// The caption of message boxes that name none: the application's title,
// which is the program's name until the application sets it.
void SetAppTitle(const std::string& title);
std::string AppTitle();

// Ids of the message box's text and icon controls.
inline constexpr int IDC_MESSAGE_TEXT = 0xFFFF;
inline constexpr int IDC_MESSAGE_ICON = 20;

// The system icons that message boxes show.
inline constexpr int IDI_HAND = 32513;         // error
inline constexpr int IDI_QUESTION = 32514;
inline constexpr int IDI_EXCLAMATION = 32515;  // warning
inline constexpr int IDI_ASTERISK = 32516;     // information

class CMessageBox : public CDialog {
 public:
  // type: MB_OK with an optional MB_ICON* value. An empty caption gives the
  // application's title.
  CMessageBox(const std::string& text, const std::string& caption, uint32_t type, CDialog* owner);
  bool IsMessageBox() const override { return true; }
  const std::string& Text() const { return m_text; }

 protected:
  // A box with an OK button alone ends with IDOK on Escape and the close box.
  bool OnCommand(int id) override;

 private:
  static DialogTemplate BuildTemplate(const std::string& text, const std::string& caption, uint32_t type);
  std::string m_text;
};

// A message box owned by `owner` (none: no owner). Returns IDOK.
int MessageBox(CDialog* owner, const std::string& text, const std::string& caption = "", uint32_t type = MB_OK);

// The framework's message box: the application's title as caption, owned by
// the topmost enabled dialog of this thread, and with the warning icon when
// the type names no icon. Returns IDOK.
int AfxMessageBox(const std::string& text, uint32_t type = MB_OK);

}  // namespace toolkit
