// Dialog templates as data: what a dialog resource holds.
//
// A template names its dialog (id, caption, size in dialog units, font,
// styles) and lists its controls in template order, which is also the tab
// order. Templates are registered by id at start and looked up when a dialog
// is constructed; every backend lays its windows out from the same data.
#pragma once

#include "platform/toolkit/Styles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace toolkit {

enum class ControlKind { PushButton, Edit, StaticText, StaticIcon, ProgressBar };

// Id of a control that is never addressed (a label).
inline constexpr int IDC_STATIC = -1;

struct ControlTemplate {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::StaticText;
  std::string text;    // label or initial text; empty for none
  int iconId = 0;      // static icons: the icon resource shown
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  uint32_t style = 0;  // WS_*, BS_*, ES_*, SS_* bits
  uint32_t exStyle = 0;
};

struct DialogTemplate {
  int id = 0;
  std::string caption;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string fontFace;
  int fontPoints = 0;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  std::vector<ControlTemplate> controls;  // template order = tab order

  const ControlTemplate* Find(int controlId) const;
};

// A dialog template as the program's dialogs have it: a popup with caption,
// system menu and modal frame, in "MS Sans Serif" at 8 points, no controls yet.
DialogTemplate ModalDialogTemplate(int id, const std::string& caption, int cx, int cy);

// Control templates as a resource script writes them: each helper adds the
// style bits that the script adds by default (visible child window; buttons
// and edits are tab stops).
ControlTemplate PushButton(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle = 0);
ControlTemplate DefPushButton(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle = 0);
ControlTemplate EditText(int id, int x, int y, int cx, int cy, uint32_t extraStyle = 0);
ControlTemplate LText(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle = 0);
ControlTemplate Icon(int id, int iconId, int x, int y, int cx, int cy, uint32_t extraStyle = 0);
ControlTemplate ProgressBar(int id, int x, int y, int cx, int cy, uint32_t extraStyle = 0);

// Registry of the program's dialog templates. Registering an id again
// replaces the earlier template.
void RegisterDialogTemplate(const DialogTemplate& tmpl);
// The registered template, or null.
const DialogTemplate* FindDialogTemplate(int id);

// Id under which message boxes are recorded and scripted; message boxes build
// their template at run time and are never registered.
inline constexpr int MESSAGE_BOX_TEMPLATE_ID = 0;

}  // namespace toolkit
