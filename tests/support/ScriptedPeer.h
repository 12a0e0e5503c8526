// Test support: a scripted unit on a pseudo-terminal. It answers a script of
// expected writes with given answers and records what it received, with the
// line settings at each write.
#pragma once

#include "tests/support/PtyPeer.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace k4vtest {

struct ScriptStep {
  std::string expect;  // the bytes the installer must write next
  std::string reply;   // written back in one write; empty: silence
  int delayMs = 0;     // pause before the reply
};

struct ReceivedWrite {
  std::string bytes;
  uint32_t baudRate = 0;
  bool eightN2 = false;
};

class ScriptedPeer {
 public:
  ScriptedPeer(PtyPeer& peer, std::vector<ScriptStep> script);
  ~ScriptedPeer();

  // Waits (up to ms) until every step has been answered.
  bool WaitFinished(int ms);
  std::vector<ReceivedWrite> Received();
  // Bytes that did not match the script (empty when all went to plan).
  std::string Unexpected();
  size_t StepsDone();

  // Builds a step list from an alternating list: expect, reply, expect, ...
  static std::vector<ScriptStep> Steps(std::initializer_list<std::pair<std::string, std::string>> pairs);

 private:
  void Run();

  PtyPeer& m_peer;
  std::vector<ScriptStep> m_script;
  std::mutex m_mutex;
  std::vector<ReceivedWrite> m_received;
  std::string m_unexpected;
  size_t m_step = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace k4vtest
