// Test support: the installer's port object named for COMn, where COMn is a
// pseudo-terminal whose far end the test holds.
#pragma once

#include "serial/SerialPort.h"
#include "tests/support/PtyPeer.h"

#include <string>

namespace k4vtest {

struct PortOnPty {
  explicit PortOnPty(int com) {
    ports.Link(com, peer.TerminalPath());
    port.m_portName = PortDirectory::ComName(com);
  }

  PortDirectory ports;
  PtyPeer peer;
  CSerialPort port;
  std::string status;
};

}  // namespace k4vtest
