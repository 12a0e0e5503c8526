// The console backend: dialogs in a terminal.
//
// On a terminal (standard input and output both terminals) it draws the open
// dialogs full screen and is driven by the keyboard: Tab and Shift-Tab move
// the focus, Enter presses the focused button or the default one, Escape
// cancels, typing fills the focused field, Ctrl-C is the close box, Ctrl-O
// moves the keyboard to another open dialog that accepts input (a dialog
// without an owner leaves the others usable).
//
// Otherwise it works line by line, so that it can be scripted: it prints what
// each dialog shows and reads one choice a line. The format is described in
// ui/CONSOLE.md.
//
// Either way it waits on the input and on the thread's queue together (one
// poll with the queue's wake-up descriptor); it reads only what poll reported
// readable, so it is never blocked in a read while messages wait.
#pragma once

#include "platform/toolkit/Backend.h"

#include <map>
#include <string>
#include <termios.h>
#include <utility>
#include <vector>

namespace toolkit {

class CDialog;
struct ControlState;

class CConsoleBackend : public IBackend {
 public:
  enum class Mode { Auto, Lines, FullScreen };
  // Auto: full screen when both descriptors are terminals, lines otherwise.
  explicit CConsoleBackend(int inFd = 0, int outFd = 1, Mode mode = Mode::Auto);
  ~CConsoleBackend() override;

  std::string Name() const override { return "console"; }
  bool IsFullScreen() const { return m_fullScreen; }

  void DialogOpened(CDialog& dlg) override;
  void DialogChanged(CDialog& dlg, int controlId, Change what) override;
  void DialogClosed(CDialog& dlg, intptr_t result) override;
  void WaitForInput(CDialog& modal, int queueWakeFd) override;

  // Longest input line or field accepted; longer input is cut off.
  static constexpr size_t MAX_LINE = 4096;

 private:
  // Common
  void Write(const std::string& text);
  // Reads what poll reported readable; false when nothing was read because
  // the input has ended.
  bool ReadInput();
  void EndOfInput(CDialog& modal, int queueWakeFd);

  // Line mode
  void PrintDialog(CDialog& dlg, bool again);
  void HandleLine(CDialog& modal, const std::string& line);
  std::vector<const ControlState*> Buttons(const CDialog& dlg) const;

  // Full screen
  void EnterScreen();
  void LeaveScreen();
  void Redraw();
  bool KeyReady(int queueWakeFd);
  void HandleKey(CDialog& modal);
  CDialog* ActiveDialog(CDialog& modal);

  int m_in;
  int m_out;
  bool m_fullScreen = false;
  std::string m_input;        // bytes read and not yet used
  size_t m_lineLength = 0;    // line mode: bytes of the unfinished last line
  bool m_eof = false;
  const CDialog* m_refusedClose = nullptr;  // refused the close box after the end of input
  bool m_refusedChanged = false;            // ... and has changed state since
  const CDialog* m_reprint = nullptr;    // line mode: show again before the next choice
  const CDialog* m_acting = nullptr;     // the dialog the user's own input is changing
  std::map<std::pair<const CDialog*, int>, int> m_lastPercent;
  std::map<const CDialog*, std::string> m_captions;  // line mode: the caption last printed

  bool m_screenOn = false;
  bool m_dirty = false;
  termios m_savedTermios{};
  CDialog* m_active = nullptr;
  std::map<std::pair<const CDialog*, int>, int> m_scroll;  // multi-line edits: first shown line
};

// Word-wraps text (lines separated by CR LF or LF) to the width.
std::vector<std::string> WrapText(const std::string& text, size_t width);

}  // namespace toolkit
