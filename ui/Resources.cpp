// The installer's dialog templates and icons, held as data in the program.
#include "ui/Resource.h"

#include "platform/toolkit/Icon.h"
#include "platform/toolkit/Template.h"

#include <mutex>

using namespace toolkit;

namespace {

constexpr uint32_t READ_ONLY_TEXT = ES_MULTILINE | ES_READONLY | WS_VSCROLL;

void RegisterTemplates() {
  DialogTemplate serial = ModalDialogTemplate(IDD_SERIAL_NUMBER_DIALOG, "Confirm Serial Number", 187, 91);
  serial.controls = {
      DefPushButton(IDOK, "OK", 24, 64, 50, 14),
      PushButton(IDCANCEL, "Cancel", 108, 64, 50, 14),
      LText(IDC_STATIC,
            "Please confirm the serial number of your Veltro product from the rear panel lable near the power switch ",
            14, 12, 158, 29),
      EditText(IDC_SERIAL_NUMBER, 40, 41, 78, 14, ES_AUTOHSCROLL),
  };
  RegisterDialogTemplate(serial);

  DialogTemplate eula = ModalDialogTemplate(IDD_EULA_DIALOG, "End User License Agreement", 247, 169);
  eula.controls = {
      DefPushButton(IDCANCEL, "Cancel", 134, 148, 50, 14),
      PushButton(IDOK, "I Accept", 62, 148, 50, 14),
      EditText(IDC_AGREEMENT, 7, 7, 233, 139, READ_ONLY_TEXT),
  };
  RegisterDialogTemplate(eula);

  DialogTemplate results = ModalDialogTemplate(IDD_PASS_FAIL_DIALOG, "Firmware Install Results", 247, 89);
  results.controls = {
      DefPushButton(IDOK, "OK", 62, 68, 50, 14),
      PushButton(IDC_RETRY, "Retry", 134, 68, 50, 14),
      EditText(IDC_DETAILS, 7, 32, 233, 32, READ_ONLY_TEXT),
      LText(IDC_RESULT_MESSAGE, "", 62, 15, 167, 8),
      Icon(IDC_SUCCESS_ICON, IDI_SUCCESS, 38, 11, 20, 20),
      Icon(IDC_FAILURE_ICON, IDI_FAILURE, 38, 11, 20, 20),
  };
  RegisterDialogTemplate(results);
}

void RegisterIcons() {
  IconImage app;
  app.resourceId = IDR_MAINFRAME;
  app.name = "installer";
  app.pixels = {
      "                ",
      " kkkkkkkkkkkkkk ",
      " kbbbbbbbbbbbbk ",
      " kbwwbbbbbbwwbk ",
      " kbwwbbbbbbwwbk ",
      " kbbbbbbbbbbbbk ",
      " kbbbggggggbbbk ",
      " kbbbbbbbbbbbbk ",
      " kkkkkkkkkkkkkk ",
      "      kkkk      ",
      "    kkkkkkkk    ",
      "                ",
  };
  app.palette = {{'k', 0xFF202020u}, {'b', 0xFF1F4E9Eu}, {'w', 0xFFFFFFFFu}, {'g', 0xFF30C040u}};
  app.glyph = {"[K4v]"};
  app.consoleColor = 36;
  RegisterIcon(app);

  IconImage success;
  success.resourceId = IDI_SUCCESS;
  success.name = "check mark";
  success.pixels = {
      "                ",
      "             gg ",
      "            ggg ",
      "           ggg  ",
      "          ggg   ",
      "         ggg    ",
      " gg     ggg     ",
      " ggg   ggg      ",
      "  ggg ggg       ",
      "   ggggg        ",
      "    ggg         ",
      "     g          ",
      "                ",
  };
  success.palette = {{'g', 0xFF10A030u}};
  success.glyph = {"  /", "\\/ "};
  success.consoleColor = 32;
  RegisterIcon(success);

  IconImage failure;
  failure.resourceId = IDI_FAILURE;
  failure.name = "octagon";
  failure.pixels = {
      "     rrrrrr     ",
      "    rrrrrrrr    ",
      "   rrrrrrrrrr   ",
      "  rrrrrrrrrrrr  ",
      " rrrrrrrrrrrrrr ",
      " rrwwwwwwwwwwrr ",
      " rrwwwwwwwwwwrr ",
      " rrrrrrrrrrrrrr ",
      "  rrrrrrrrrrrr  ",
      "   rrrrrrrrrr   ",
      "    rrrrrrrr    ",
      "     rrrrrr     ",
  };
  failure.palette = {{'r', 0xFFD01010u}, {'w', 0xFFFFFFFFu}};
  failure.glyph = {"/--\\", "\\__/"};
  failure.consoleColor = 31;
  RegisterIcon(failure);
}

}  // namespace

void RegisterUiResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterTemplates();
    RegisterIcons();
  });
}

int UiTemplate(int templateId) {
  RegisterUiResources();
  return templateId;
}
