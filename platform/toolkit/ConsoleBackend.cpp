#include "platform/toolkit/ConsoleBackend.h"

#include "platform/toolkit/Dialog.h"
#include "platform/toolkit/MessageBox.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace toolkit {

namespace {

std::string Lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

// A label as it reads: without the '&' that marks a mnemonic.
std::string Label(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
    out += text[i];
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char ch : text) {
    if (ch == '\n') {
      lines.push_back(current);
      current.clear();
    } else if (ch != '\r') {
      current += ch == '\t' ? ' ' : ch;
    }
  }
  if (!current.empty() || lines.empty()) lines.push_back(current);
  return lines;
}

int Percent(const ControlState& c) {
  const int64_t span = static_cast<int64_t>(c.rangeUpper) - c.rangeLower;
  if (span <= 0) return 0;
  return static_cast<int>((static_cast<int64_t>(c.pos) - c.rangeLower) * 100 / span);
}

std::string DialogName(const CDialog& dlg) {
  return dlg.IsMessageBox() ? "message" : "dialog " + std::to_string(dlg.TemplateId());
}

// --- the screen grid -------------------------------------------------------------

enum : uint8_t { A_BOLD = 1, A_REVERSE = 2, A_DIM = 4, A_UNDERLINE = 8 };

struct Cell {
  char ch = ' ';
  uint8_t attr = 0;
  uint8_t color = 0;
};

struct Grid {
  int cols, rows;
  std::vector<Cell> cells;
  Grid(int c, int r) : cols(c), rows(r), cells(static_cast<size_t>(c * r)) {}
  void Put(int x, int y, char ch, uint8_t attr = 0, uint8_t color = 0) {
    if (x < 0 || y < 0 || x >= cols || y >= rows) return;
    cells[static_cast<size_t>(y * cols + x)] = Cell{ch, attr, color};
  }
  void Text(int x, int y, const std::string& s, int maxWidth, uint8_t attr = 0, uint8_t color = 0) {
    for (int i = 0; i < static_cast<int>(s.size()) && i < maxWidth; ++i) Put(x + i, y, s[static_cast<size_t>(i)], attr, color);
  }
  std::string Render() const {
    std::string out = "\x1b[H";
    uint8_t attr = 0, color = 0;
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < cols; ++x) {
        const Cell& c = cells[static_cast<size_t>(y * cols + x)];
        if (c.attr != attr || c.color != color) {
          out += "\x1b[0";
          if (c.attr & A_BOLD) out += ";1";
          if (c.attr & A_DIM) out += ";2";
          if (c.attr & A_UNDERLINE) out += ";4";
          if (c.attr & A_REVERSE) out += ";7";
          if (c.color) out += ";" + std::to_string(c.color);
          out += "m";
          attr = c.attr;
          color = c.color;
        }
        out += c.ch;
      }
      if (y + 1 < rows) out += "\r\n";
    }
    out += "\x1b[0m";
    return out;
  }
};

}  // namespace

std::vector<std::string> WrapText(const std::string& text, size_t width) {
  std::vector<std::string> out;
  if (width == 0) return out;
  for (const std::string& paragraph : SplitLines(text)) {
    std::string line;
    size_t i = 0;
    if (paragraph.empty()) {
      out.push_back("");
      continue;
    }
    while (i < paragraph.size()) {
      size_t wordEnd = paragraph.find(' ', i);
      if (wordEnd == std::string::npos) wordEnd = paragraph.size();
      std::string word = paragraph.substr(i, wordEnd - i);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (candidate.size() <= width) {
        line = candidate;
      } else {
        if (!line.empty()) out.push_back(line);
        while (word.size() > width) {
          out.push_back(word.substr(0, width));
          word.erase(0, width);
        }
        line = word;
      }
      i = wordEnd + 1;
    }
    out.push_back(line);
  }
  return out;
}

CConsoleBackend::CConsoleBackend(int inFd, int outFd, Mode mode) : m_in(inFd), m_out(outFd) {
  if (mode == Mode::Auto)
    m_fullScreen = isatty(inFd) && isatty(outFd);
  else
    m_fullScreen = mode == Mode::FullScreen;
}

