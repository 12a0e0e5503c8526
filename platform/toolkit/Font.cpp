#include "platform/toolkit/Font.h"

namespace toolkit {

LogFont DialogLogFont(const std::string& face, int points) {
  LogFont f;
  f.faceName = face;
  f.height = -((points * 96 + 36) / 72);
  return f;
}

LogFont EnlargedBold(const LogFont& font) {
  LogFont f = font;
  f.weight = font.weight | FW_BOLD;
  f.width = static_cast<int32_t>(font.width * 1.3);
  f.height = static_cast<int32_t>(font.height * 1.3);
  return f;
}

bool CFont::CreateFontIndirect(const LogFont& desc) {
  m_desc = std::make_shared<const LogFont>(desc);
  return true;
}

bool CFont::GetLogFont(LogFont& out) const {
  if (!m_desc) return false;
  out = *m_desc;
  return true;
}

}  // namespace toolkit
