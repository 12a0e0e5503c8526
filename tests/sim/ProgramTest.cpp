// The solstrand-virtual-unit program: options, serving through a link until
// SIGTERM, and the state it leaves for its next run.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/StateFile.h"
#include "tests/sim/FarEnd.h"
#include "tests/support/PtyPeer.h"

namespace simtest {
namespace {

struct ProgramRun {
  pid_t pid = -1;
  FILE* out = nullptr;
};

ProgramRun Launch(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv{const_cast<char*>(VIRTUAL_UNIT_PROGRAM)};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VIRTUAL_UNIT_PROGRAM, argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  return {pid, fdopen(pipeFds[0], "r")};
}

int Finish(ProgramRun& run, int signal) {
  if (signal) kill(run.pid, signal);
  int status = 0;
  waitpid(run.pid, &status, 0);
  fclose(run.out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(FILE* f) {
  std::string text;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Program, HelpDocumentsTheOptions) {
  ProgramRun run = Launch({"--help"});
  const std::string help = ReadAll(run.out);
  EXPECT_EQ(Finish(run, 0), 0);
  for (const char* option : {"--profile", "--list-profiles", "--link", "--state", "--pace", "--turnaround-us",
                             "--transcript", "--counters", "--fault", "power-loss-after", "hangup-after"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(Program, RefusesBadOptions) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--profile", "k5"}, {"--fault", "rx-loss=2"}, {"--bogus"}}) {
    ProgramRun run = Launch(args);
    EXPECT_EQ(Finish(run, 0), 2) << args[0];
  }
}

// The first run leaves the unit in its boot loader; the second run, started
// with another profile but the same state file, meets it there.
TEST(Program, ServesThroughItsLinkAndKeepsTheStateForTheNextRun) {
  k4vtest::TempDir dir;
  const std::string link = dir.Path() + "/com3", state = dir.Path() + "/unit.state",
                    counters = dir.Path() + "/counters.txt", transcript = dir.Path() + "/transcript.txt";
  {
    ProgramRun run = Launch({"--profile", "k4v", "--link", link, "--state", state, "--counters", counters, "--transcript",
                      transcript});
    char line[256] = {};
    ASSERT_TRUE(fgets(line, sizeof line, run.out));
    EXPECT_EQ(std::string(line).rfind("/dev/pts/", 0), 0u) << line;
    {
      FarEnd far(link);
      far.SetLine(19200);
      far.Send("Z31862.4\n");
      EXPECT_EQ(far.ReadUntilQuiet(), "\n");
      far.Send("Z\n");
      far.Send("S");
      EXPECT_EQ(far.ReadUntilQuiet(), "SOLSTRAND K4v2 ISP");
    }
    EXPECT_EQ(Finish(run, SIGTERM), 0);
  }
  EXPECT_NE(FileText(counters).find("rx-bytes 12\n"), std::string::npos) << FileText(counters);
  EXPECT_NE(FileText(transcript).find("program started: boot-loader"), std::string::npos);
  const auto saved = sim::LoadStateFile(state, nullptr);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->main.program, sim::Program::BootLoader);

  ProgramRun again = Launch({"--profile", "k4v-video-loader", "--link", link, "--state", state});
  char line[256] = {};
  ASSERT_TRUE(fgets(line, sizeof line, again.out));
  {
    FarEnd far(link);
    far.SetLine(19200);
    far.Send("?\n");
    EXPECT_EQ(far.ReadUntilQuiet(), "??");
  }
  EXPECT_EQ(Finish(again, SIGINT), 0);
}

}  // namespace
}  // namespace simtest