CConsoleBackend::~CConsoleBackend() { LeaveScreen(); }

void CConsoleBackend::Write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(m_out, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the output is gone; the dialogs still work
    done += static_cast<size_t>(n);
  }
}

bool CConsoleBackend::ReadInput() {
  char buffer[512];
  ssize_t n;
  do {
    n = read(m_in, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n <= 0) {
    m_eof = true;
    return false;
  }
  if (m_fullScreen) {
    // Keys are used as they come; keep the backlog bounded.
    m_input.append(buffer, static_cast<size_t>(n));
    if (m_input.size() > MAX_LINE) m_input.erase(0, m_input.size() - MAX_LINE);
    return true;
  }
  for (ssize_t i = 0; i < n; ++i) {
    const char ch = buffer[i];
    if (ch == '\n') {
      m_input += ch;
      m_lineLength = 0;
    } else if (m_lineLength < MAX_LINE) {
      m_input += ch;
      ++m_lineLength;
    }  // else: the rest of an overlong line is dropped
  }
  return true;
}

// The input has ended: nobody can answer any more. Each dialog that waits is
// closed with its close box. One that refuses to close (the main dialog while
// an installation runs) is tried again once the state of one of its controls
// has changed (a button enabled or disabled); until then the loop only
// dispatches the thread's messages.
void CConsoleBackend::EndOfInput(CDialog& modal, int queueWakeFd) {
  if (m_refusedClose == &modal && !m_refusedChanged) {
    pollfd p{queueWakeFd, POLLIN, 0};
    poll(&p, 1, -1);
    return;
  }
  if (!m_fullScreen) Write("-- end of input: closing \"" + modal.GetWindowText() + "\"\n");
  m_acting = &modal;
  modal.PressCloseBox();
  m_acting = nullptr;
  m_refusedClose = modal.HasEnded() ? nullptr : &modal;
  m_refusedChanged = false;
}

void CConsoleBackend::DialogOpened(CDialog& dlg) {
  if (m_fullScreen) {
    EnterScreen();
    m_active = nullptr;
    m_dirty = true;
    return;
  }
  m_reprint = nullptr;
  m_captions[&dlg] = dlg.GetWindowText();
  PrintDialog(dlg, false);
}

void CConsoleBackend::DialogClosed(CDialog& dlg, intptr_t result) {
  for (auto it = m_lastPercent.begin(); it != m_lastPercent.end();)
    it = it->first.first == &dlg ? m_lastPercent.erase(it) : std::next(it);
  for (auto it = m_scroll.begin(); it != m_scroll.end();)
    it = it->first.first == &dlg ? m_scroll.erase(it) : std::next(it);
  m_captions.erase(&dlg);
  if (m_active == &dlg) m_active = nullptr;
  if (m_refusedClose == &dlg) m_refusedClose = nullptr;
  if (m_reprint == &dlg) m_reprint = nullptr;

  // The dialog that is shown next, if any.
  CDialog* below = nullptr;
  for (auto it = OpenDialogs().rbegin(); it != OpenDialogs().rend(); ++it) {
    if (*it != &dlg && (*it)->IsShown()) {
      below = *it;
      break;
    }
  }
  if (m_fullScreen) {
    if (!below)
      LeaveScreen();
    else
      m_dirty = true;
    return;
  }
  std::string how = std::to_string(result);
  if (const ControlState* c = dlg.Item(static_cast<int>(result)); c && c->IsPushButton())
    how += " (" + Label(c->text) + ")";
  Write("-- " + DialogName(dlg) + " closed: " + how + "\n");
  m_reprint = below;
}

void CConsoleBackend::DialogChanged(CDialog& dlg, int controlId, Change what) {
  if (&dlg == m_refusedClose && what == Change::State) m_refusedChanged = true;
  if (m_fullScreen) {
    m_dirty = true;
    return;
  }
  if (&dlg == m_acting) return;  // the user's own input needs no echo
  if (what == Change::Dialog) {
    // Only a new caption is news; the enabled state follows from the
    // dialogs opening and closing.
    std::string& shown = m_captions[&dlg];
    if (shown != dlg.GetWindowText()) {
      shown = dlg.GetWindowText();
      Write("   caption: " + shown + "\n");
    }
    return;
  }
  const ControlState* c = dlg.Item(controlId);
  if (!c) return;
  switch (what) {
    case Change::Text:
      if (c->tmpl.kind == ControlKind::StaticText) {
        Write("   status: " + c->text + "\n");
      } else if (c->tmpl.kind == ControlKind::Edit && c->visible) {
        if (c->tmpl.style & ES_MULTILINE) {
          for (const std::string& line : SplitLines(c->text)) Write("   | " + line + "\n");
        } else {
          Write("   field " + std::to_string(c->tmpl.id) + ": " + c->text + "\n");
        }
      }
      break;
    case Change::Progress: {
      if (c->tmpl.kind != ControlKind::ProgressBar || !c->visible) break;
      const int percent = Percent(*c);
      auto key = std::make_pair(static_cast<const CDialog*>(&dlg), controlId);
      auto it = m_lastPercent.find(key);
      if (it != m_lastPercent.end() && it->second == percent) break;
      m_lastPercent[key] = percent;
      Write("   progress: " + std::to_string(percent) + "%\n");
      break;
    }
    case Change::State:
      if (c->tmpl.kind == ControlKind::ProgressBar) {
        Write(std::string("   progress: ") + (c->visible ? "shown" : "hidden") + "\n");
        if (!c->visible) m_lastPercent.erase(std::make_pair(static_cast<const CDialog*>(&dlg), controlId));
      } else if (c->IsPushButton()) {
        const auto buttons = Buttons(dlg);
        const auto it = std::find(buttons.begin(), buttons.end(), c);
        const std::string number = it == buttons.end() ? "-" : std::to_string(it - buttons.begin() + 1);
        Write("   button [" + number + "] " + Label(c->text) + ": " +
              (!c->visible ? "hidden" : c->enabled ? "enabled" : "disabled") + "\n");
      } else if (c->tmpl.kind == ControlKind::StaticIcon && c->visible && c->icon) {
        Write("   (" + c->icon->name + ")\n");
      }
      break;
    case Change::Icon:
      if (c->visible && c->icon) Write("   (" + c->icon->name + ")\n");
      break;
    default:
      break;
  }
}

void CConsoleBackend::WaitForInput(CDialog& modal, int queueWakeFd) {
  if (m_fullScreen) {
    if (m_dirty) Redraw();
    if (KeyReady(queueWakeFd)) {
      HandleKey(modal);
      m_dirty = true;
      return;
    }
    if (m_eof) {
      EndOfInput(modal, queueWakeFd);
      m_dirty = true;
      return;
    }
  } else {
    if (m_reprint == &modal) {
      m_reprint = nullptr;
      PrintDialog(modal, true);
    }
    const size_t newline = m_input.find('\n');
    if (newline != std::string::npos || (m_eof && !m_input.empty())) {
      // The line leaves the buffer before it acts: acting may open a nested
      // dialog that reads the following lines.
      const size_t length = newline == std::string::npos ? m_input.size() : newline;
      const std::string line = m_input.substr(0, length);
      m_input.erase(0, newline == std::string::npos ? m_input.size() : newline + 1);
      HandleLine(modal, line);
      return;
    }
    if (m_eof) {
      EndOfInput(modal, queueWakeFd);
      return;
    }
  }
  pollfd fds[2] = {{m_in, POLLIN, 0}, {queueWakeFd, POLLIN, 0}};
  const int n = poll(fds, 2, -1);
  if (n <= 0) return;  // interrupted: the loop comes back
  if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadInput();
  if (fds[0].revents & POLLNVAL) m_eof = true;
}

// --- line mode -----------------------------------------------------------------------

std::vector<const ControlState*> CConsoleBackend::Buttons(const CDialog& dlg) const {
  std::vector<const ControlState*> out;
  for (const ControlState& c : dlg.Items())
    if (c.IsPushButton() && c.visible) out.push_back(&c);
  return out;
}

void CConsoleBackend::PrintDialog(CDialog& dlg, bool again) {
  std::string out = "== " + dlg.GetWindowText() + " (" + DialogName(dlg) + (again ? ", again" : "") + ") ==\n";
  const int def = dlg.GetDefaultId();
  int number = 0;
  for (const ControlState& c : dlg.Items()) {
    if (!c.visible) continue;
    switch (c.tmpl.kind) {
      case ControlKind::StaticText:
        if (!c.text.empty())
          for (const std::string& line : SplitLines(c.text)) out += "   " + line + "\n";
        break;
      case ControlKind::StaticIcon:
        if (c.icon) out += "   (" + c.icon->name + ")\n";
        break;
      case ControlKind::Edit:
        if (c.tmpl.style & ES_READONLY) {
          if (!c.text.empty())
            for (const std::string& line : SplitLines(c.text)) out += "   | " + line + "\n";
        } else {
          out += "   field " + std::to_string(c.tmpl.id) + ": " + c.text + (c.enabled ? "" : " (disabled)") + "\n";
        }
        break;
      case ControlKind::ProgressBar:
        out += "   progress: " + std::to_string(Percent(c)) + "%\n";
        m_lastPercent[std::make_pair(static_cast<const CDialog*>(&dlg), c.tmpl.id)] = Percent(c);
        break;
      case ControlKind::PushButton:
        break;
    }
  }
  for (const ControlState* b : Buttons(dlg)) {
    ++number;
    out += "   [" + std::to_string(number) + "] " + Label(b->text);
    if (b->tmpl.id == def) out += " (default)";
    if (!b->enabled) out += " (disabled)";
    out += "\n";
  }
  Write(out);
}

void CConsoleBackend::HandleLine(CDialog& modal, const std::string& rawLine) {
  std::string line = rawLine;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  CDialog* target = &modal;

  // "@ID choice" answers another open dialog that accepts input.
  if (!line.empty() && line[0] == '@') {
    size_t i = 1;
    int id = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && id < 1000000)
      id = id * 10 + (line[i++] - '0');
    target = nullptr;
    for (auto it = OpenDialogs().rbegin(); it != OpenDialogs().rend(); ++it)
      if ((*it)->TemplateId() == id && (*it)->IsShown() && (*it)->IsWindowEnabled()) {
        target = *it;
        break;
      }
    if (!target) {
      Write("   ? no open dialog " + std::to_string(id) + " takes input now\n");
      return;
    }
    line = line.substr(i < line.size() && line[i] == ' ' ? i + 1 : i);
  }

  const std::string choice = Trim(line);
  const std::string lower = Lower(choice);
  m_acting = target;
  const auto done = [this] { m_acting = nullptr; };

  if (!choice.empty() && choice[0] == '=') {
    const ControlState* field = target->Item(target->GetFocusId());
    if (!field || !field->IsEditable()) {
      field = nullptr;
      for (const ControlState& c : target->Items())
        if (c.IsEditable()) {
          field = &c;
          break;
        }
    }
    if (!field) {
      done();
      Write("   ? this dialog has no field to fill\n");
      return;
    }
    const size_t eq = line.find('=');
    target->TypeText(field->tmpl.id, line.substr(eq + 1));
    target->PressEnter();
    done();
    return;
  }
  if (choice.empty()) {
    target->PressEnter();
    done();
    return;
  }
  if (lower == "esc" || lower == "escape") {
    target->PressEscape();
    done();
    return;
  }
  if (lower == "close") {
    target->PressCloseBox();
    done();
    return;
  }
  const auto buttons = Buttons(*target);
  const ControlState* button = nullptr;
  if (std::all_of(choice.begin(), choice.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); })) {
    const size_t n = choice.size() <= 3 ? std::stoul(choice) : 0;
    if (n >= 1 && n <= buttons.size()) button = buttons[n - 1];
  } else {
    for (const ControlState* b : buttons)
      if (Lower(Label(b->text)) == lower) button = b;
  }
  if (!button) {
    done();
    Write("   ? unknown choice \"" + choice +
          "\": answer with a button's number or label, Enter for the default, =TEXT for the field, esc or close\n");
    return;
  }
  const int id = button->tmpl.id;
  const std::string label = Label(button->text);
  if (!target->ClickButton(id)) Write("   ? " + label + " is disabled\n");
  done();
}

