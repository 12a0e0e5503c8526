#include "platform/toolkit/Template.h"

#include <map>
#include <deque>
#include <mutex>

namespace toolkit {

const ControlTemplate* DialogTemplate::Find(int controlId) const {
  for (const ControlTemplate& c : controls)
    if (c.id == controlId) return &c;
  return nullptr;
}

namespace {

ControlTemplate Make(ControlKind kind, int id, const std::string& text, int x, int y, int cx, int cy,
                     uint32_t style) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.text = text;
  c.x = x;
  c.y = y;
  c.cx = cx;
  c.cy = cy;
  c.style = WS_CHILD | WS_VISIBLE | style;
  return c;
}

struct TemplateRegistry {
  std::mutex mutex;
  // Every template ever registered stays where it is, so that a pointer
  // handed out remains valid after the id has been registered again.
  std::deque<DialogTemplate> store;
  std::map<int, const DialogTemplate*> templates;
};

TemplateRegistry& Templates() {
  static TemplateRegistry* r = new TemplateRegistry;  // lives until the process ends
  return *r;
}

}  // namespace

ControlTemplate PushButton(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle) {
  return Make(ControlKind::PushButton, id, text, x, y, cx, cy, BS_PUSHBUTTON | WS_TABSTOP | extraStyle);
}

ControlTemplate DefPushButton(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle) {
  return Make(ControlKind::PushButton, id, text, x, y, cx, cy, BS_DEFPUSHBUTTON | WS_TABSTOP | extraStyle);
}

ControlTemplate EditText(int id, int x, int y, int cx, int cy, uint32_t extraStyle) {
  return Make(ControlKind::Edit, id, "", x, y, cx, cy, ES_LEFT | WS_BORDER | WS_TABSTOP | extraStyle);
}

ControlTemplate LText(int id, const std::string& text, int x, int y, int cx, int cy, uint32_t extraStyle) {
  return Make(ControlKind::StaticText, id, text, x, y, cx, cy, SS_LEFT | WS_GROUP | extraStyle);
}

ControlTemplate Icon(int id, int iconId, int x, int y, int cx, int cy, uint32_t extraStyle) {
  ControlTemplate c = Make(ControlKind::StaticIcon, id, "", x, y, cx, cy, SS_ICON | extraStyle);
  c.iconId = iconId;
  return c;
}

ControlTemplate ProgressBar(int id, int x, int y, int cx, int cy, uint32_t extraStyle) {
  return Make(ControlKind::ProgressBar, id, "", x, y, cx, cy, extraStyle);
}

DialogTemplate ModalDialogTemplate(int id, const std::string& caption, int cx, int cy) {
  DialogTemplate t;
  t.id = id;
  t.caption = caption;
  t.cx = cx;
  t.cy = cy;
  t.fontFace = "MS Sans Serif";
  t.fontPoints = 8;
  t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  return t;
}

void RegisterDialogTemplate(const DialogTemplate& tmpl) {
  TemplateRegistry& r = Templates();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.store.push_back(tmpl);
  r.templates[tmpl.id] = &r.store.back();
}

const DialogTemplate* FindDialogTemplate(int id) {
  TemplateRegistry& r = Templates();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.templates.find(id);
  return it == r.templates.end() ? nullptr : it->second;
}

}  // namespace toolkit
