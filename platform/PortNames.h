// Port names: the installer names ports "\\.\COM1" to "\\.\COM8".
//
// On POSIX they resolve through a port directory: when SOLSTRAND_PORTS names a
// directory, that directory is the whole map (COMn is its entry "comN",
// normally a symbolic link to a terminal, and a missing entry is a missing
// port). Without it, COMn is the n-th serial device of the machine in this
// order: /dev/ttyUSB*, /dev/ttyACM*, then the /dev/ttyS* ports that have a UART.
// This is the one place that reads the environment.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The device path for a port name; "" when the port does not exist. Names that
// are not of the form "\\.\COMn" are returned unchanged.
std::string ResolvePortName(const std::string& name);

// The machine's serial devices in COM order (without SOLSTRAND_PORTS).
std::vector<std::string> MachineSerialDevices();

}  // namespace platform