// --- full screen ---------------------------------------------------------------------

void CConsoleBackend::EnterScreen() {
  if (m_screenOn) return;
  if (tcgetattr(m_in, &m_savedTermios) == 0) {
    termios raw = m_savedTermios;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | BRKINT | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(m_in, TCSANOW, &raw);
  }
  m_screenOn = true;
  Write("\x1b[?1049h\x1b[?25l\x1b[2J");
}

void CConsoleBackend::LeaveScreen() {
  if (!m_screenOn) return;
  m_screenOn = false;
  Write("\x1b[0m\x1b[?25h\x1b[?1049l");
  tcsetattr(m_in, TCSANOW, &m_savedTermios);
}

CDialog* CConsoleBackend::ActiveDialog(CDialog& modal) {
  for (CDialog* d : OpenDialogs())
    if (d == m_active && d->IsShown() && d->IsWindowEnabled()) return d;
  m_active = &modal;
  return &modal;
}

void CConsoleBackend::Redraw() {
  m_dirty = false;
  if (!m_screenOn) return;
  winsize ws{};
  int cols = 80, rows = 24;
  if (ioctl(m_out, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    cols = ws.ws_col;
    rows = ws.ws_row;
  }
  Grid g(cols, rows);
  const CDialog* active = m_active;
  int cursorX = -1, cursorY = -1;

  for (CDialog* dlg : OpenDialogs()) {
    if (!dlg->IsShown()) continue;
    const DialogTemplate& t = dlg->Template();
    // Four dialog units a column, eight a row; shrink to fit the terminal.
    const int innerCols = std::max(1, (t.cx + 3) / 4);
    const int innerRows = std::max(1, (t.cy + 7) / 8);
    const double sx = std::min(1.0, static_cast<double>(cols - 2) / innerCols);
    const double sy = std::min(1.0, static_cast<double>(rows - 3) / innerRows);
    const int w = static_cast<int>(innerCols * sx) + 2;
    const int h = static_cast<int>(innerRows * sy) + 2;
    const int left = std::max(0, (cols - w) / 2);
    const int top = std::max(0, (rows - 1 - h) / 2);
    const bool isActive = dlg == active;
    const uint8_t frame = dlg->IsWindowEnabled() ? 0 : A_DIM;

    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool edgeY = y == 0 || y == h - 1, edgeX = x == 0 || x == w - 1;
        g.Put(left + x, top + y, edgeY && edgeX ? '+' : edgeY ? '-' : edgeX ? '|' : ' ', frame);
      }
    const std::string title = " " + dlg->GetWindowText() + " ";
    g.Text(left + 2, top, title, w - 8, isActive ? static_cast<uint8_t>(A_REVERSE) : frame);
    g.Text(left + w - 5, top, "[x]", 3, frame);

    for (const ControlState& c : dlg->Items()) {
      if (!c.visible) continue;
      const int x = left + 1 + static_cast<int>(c.tmpl.x / 4.0 * sx);
      const int y = top + 1 + static_cast<int>(c.tmpl.y / 8.0 * sy);
      const int cw = std::max(1, std::min(static_cast<int>(c.tmpl.cx / 4.0 * sx), left + w - 1 - x));
      const int ch = std::max(1, std::min(static_cast<int>(c.tmpl.cy / 8.0 * sy), top + h - 1 - y));
      const bool focused = isActive && dlg->GetFocusId() == c.tmpl.id && c.tmpl.id != IDC_STATIC;
      const uint8_t dim = c.enabled && dlg->IsWindowEnabled() ? 0 : A_DIM;
      switch (c.tmpl.kind) {
        case ControlKind::PushButton: {
          std::string label = "[ " + Label(c.text) + " ]";
          if (static_cast<int>(label.size()) > cw) label = "[" + Label(c.text).substr(0, static_cast<size_t>(std::max(0, cw - 2))) + "]";
          const int bx = x + std::max(0, (cw - static_cast<int>(label.size())) / 2);
          uint8_t attr = dim;
          if ((c.tmpl.style & 0xF) == BS_DEFPUSHBUTTON) attr |= A_BOLD;
          if (focused) attr |= A_REVERSE;
          g.Text(bx, y, label, cw, attr);
          break;
        }
        case ControlKind::Edit: {
          if (c.tmpl.style & ES_MULTILINE) {
            const bool scroll = (c.tmpl.style & WS_VSCROLL) != 0;
            const int textWidth = std::max(1, scroll ? cw - 1 : cw);
            const auto lines = WrapText(c.text, static_cast<size_t>(textWidth));
            const int count = static_cast<int>(lines.size());
            int& first = m_scroll[std::make_pair(static_cast<const CDialog*>(dlg), c.tmpl.id)];
            first = std::clamp(first, 0, std::max(0, count - ch));
            for (int row = 0; row < ch && first + row < count; ++row)
              g.Text(x, y + row, lines[static_cast<size_t>(first + row)], textWidth, dim);
            if (scroll) {
              const uint8_t barAttr = focused ? static_cast<uint8_t>(A_REVERSE) : dim;
              for (int row = 0; row < ch; ++row) g.Put(x + cw - 1, y + row, '|', barAttr);
              if (count > ch) {
                const int thumb = (ch <= 2) ? 0 : 1 + (ch - 3) * first / std::max(1, count - ch);
                g.Put(x + cw - 1, y, '^', barAttr);
                g.Put(x + cw - 1, y + ch - 1, 'v', barAttr);
                if (ch > 2) g.Put(x + cw - 1, y + thumb, '#', barAttr);
              }
            }
          } else {
            for (int i = 0; i < cw; ++i) g.Put(x + i, y, ' ', A_UNDERLINE | dim);
            std::string shown = c.text;
            if (static_cast<int>(shown.size()) > cw - 1) shown = shown.substr(shown.size() - static_cast<size_t>(cw - 1));
            g.Text(x, y, shown, cw, A_UNDERLINE | dim | (focused && c.selectAll ? A_REVERSE : 0));
            if (focused) {
              cursorX = x + static_cast<int>(shown.size());
              cursorY = y;
            }
          }
          break;
        }
        case ControlKind::StaticText: {
          const auto lines = WrapText(c.text, static_cast<size_t>(cw));
          for (int row = 0; row < ch && row < static_cast<int>(lines.size()); ++row)
            g.Text(x, y + row, lines[static_cast<size_t>(row)], cw, dim);
          break;
        }
        case ControlKind::StaticIcon:
          if (c.icon)
            for (int row = 0; row < static_cast<int>(c.icon->glyph.size()); ++row)
              g.Text(x, y + row, c.icon->glyph[static_cast<size_t>(row)], cw, A_BOLD,
                     static_cast<uint8_t>(c.icon->consoleColor));
          break;
        case ControlKind::ProgressBar: {
          const int percent = Percent(c);
          const std::string figure = " " + std::to_string(percent) + "%";
          const int inner = std::max(1, cw - 2 - static_cast<int>(figure.size()));
          const int filled = inner * percent / 100;
          std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(inner - filled), '.') + "]" + figure;
          g.Text(x, y, bar, cw, dim);
          break;
        }
      }
    }
  }
  g.Text(0, rows - 1, "Tab:next Enter:press Esc:cancel Ctrl-C:close Ctrl-O:switch window PgUp/PgDn:scroll",
         cols, A_DIM);
  std::string out = g.Render();
  if (cursorX >= 0)
    out += "\x1b[" + std::to_string(cursorY + 1) + ";" + std::to_string(cursorX + 1) + "H\x1b[?25h";
  else
    out += "\x1b[?25l";
  Write(out);
}

