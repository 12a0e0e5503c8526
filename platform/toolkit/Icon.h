// Icons: images registered by resource id and handed out as handles.
//
// An icon is data held by the program (it reads no files): a small pixel map
// for graphical backends, drawn with one character per pixel through a
// palette, and a short glyph for text backends.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace toolkit {

struct IconImage {
  int resourceId = 0;
  std::string name;                    // what it shows, in words ("check mark")
  std::vector<std::string> pixels;     // rows of equal length; ' ' is transparent
  std::map<char, uint32_t> palette;    // pixel character -> 0xAARRGGBB
  std::vector<std::string> glyph;      // text rendering, rows of equal width
  int consoleColor = 0;                // ANSI foreground colour for the glyph (0: default)
};

using HICON = const IconImage*;  // null: no icon

// Registering an id again replaces the earlier image for later loads.
void RegisterIcon(const IconImage& image);
// The icon registered under the resource id, or null.
HICON LoadIcon(int resourceId);

}  // namespace toolkit
