#include "platform/serial_port_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ecr {

bool SetTtySpeedOther(int fd, std::uint32_t baud) {
  termios2 settings{};
  if (::ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = baud;
  settings.c_ospeed = baud;
  return ::ioctl(fd, TCSETS2, &settings) == 0;
}

std::optional<std::uint32_t> ReadTtySpeed(int fd, TtyDirection direction) {
  termios2 settings{};
  if (::ioctl(fd, TCGETS2, &settings) != 0) return std::nullopt;
  return direction == TtyDirection::Input ? settings.c_ispeed : settings.c_ospeed;
}

}  // namespace ecr