// True when a whole key is waiting. A lone Escape byte may be the start of a
// key sequence: it counts as the Escape key when nothing follows within a
// moment.
bool CConsoleBackend::KeyReady(int queueWakeFd) {
  (void)queueWakeFd;
  if (m_input.empty()) return false;
  if (m_input.size() == 1 && m_input[0] == '\x1b' && !m_eof) {
    pollfd p{m_in, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) ReadInput();
  }
  return true;
}

void CConsoleBackend::HandleKey(CDialog& modal) {
  CDialog* dlg = ActiveDialog(modal);
  // Take one key off the input before acting on it.
  std::string key(1, m_input[0]);
  if (m_input[0] == '\x1b' && m_input.size() > 1 && (m_input[1] == '[' || m_input[1] == 'O')) {
    size_t end = 2;
    while (end < m_input.size() && end < 16 && !(m_input[end] >= 0x40 && m_input[end] <= 0x7E)) ++end;
    key = m_input.substr(0, std::min(end + 1, m_input.size()));
  }
  m_input.erase(0, key.size());

  ControlState* focus = dlg->Item(dlg->GetFocusId());
  const bool inField = focus && focus->IsEditable() && (focus->tmpl.style & ES_MULTILINE) == 0;
  const bool inText = focus && focus->tmpl.kind == ControlKind::Edit && (focus->tmpl.style & ES_MULTILINE);
  const bool onButton = focus && focus->IsPushButton();
  auto scroll = [&](int delta) {
    int& first = m_scroll[std::make_pair(static_cast<const CDialog*>(dlg), focus->tmpl.id)];
    first = std::max(0, first + delta);  // the drawing clamps the far end
  };

  if (key == "\t") return dlg->FocusNext(false);
  if (key == "\x1b[Z") return dlg->FocusNext(true);
  if (key == "\r" || key == "\n") return dlg->PressEnter();
  if (key == "\x1b") return dlg->PressEscape();
  if (key == "\x03") return dlg->PressCloseBox();
  if (key == "\x0c") {
    Write("\x1b[2J");
    return;
  }
  if (key == "\x0f" || key == "\x1b[17~") {
    // The next open dialog, from the top down, that takes input.
    std::vector<CDialog*> usable;
    for (auto it = OpenDialogs().rbegin(); it != OpenDialogs().rend(); ++it)
      if ((*it)->IsShown() && (*it)->IsWindowEnabled()) usable.push_back(*it);
    auto it = std::find(usable.begin(), usable.end(), dlg);
    if (!usable.empty()) m_active = (it == usable.end() || it + 1 == usable.end()) ? usable.front() : *(it + 1);
    return;
  }
  if (inText) {
    if (key == "\x1b[A") return scroll(-1);
    if (key == "\x1b[B") return scroll(1);
    if (key == "\x1b[5~") return scroll(-10);
    if (key == "\x1b[6~") return scroll(10);
    if (key == "\x1b[H" || key == "\x1b[1~") return scroll(-1000000);
    if (key == "\x1b[F" || key == "\x1b[4~") return scroll(1000000);
  }
  if (onButton) {
    if (key == " ") {
      dlg->ClickButton(focus->tmpl.id);
      return;
    }
    if (key == "\x1b[C" || key == "\x1b[B") return dlg->FocusNext(false);
    if (key == "\x1b[D" || key == "\x1b[A") return dlg->FocusNext(true);
  }
  if (inField) {
    std::string text = focus->selectAll ? std::string() : focus->text;
    if (key == "\x7f" || key == "\x08") {
      if (!text.empty()) text.pop_back();
      dlg->TypeText(focus->tmpl.id, text);
      return;
    }
    if (key.size() == 1 && key[0] >= 0x20 && key[0] < 0x7f && text.size() < 256) {
      dlg->TypeText(focus->tmpl.id, text + key);
      return;
    }
  }
  // Any other key does nothing.
}

}  // namespace toolkit
