// Serial device of the platform layer: one small interface whose calls map one
// to one onto the Win32 communications API (CreateFileA, GetCommState,
// SetCommState, FlushFileBuffers, GetCommTimeouts, SetCommTimeouts, PurgeComm,
// ReadFile, WriteFile, CloseHandle). The POSIX backend reproduces the same
// behaviour on a raw termios port.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct SerialDevice;  // opaque, one per open port
using SerialHandle = SerialDevice*;
inline constexpr SerialHandle INVALID_SERIAL_HANDLE = nullptr;

enum class Parity : uint8_t { None, Odd, Even };
enum class StopBits : uint8_t { One, Two };

// The line settings (the fields of a DCB that the installer touches; the rest
// of the driver's settings are kept as the driver reports them).
struct SerialLineSettings {
  uint32_t baudRate = 19200;
  uint8_t byteSize = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  bool binary = true;
  bool outX = false;  // XON/XOFF on output
  bool inX = false;   // XON/XOFF on input
};

// Read and write time-outs, with the meaning of COMMTIMEOUTS:
//  - ReadIntervalTimeout MAXDWORD with both read totals 0: a read returns at
//    once with what has arrived.
//  - otherwise a read of n bytes returns when n bytes are there, when
//    n x multiplier + constant ms have passed, or, once a byte has arrived,
//    when more than the interval passes without a further byte.
//  - a write of n bytes is given n x multiplier + constant ms; with both 0
//    it is given a generous bound of its own (a peer that stops reading must
//    not hang the caller).
struct SerialTimeouts {
  uint32_t readIntervalTimeout = 0;
  uint32_t readTotalTimeoutMultiplier = 0;
  uint32_t readTotalTimeoutConstant = 0;
  uint32_t writeTotalTimeoutMultiplier = 0;
  uint32_t writeTotalTimeoutConstant = 0;
};
inline constexpr uint32_t SERIAL_MAXDWORD = 0xFFFFFFFFu;

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Opens a port by name ("\\.\COMn" resolves through ResolvePortName; any other
// name is a device path) for exclusive use. INVALID_SERIAL_HANDLE on failure:
// missing, not a terminal, or already in use (also by the super-user).
SerialHandle SerialOpen(const std::string& name);
// Leaves exclusive mode and closes. Accepts the invalid handle.
bool SerialClose(SerialHandle h);

bool SerialGetState(SerialHandle h, SerialLineSettings& out);
bool SerialSetState(SerialHandle h, const SerialLineSettings& in);
// Waits until every byte written has left the port.
bool SerialDrain(SerialHandle h);
bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& out);
bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& in);
bool SerialPurge(SerialHandle h, uint32_t flags);

// Reads up to n bytes under the time-outs set; *got receives the count.
// False on an invalid or dead handle (got 0).
bool SerialRead(SerialHandle h, void* buf, uint32_t n, uint32_t* got);
// Writes n bytes under the write time-outs, carrying on after partial writes.
// True when the call itself did not fail; *written may be short on time-out.
bool SerialWrite(SerialHandle h, const void* buf, uint32_t n, uint32_t* written);

// Blocks until input is available or ms have passed (real time). True when
// input is there. On an invalid or dead handle it sits out the ms and returns
// false, so that a caller looping to a deadline never spins.
bool SerialWaitForInput(SerialHandle h, uint32_t ms);

// True once the device reported a hang-up (cable pulled, adapter removed, the
// peer closed). Every later read and write fails at once until reopened.
bool SerialIsDead(SerialHandle h);

}  // namespace platform
