#include "sim/LineSettings.h"

namespace sim {

namespace {

struct SpeedEntry {
  speed_t code;
  uint32_t baud;
};

constexpr SpeedEntry SPEEDS[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

}  // namespace

std::string LineSettings::Text() const {
  return std::to_string(baud) + " " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

LineSettings DecodeLineSettings(const termios& t) {
  LineSettings s;
  const speed_t speed = cfgetospeed(&t);
  for (const auto& e : SPEEDS)
    if (e.code == speed) s.baud = e.baud;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
  }
  s.parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
  s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return s;
}

}  // namespace sim
