// Fonts: a font description that dialogs may read and change, and the font
// object created from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace toolkit {

// A logical font. The height is in device pixels, negative for the character
// height (the usual form), positive for the cell height; a width of 0 lets
// the system choose. Weight 400 is normal, 700 bold.
struct LogFont {
  int32_t height = 0;
  int32_t width = 0;
  int32_t weight = 400;
  bool italic = false;
  std::string faceName;

  bool operator==(const LogFont&) const = default;
};

inline constexpr int32_t FW_NORMAL = 400;
inline constexpr int32_t FW_BOLD = 700;

// The logical font of a dialog font given in points, at the desktop's 96
// pixels per inch: height -(points * 96 / 72), rounded.
LogFont DialogLogFont(const std::string& face, int points);

// The enlarged bold variant of a font: the weight combined with 700 by
// bitwise or (400 thus becomes 956), width and height multiplied by 1.3 and
// truncated toward zero.
LogFont EnlargedBold(const LogFont& font);

// A font object. Empty until created; a control given a font keeps a copy of
// its description, so the object may be released afterwards.
class CFont {
 public:
  bool CreateFontIndirect(const LogFont& desc);
  bool GetLogFont(LogFont& out) const;
  bool IsCreated() const { return m_desc != nullptr; }
  void DeleteObject() { m_desc.reset(); }
  const LogFont* Description() const { return m_desc.get(); }

 private:
  std::shared_ptr<const LogFont> m_desc;
};

}  // namespace toolkit
