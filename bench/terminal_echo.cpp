#include "bench/terminal_echo.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/median.h"

namespace ecr {

namespace {

constexpr int kEchoWaitMs = 100;  // how soon the echo notices that it is to end
constexpr std::chrono::milliseconds kPause{2};  // between two round trips: a byte time at 4800 bit/s

}  // namespace

TerminalEcho::TerminalEcho() : master_fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  char name[128];
  const bool opened = master_fd_ >= 0 && ::grantpt(master_fd_) == 0 && ::unlockpt(master_fd_) == 0 &&
                      ::ptsname_r(master_fd_, name, sizeof name) == 0 && device_.Open(name) &&
                      device_.Configure(19200);
  if (!opened) {
    if (master_fd_ >= 0) ::close(master_fd_);
    throw std::runtime_error("No pseudo-terminal for the echo");
  }
  echo_ = std::thread([this] { Echo(); });
}

TerminalEcho::~TerminalEcho() {
  stop_.store(true);
  echo_.join();
  device_.Close();
  ::close(master_fd_);
}

void TerminalEcho::Echo() {
  while (!stop_.load()) {
    std::uint8_t byte = 0;
    if (device_.WaitForInput(kEchoWaitMs) && device_.ReadQueuedByte(byte) == SerialPort::ReadStatus::Byte) {
      device_.Write(std::string(1, static_cast<char>(byte)));
    }
  }
}

std::optional<double> TerminalEcho::RoundTripUs() {
  const char sent = 'e';
  const auto start = std::chrono::steady_clock::now();
  if (::write(master_fd_, &sent, 1) != 1) return std::nullopt;
  pollfd entry{master_fd_, POLLIN, 0};
  char back = 0;
  if (::poll(&entry, 1, 1000) != 1 || ::read(master_fd_, &back, 1) != 1) return std::nullopt;
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

double TerminalEchoMedianUs(int rounds) {
  TerminalEcho echo;
  std::vector<double> trips;
  for (int i = 0; i < rounds; ++i) {
    // As on the paced line, both ends have slept a while when a byte comes.
    std::this_thread::sleep_for(kPause);
    if (const auto trip = echo.RoundTripUs()) trips.push_back(*trip);
  }
  if (trips.empty()) throw std::runtime_error("No byte came back through the pseudo-terminal");
  return Median(std::move(trips));
}

}  // namespace ecr
