#include "tests/support/console_lines.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace ecr::support {

ConsoleLines::ConsoleLines() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signalFd_ = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd_ < 0) throw std::runtime_error("no signal descriptor");
}

ConsoleLines::~ConsoleLines() { ::close(signalFd_); }

void ConsoleLines::ReadUntilStopSignal(const std::function<void(std::string_view line)>& onLine) {
  bool readStdin = true;
  std::string pending;
  for (;;) {
    pollfd entries[2] = {{signalFd_, POLLIN, 0}, {readStdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) continue;
    if (entries[0].revents != 0) return;
    if (entries[1].revents == 0) continue;
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      readStdin = false;  // without input the emulator plays on until a signal
      continue;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      onLine(std::string_view(pending).substr(0, end));
    }
  }
}

}  // namespace ecr::support
