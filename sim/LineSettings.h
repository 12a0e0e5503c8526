// The line settings of the unit's terminal as the far end programmed them:
// rate and framing, read from the terminal at every exchange.
#pragma once

#include <cstdint>
#include <string>
#include <termios.h>

namespace sim {

struct LineSettings {
  uint32_t baud = 0;  // 0 when the terminal's speed is not a serial port rate we know
  int dataBits = 8;
  char parity = 'N';  // 'N', 'E' or 'O'
  int stopBits = 1;

  bool Is8N2() const { return dataBits == 8 && parity == 'N' && stopBits == 2; }
  // Start bit, data bits, parity bit and stop bits of one character on the wire.
  int BitsPerCharacter() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
  // "19200 8N2"
  std::string Text() const;

  bool operator==(const LineSettings&) const = default;
};

LineSettings DecodeLineSettings(const termios& t);

}  // namespace sim
