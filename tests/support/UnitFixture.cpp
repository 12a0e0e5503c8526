#include "tests/support/UnitFixture.h"

#include "platform/Clock.h"

namespace k4vtest {

void UnitFixture::SetUp() { platform::SetTestSleepShortening(TEST_SLEEP_DIVISOR, TEST_SLEEP_FLOOR_MS); }

void UnitFixture::TearDown() {
  port.ClosePort();
  for (auto& unit : units) {
    EXPECT_EQ(unit->ConformanceErrors(), 0u) << "an exchange at other line settings than 8N2";
    unit->Stop();
  }
  platform::SetTestSleepShortening(1, 0);
}

sim::VirtualUnit& UnitFixture::AddUnit(int com, const sim::Profile& profile) {
  units.push_back(std::make_unique<sim::VirtualUnit>(profile));
  sim::VirtualUnit& unit = *units.back();
  std::string error;
  EXPECT_TRUE(unit.Start(&error)) << error;
  EXPECT_TRUE(unit.LinkAs(ports.Path() + "/com" + std::to_string(com), &error)) << error;
  return unit;
}

void UnitFixture::AddSilentPort(int com) {
  silent.push_back(std::make_unique<PtyPeer>());
  ports.Link(com, silent.back()->TerminalPath());
}

}  // namespace k4vtest
