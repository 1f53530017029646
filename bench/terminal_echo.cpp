#include "bench/terminal_echo.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "bench/median.h"

namespace ecr {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Waits for a byte on `fd` and reads it; false on a hang-up or an error.
bool ReadByte(int fd, char& byte) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, -1) < 0) return false;
    const ssize_t n = ::read(fd, &byte, 1);
    if (n == 1) return true;
    if (n == 0 || (entry.revents & (POLLHUP | POLLERR)) != 0) return false;
  }
}

constexpr char kStop = 0x7F;

}  // namespace

double TerminalEchoMedianUs(int rounds) {
  Descriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  char name[128];
  if (master.Get() < 0 || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0 ||
      ::ptsname_r(master.Get(), name, sizeof name) != 0) {
    throw std::runtime_error("No pseudo-terminal for the echo");
  }
  Descriptor device(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios raw{};
  if (device.Get() < 0 || ::tcgetattr(device.Get(), &raw) != 0) throw std::runtime_error("No terminal device");
  ::cfmakeraw(&raw);
  ::tcsetattr(device.Get(), TCSANOW, &raw);

  std::thread echo([fd = device.Get()] {
    char byte = 0;
    while (ReadByte(fd, byte) && byte != kStop) (void)!::write(fd, &byte, 1);
  });
  std::vector<double> trips;
  for (int i = 0; i < rounds; ++i) {
    char byte = static_cast<char>('a' + i % 26);
    const auto start = std::chrono::steady_clock::now();
    if (::write(master.Get(), &byte, 1) != 1 || !ReadByte(master.Get(), byte)) break;
    trips.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  const char stop = kStop;
  (void)!::write(master.Get(), &stop, 1);
  echo.join();
  if (trips.empty()) throw std::runtime_error("The echo through the pseudo-terminal failed");
  return Median(std::move(trips));
}

}  // namespace ecr
