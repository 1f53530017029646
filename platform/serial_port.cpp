#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/serial_port_names.h"
#include "platform/serial_port_speed.h"

namespace ecr {

namespace {

// The termios constant of a speed, 0 when there is none (the speed then goes through
// termios2).
speed_t StandardSpeed(std::uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
  }
}

constexpr int kWriteStallMs = 1000;

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Fail() {
  last_error_ = errno;
  return false;
}

bool SerialPort::Open(std::string_view name) {
  if (fd_ >= 0) {
    last_error_ = EBUSY;
    return false;
  }
  std::string path;
  if (name.starts_with('/')) {
    path = std::string(name);
  } else {
    const std::optional<std::string> resolved = ResolveSerialPortName(name);
    if (!resolved) {
      last_error_ = ENOENT;
      return false;
    }
    path = *resolved;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail();
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    last_error_ = errno;
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SerialPort::Close() {
  if (fd_ < 0) return;
  ::close(fd_);  // releases the flock with the descriptor
  fd_ = -1;
}

bool SerialPort::Configure(std::uint32_t baud) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  termios settings{};
  if (::tcgetattr(fd_, &settings) != 0) return Fail();
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                             IXOFF | IXANY | INPCK | IMAXBEL);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // CIBAUD cleared: the input speed follows the output speed. Left alone, it would keep the
  // BOTHER mark of an earlier 14400 or 28800 and the port would go on receiving at that speed.
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CIBAUD);
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  const speed_t standard = StandardSpeed(baud);
  if (standard != 0) {
    ::cfsetispeed(&settings, standard);
    ::cfsetospeed(&settings, standard);
  }
  if (::tcsetattr(fd_, TCSANOW, &settings) != 0) return Fail();
  if (standard == 0 && !SetTtySpeedOther(fd_, baud)) return Fail();

  // Pseudo-terminals have no modem lines and say so; a real port raises DTR and drops RTS.
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  (void)::ioctl(fd_, TIOCMBIS, &dtr);
  (void)::ioctl(fd_, TIOCMBIC, &rts);
  return true;
}

std::optional<std::uint32_t> SerialPort::Speed() const {
  if (fd_ < 0) return std::nullopt;
  return ReadTtySpeed(fd_, TtyDirection::Output);
}

std::optional<std::uint32_t> SerialPort::InputSpeed() const {
  if (fd_ < 0) return std::nullopt;
  return ReadTtySpeed(fd_, TtyDirection::Input);
}

bool SerialPort::WaitForInput(int timeoutMs) const {
  if (fd_ < 0) return true;  // the read reports the closed port
  pollfd entry{fd_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

SerialPort::ReadStatus SerialPort::ReadQueuedByte(std::uint8_t& byte) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return ReadStatus::Failed;
  }
  const ssize_t n = ::read(fd_, &byte, 1);
  if (n == 1) return ReadStatus::Byte;
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    last_error_ = errno;
    return ReadStatus::Failed;
  }
  if (n == 0) {
    // A raw tty with nothing queued reads 0 bytes; after poll said readable that is a hang-up.
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0) {
      last_error_ = EIO;
      return ReadStatus::Failed;
    }
  }
  return ReadStatus::Nothing;
}

std::size_t SerialPort::DiscardInputFor(std::size_t maxBytes, int timeoutMs) {
  if (fd_ < 0) return 0;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char scratch[256];
  std::size_t total = 0;
  bool saidReadable = false;
  while (total < maxBytes) {
    const std::size_t want = std::min(sizeof scratch, maxBytes - total);
    const ssize_t n = ::read(fd_, scratch, want);
    if (n > 0) {
      total += static_cast<std::size_t>(n);
      saidReadable = false;
      continue;
    }
    // A raw tty with nothing queued reads 0 bytes or EAGAIN; nothing after the device said
    // readable is a hang-up. A hang-up or an error ends the drain rather than spinning: the
    // reads of the exchange that follows meet it and log it.
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    if (n == 0 && saidReadable) break;
    const Clock::duration left = end - Clock::now();
    if (left <= Clock::duration::zero()) break;
    // To the microsecond: poll's whole milliseconds would stretch the time-out.
    const auto leftNs = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec wait{static_cast<time_t>(leftNs / 1'000'000'000), static_cast<long>(leftNs % 1'000'000'000)};
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::ppoll(&entry, 1, &wait, nullptr);
    if (ready < 0 && errno != EINTR) break;
    saidReadable = ready > 0;
  }
  return total;
}

bool SerialPort::Write(std::string_view bytes) {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Fail();
    pollfd entry{fd_, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, kWriteStallMs);
    if (ready == 0) {
      last_error_ = EAGAIN;
      return false;
    }
    if (ready < 0 && errno != EINTR) return Fail();
    if (ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (entry.revents & POLLOUT) == 0) {
      last_error_ = EIO;
      return false;
    }
  }
  (void)::tcdrain(fd_);
  return true;
}

bool SerialPort::PurgeInput() {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  return ::tcflush(fd_, TCIFLUSH) == 0 || Fail();
}

bool SerialPort::PurgeOutput() {
  if (fd_ < 0) {
    last_error_ = EBADF;
    return false;
  }
  return ::tcflush(fd_, TCOFLUSH) == 0 || Fail();
}

}  // namespace ecr
