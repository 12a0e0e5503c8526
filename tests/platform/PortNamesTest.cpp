#include "platform/PortNames.h"
#include "tests/support/PtyPeer.h"

#include <gtest/gtest.h>

using platform::ResolvePortName;

TEST(PortNames, PortDirectoryIsTheWholeMap) {
  k4vtest::PortDirectory ports;
  k4vtest::PtyPeer peer;
  ports.Link(3, peer.TerminalPath());
  EXPECT_EQ(ResolvePortName("\\\\.\\COM3"), ports.Path() + "/com3");
  EXPECT_EQ(ResolvePortName("\\\\.\\com3"), ports.Path() + "/com3") << "the letters are not case-sensitive";
  EXPECT_EQ(ResolvePortName("\\\\.\\COM2"), "") << "a missing entry is a missing port";
  EXPECT_EQ(ResolvePortName("\\\\.\\COM"), "");
  EXPECT_EQ(ResolvePortName("/dev/null"), "/dev/null") << "other names are device paths";
}
