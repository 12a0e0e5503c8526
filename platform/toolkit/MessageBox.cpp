#include "platform/toolkit/MessageBox.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace toolkit {

namespace {

std::mutex g_titleMutex;
std::string ProgramName() {
#ifdef __GLIBC__
  if (program_invocation_short_name && *program_invocation_short_name) return program_invocation_short_name;
#endif
  return "Installer";
}

std::string& TitleSlot() {
  static std::string* title = new std::string(ProgramName());
  return *title;
}

// The system icons of message boxes, as text backends and pixel backends
// draw them.
void RegisterSystemIcons() {
  static std::once_flag once;
  std::call_once(once, [] {
    const struct {
      int id;
      const char* name;
      const char* glyph;
      int color;
    } icons[] = {{IDI_HAND, "error", "(X)", 31},
                 {IDI_QUESTION, "question", "(?)", 34},
                 {IDI_EXCLAMATION, "warning", "/!\\", 33},
                 {IDI_ASTERISK, "information", "(i)", 34}};
    for (const auto& i : icons) {
      IconImage image;
      image.resourceId = i.id;
      image.name = i.name;
      image.glyph = {i.glyph};
      image.consoleColor = i.color;
      RegisterIcon(image);
    }
  });
}

int IconFor(uint32_t type) {
  switch (type & 0xF0) {
    case MB_ICONERROR: return IDI_HAND;
    case MB_ICONQUESTION: return IDI_QUESTION;
    case MB_ICONWARNING: return IDI_EXCLAMATION;
    case MB_ICONINFORMATION: return IDI_ASTERISK;
    default: return 0;
  }
}

}  // namespace

void SetAppTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(g_titleMutex);
  TitleSlot() = title;
}

std::string AppTitle() {
  std::lock_guard<std::mutex> lock(g_titleMutex);
  return TitleSlot();
}

DialogTemplate CMessageBox::BuildTemplate(const std::string& text, const std::string& caption, uint32_t type) {
  RegisterSystemIcons();
  // Lay the text out at about 50 characters a line (4 dialog units a
  // character, 8 a line); the box grows with it.
  size_t lines = 0, longest = 0, current = 0;
  for (char ch : text + "\n") {
    if (ch == '\n') {
      lines += 1 + current / 50;
      longest = std::max(longest, std::min<size_t>(current, 50));
      current = 0;
    } else if (ch != '\r') {
      ++current;
    }
  }
  const int iconId = IconFor(type);
  const int textX = iconId ? 41 : 11;
  const int textWidth = static_cast<int>(std::max<size_t>(longest, 10)) * 4 + 4;
  const int textHeight = static_cast<int>(std::min<size_t>(lines, 40)) * 8;
  const int width = std::max(textX + textWidth + 11, 90);
  const int buttonY = std::max(textHeight, iconId ? 20 : 0) + 20;

  DialogTemplate t =
      ModalDialogTemplate(MESSAGE_BOX_TEMPLATE_ID, caption.empty() ? AppTitle() : caption, width, buttonY + 21);
  if (iconId) t.controls.push_back(Icon(IDC_MESSAGE_ICON, iconId, 11, 11, 20, 20));
  t.controls.push_back(LText(IDC_MESSAGE_TEXT, text, textX, 11, textWidth, textHeight));
  t.controls.push_back(DefPushButton(IDOK, "OK", (width - 50) / 2, buttonY, 50, 14));
  return t;
}

CMessageBox::CMessageBox(const std::string& text, const std::string& caption, uint32_t type, CDialog* owner)
    : CDialog(BuildTemplate(text, caption, type), owner), m_text(text) {}

bool CMessageBox::OnCommand(int id) {
  if (id == IDCANCEL) {
    EndDialog(IDOK);
    return true;
  }
  return false;
}

int MessageBox(CDialog* owner, const std::string& text, const std::string& caption, uint32_t type) {
  CMessageBox box(text, caption, type, owner);
  const intptr_t result = box.DoModal();
  return result < 0 ? static_cast<int>(result) : IDOK;
}

int AfxMessageBox(const std::string& text, uint32_t type) {
  if ((type & 0xF0) == 0) type |= MB_ICONWARNING;
  CDialog* owner = nullptr;
  const auto& open = OpenDialogs();
  for (auto it = open.rbegin(); it != open.rend(); ++it) {
    if ((*it)->IsWindowEnabled()) {
      owner = *it;
      break;
    }
  }
  return MessageBox(owner, text, "", type);
}

}  // namespace toolkit
