// A test on the headless backend: the test's thread is the user-interface
// thread; what went wrong in a script (an unanswered dialog, a wait in vain)
// fails the test.
#pragma once

#include "platform/Threads.h"
#include "platform/toolkit/HeadlessBackend.h"
#include "platform/toolkit/MessageBox.h"
#include "platform/toolkit/MessageLoop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_backend = std::make_shared<toolkit::CHeadlessBackend>();
    m_backend->m_waitLimitMs = 30000;
    toolkit::SetBackend(m_backend);
    toolkit::SetAppTitle("Installer");
    platform::SetAppThreadId(platform::CurrentThreadId());
  }
  void TearDown() override {
    std::string problems;
    for (const std::string& p : m_backend->Problems()) problems += p + "\n";
    EXPECT_TRUE(problems.empty()) << problems;
    EXPECT_EQ(m_backend->PendingActions(), 0u) << "scripted actions left unused";
    toolkit::SetThreadMessageHandler(nullptr);
    toolkit::SetBackend(nullptr);
  }
  void Script(int templateId, std::vector<toolkit::HeadlessAction> actions) {
    m_backend->Script(templateId, std::move(actions));
  }
  std::shared_ptr<toolkit::CHeadlessBackend> m_backend;
};
