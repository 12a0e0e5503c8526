#include "tests/support/ScriptedPeer.h"

#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace k4vtest {

ScriptedPeer::ScriptedPeer(PtyPeer& peer, std::vector<ScriptStep> script)
    : m_peer(peer), m_script(std::move(script)), m_thread([this] { Run(); }) {}

ScriptedPeer::~ScriptedPeer() {
  m_stop = true;
  m_thread.join();
}

std::vector<ScriptStep> ScriptedPeer::Steps(std::initializer_list<std::pair<std::string, std::string>> pairs) {
  std::vector<ScriptStep> steps;
  for (const auto& p : pairs) steps.push_back(ScriptStep{p.first, p.second, 0});
  return steps;
}

void ScriptedPeer::Run() {
  // A unit answers within a millisecond; on a loaded test machine the peer
  // asks for real-time scheduling so that it does too (ignored when refused).
  sched_param param{};
  param.sched_priority = 1;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  std::string pending;
  while (!m_stop) {
    pollfd p{m_peer.MasterFd(), POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buf[512];
    const ssize_t r = read(m_peer.MasterFd(), buf, sizeof buf);
    if (r <= 0) continue;
    pending.append(buf, static_cast<size_t>(r));
    for (;;) {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_step >= m_script.size()) {
        m_unexpected += pending;
        pending.clear();
        break;
      }
      const ScriptStep step = m_script[m_step];
      if (pending.size() < step.expect.size()) {
        if (step.expect.compare(0, pending.size(), pending) != 0) {
          m_unexpected += pending;
          pending.clear();
        }
        break;
      }
      if (pending.compare(0, step.expect.size(), step.expect) != 0) {
        m_unexpected += pending;
        pending.clear();
        break;
      }
      pending.erase(0, step.expect.size());
      m_received.push_back(ReceivedWrite{step.expect, m_peer.BaudRate(), m_peer.Is8N2()});
      lock.unlock();
      if (step.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
      if (!step.reply.empty()) m_peer.Write(step.reply);
      lock.lock();
      ++m_step;
    }
  }
}

bool ScriptedPeer::WaitFinished(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_step >= m_script.size()) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::vector<ReceivedWrite> ScriptedPeer::Received() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

std::string ScriptedPeer::Unexpected() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_unexpected;
}

size_t ScriptedPeer::StepsDone() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_step;
}

}  // namespace k4vtest
