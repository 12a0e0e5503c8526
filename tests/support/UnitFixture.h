// Test support for the installer's conversations with the virtual unit: a
// port directory with virtual units and silent or unusable ports on chosen
// COM numbers, the shortened test clock, and a check that no unit saw an
// exchange at other line settings than 8N2.
#pragma once

#include "serial/SerialPort.h"
#include "sim/VirtualUnit.h"
#include "tests/support/PtyPeer.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace k4vtest {

// Fixed waits of the protocol run at a tenth, but never shorter than 50 ms
// (or their own length), so that the waits before a single raw read stay
// longer than the unit's answer time on a loaded machine. Deadlines are real.
inline constexpr uint32_t TEST_SLEEP_DIVISOR = 10;
inline constexpr uint32_t TEST_SLEEP_FLOOR_MS = 50;

class UnitFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A virtual unit of the profile, linked as COMn.
  sim::VirtualUnit& AddUnit(int com, const sim::Profile& profile);
  sim::VirtualUnit& AddUnit(int com, const std::string& profileName) { return AddUnit(com, sim::Profile::ByName(profileName)); }
  // A port where nothing answers.
  void AddSilentPort(int com);
  // The installer's port object, named for COMn.
  void Use(int com) { port.m_portName = PortDirectory::ComName(com); }

  PortDirectory ports;
  CSerialPort port;
  std::string status;
  std::vector<std::unique_ptr<sim::VirtualUnit>> units;
  std::vector<std::unique_ptr<PtyPeer>> silent;
};

}  // namespace k4vtest
