// k4v-dialogs driven as a person or a script would: line by line through
// pipes, and full screen on a pseudo-terminal with keys.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int TIMEOUT_MS = 60000;

struct Child {
  pid_t pid = -1;
  int input = -1;   // what we write to the program
  int output = -1;  // what the program writes
};

void Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = K4V_DIALOGS_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

Child SpawnWithPipes(const std::vector<std::string>& args) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return {};
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    Exec(args);
  }
  close(in[0]);
  close(out[1]);
  c.input = in[1];
  c.output = out[0];
  return c;
}

Child SpawnOnTerminal(const std::vector<std::string>& args) {
  int master = -1, terminal = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  if (openpty(&master, &terminal, nullptr, nullptr, &size) != 0) return {};
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    close(master);
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
    dup2(terminal, 0);
    dup2(terminal, 1);
    dup2(terminal, 2);
    if (terminal > 2) close(terminal);
    Exec(args);
  }
  close(terminal);
  c.input = master;
  c.output = master;
  return c;
}

// Reads until the text appears after `from` or the time is up; returns its
// position or npos.
size_t ReadUntil(int fd, std::string& all, const std::string& text, size_t from = 0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TIMEOUT_MS);
  for (;;) {
    const size_t at = all.find(text, from);
    if (at != std::string::npos) return at;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::string::npos;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return all.find(text, from);  // the program has ended
    all.append(buffer, static_cast<size_t>(n));
  }
}

int Finish(Child& c) {
  if (c.input >= 0 && c.input != c.output) close(c.input);
  int status = 0;
  waitpid(c.pid, &status, 0);
  if (c.output >= 0) close(c.output);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Send(int fd, const std::string& text) { ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

// Runs the program in line mode on the whole input and returns its output.
std::string RunLines(const std::vector<std::string>& args, const std::string& input, int& exitCode) {
  Child c = SpawnWithPipes(args);
  EXPECT_GT(c.pid, 0);
  Send(c.input, input);
  close(c.input);
  c.input = -1;
  std::string out;
  ReadUntil(c.output, out, "\x01never\x01");
  exitCode = Finish(c);
  return out;
}

}  // namespace

TEST(DialogsProgramLines, TheAgreementIsAcceptedAndRefused) {
  int exitCode = -1;
  const std::string out = RunLines({"eula", "eula", "eula"}, "I Accept\n\n2\n", exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(out.find("== End User License Agreement (dialog 130) ==\n"), 0u) << out;
  EXPECT_NE(out.find("   | 1. Licence."), std::string::npos) << out;
  EXPECT_NE(out.find("   [1] Cancel (default)\n   [2] I Accept\n"), std::string::npos) << out;
  const size_t first = out.find("eula: 1\n");
  const size_t second = out.find("eula: 2\n", first);
  const size_t third = out.find("eula: 1\n", second);
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_NE(second, std::string::npos) << out;
  EXPECT_NE(third, std::string::npos) << out;
}

TEST(DialogsProgramLines, ASerialNumberIsEnteredAfterOneRefusal) {
  int exitCode = -1;
  const std::string out = RunLines({"serial"}, "=0\n\n=12345678\n", exitCode);
  EXPECT_EQ(exitCode, 0);
  const size_t field = out.find("   field 1003: 0\n");
  const size_t refusal = out.find("   Please enter an integer between 1 and 99999999.\n", field);
  const size_t again = out.find("== Confirm Serial Number (dialog 129, again) ==\n", refusal);
  const size_t result = out.find("serial: 1 12345678\n", again);
  EXPECT_NE(field, std::string::npos) << out;
  EXPECT_NE(refusal, std::string::npos) << out;
  EXPECT_NE(again, std::string::npos) << out;
  EXPECT_NE(result, std::string::npos) << out;
}

TEST(DialogsProgramLines, TheEndOfInputCancelsWhatIsLeft) {
  int exitCode = -1;
  const std::string out = RunLines({"serial", "eula"}, "", exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(out.find("serial: 2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("eula: 2\n"), std::string::npos) << out;
}

TEST(DialogsProgramScreen, IsDrivenByKeysOnATerminal) {
  Child c = SpawnOnTerminal({"eula", "serial"});
  ASSERT_GT(c.pid, 0);
  std::string screen;
  // The agreement, full screen: the focus starts on Cancel; Tab, then Enter.
  ASSERT_NE(ReadUntil(c.output, screen, "[ I Accept ]"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\x1b[?1049h"), std::string::npos);
  EXPECT_NE(screen.find(" End User License Agreement "), std::string::npos);
  Send(c.input, "\t\r");
  size_t at = ReadUntil(c.output, screen, "eula: 1");
  ASSERT_NE(at, std::string::npos) << screen;

  // The serial number: Tab twice to the field, a refused 0, Enter on the
  // message, then the number.
  at = ReadUntil(c.output, screen, " Confirm Serial Number ", at);
  ASSERT_NE(at, std::string::npos) << screen;
  Send(c.input, "\t\t0\r");
  at = ReadUntil(c.output, screen, "Please enter an integer between 1 and", at);
  ASSERT_NE(at, std::string::npos) << screen;
  Send(c.input, "\r12345678\r");
  ASSERT_NE(ReadUntil(c.output, screen, "serial: 1 12345678", at), std::string::npos) << screen;
  EXPECT_EQ(Finish(c), 0);
}

TEST(DialogsProgramScreen, AWorkersSerialNumberRequestIsAnsweredWhileItsWindowKeepsReporting) {
  Child c = SpawnOnTerminal({"worker"});
  ASSERT_GT(c.pid, 0);
  std::string screen;
  // The worker asks half way; its window stays on screen below the dialog.
  size_t at = ReadUntil(c.output, screen, " Confirm Serial Number ");
  ASSERT_NE(at, std::string::npos) << screen;
  EXPECT_NE(screen.find(" Worker demonstration "), std::string::npos);
  Send(c.input, "\t\t55\r");
  // The rest of the progress arrives; Close is enabled once the worker is done.
  at = ReadUntil(c.output, screen, "Finished", at);
  ASSERT_NE(at, std::string::npos) << screen;
  EXPECT_NE(screen.find("100%", at - std::min<size_t>(at, 4000)), std::string::npos);
  Send(c.input, "\r");
  ASSERT_NE(ReadUntil(c.output, screen, "worker: serial 55", at), std::string::npos) << screen;
  EXPECT_EQ(Finish(c), 0);
}
