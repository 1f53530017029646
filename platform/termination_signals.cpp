#include "platform/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace ecr {
namespace {

// A signal handler can reach nothing but globals: the pipe's write end of the one living
// object, -1 while none lives.
std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free atomic");

extern "C" void WriteSignalToPipe(int signalNumber) {
  const int savedErrno = errno;
  const int fd = signalPipe.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds requests enough to end the program.
    (void)!::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(Lifetime lifetime) : lifetime_(lifetime) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  int expected = -1;
  if (!signalPipe.compare_exchange_strong(expected, fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::system_error(EBUSY, std::generic_category(), "termination signals are watched already");
  }
  readFd_ = fds[0];
  writeFd_ = fds[1];
  for (std::size_t i = 0; i < kSignals.size(); ++i) {
    struct sigaction current {};
    if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = WriteSignalToPipe;
    sigemptyset(&action.sa_mask);
    // Calls that the signal interrupts go on, so no other code has to expect EINTR.
    action.sa_flags = SA_RESTART;
    installed_[i] = ::sigaction(kSignals[i], &action, &previous_[i]) == 0;
  }
}

TerminationSignals::~TerminationSignals() {
  // UntilExit keeps the handlers and their pipe until the process ends: the signals that
  // come later fill the pipe, which nobody reads, and a full pipe takes no more. Closing it
  // here would let a handler that runs meanwhile write into a descriptor opened later.
  if (lifetime_ == Lifetime::UntilExit) return;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    if (installed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
  signalPipe.store(-1);
  ::close(writeFd_);
  ::close(readFd_);
}

std::vector<int> TerminationSignals::Take() {
  std::vector<int> signals;
  unsigned char buffer[64];
  for (;;) {
    const ssize_t n = ::read(readFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    signals.insert(signals.end(), buffer, buffer + n);
  }
  return signals;
}

}  // namespace ecr
