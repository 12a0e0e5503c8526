// Window styles, command ids and message numbers of the dialog toolkit.
//
// The values are the desktop platform's own, so that a native backend can
// hand templates to the system unchanged and the other backends read the
// same bits.
#pragma once

#include <cstdint>

namespace toolkit {

// Window styles.
inline constexpr uint32_t WS_POPUP = 0x80000000u;
inline constexpr uint32_t WS_CHILD = 0x40000000u;
inline constexpr uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr uint32_t WS_DISABLED = 0x08000000u;
inline constexpr uint32_t WS_CAPTION = 0x00C00000u;
inline constexpr uint32_t WS_BORDER = 0x00800000u;
inline constexpr uint32_t WS_VSCROLL = 0x00200000u;
inline constexpr uint32_t WS_HSCROLL = 0x00100000u;
inline constexpr uint32_t WS_SYSMENU = 0x00080000u;
inline constexpr uint32_t WS_GROUP = 0x00020000u;
inline constexpr uint32_t WS_TABSTOP = 0x00010000u;
inline constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u;

// Dialog styles.
inline constexpr uint32_t DS_SETFONT = 0x40u;
inline constexpr uint32_t DS_MODALFRAME = 0x80u;

// Push button styles.
inline constexpr uint32_t BS_PUSHBUTTON = 0x0u;
inline constexpr uint32_t BS_DEFPUSHBUTTON = 0x1u;

// Edit styles.
inline constexpr uint32_t ES_LEFT = 0x0u;
inline constexpr uint32_t ES_MULTILINE = 0x4u;
inline constexpr uint32_t ES_AUTOVSCROLL = 0x40u;
inline constexpr uint32_t ES_AUTOHSCROLL = 0x80u;
inline constexpr uint32_t ES_READONLY = 0x800u;

// Static styles.
inline constexpr uint32_t SS_LEFT = 0x0u;
inline constexpr uint32_t SS_ICON = 0x3u;

// Progress bar style bit for a smooth bar (unused by the default bar).
inline constexpr uint32_t PBS_SMOOTH = 0x1u;

// Command ids of the standard buttons and the results of a modal run.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;

// Message box types: buttons in the low four bits, icon in the next four.
inline constexpr uint32_t MB_OK = 0x0u;
inline constexpr uint32_t MB_ICONERROR = 0x10u;
inline constexpr uint32_t MB_ICONQUESTION = 0x20u;
inline constexpr uint32_t MB_ICONWARNING = 0x30u;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40u;

// Show commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// Window messages that the toolkit's windows understand besides the progress
// bar's PBM_SETRANGE32 and PBM_SETPOS (platform/Threads.h).
inline constexpr uint32_t WM_ENABLE = 0x000A;
inline constexpr uint32_t WM_SHOWWINDOW = 0x0018;  // wParam: the show command
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_COMMAND = 0x0111;     // wParam: the command id
inline constexpr uint32_t PBM_GETPOS = 0x0400 + 8;

}  // namespace toolkit
