#pragma once
// Line speeds through the kernel's termios2 interface, which takes any speed in bit/s.
// Kept apart from serial_port.cpp because the kernel's termios2 header clashes with the C
// library's <termios.h>. Internal to the serial port.
//
// Threads: as the serial port (the caller serialises).

#include <cstdint>
#include <optional>

namespace ecr {

// Sets input and output speed of the open tty `fd` to `baud` (BOTHER). False with errno set
// on failure.
bool SetTtySpeedOther(int fd, std::uint32_t baud);
enum class TtyDirection { Input, Output };
// The speed of one direction that the tty reports.
std::optional<std::uint32_t> ReadTtySpeed(int fd, TtyDirection direction);

}  // namespace ecr
