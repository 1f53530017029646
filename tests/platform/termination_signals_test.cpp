// The system's requests to end, taken as bytes on a pipe instead of ending the process.
#include "platform/termination_signals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ecr {
namespace {

bool WaitReadable(int fd, int timeoutMs = 10000) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1;
}

// Records the signals that reach it, so that a test can tell which handler is in force.
volatile sig_atomic_t lastSeen = 0;
extern "C" void Remember(int signalNumber) { lastSeen = signalNumber; }

// Puts a signal's handling back when the scope ends.
class SavedHandling {
 public:
  explicit SavedHandling(int signalNumber) : signal_(signalNumber) { ::sigaction(signal_, nullptr, &saved_); }
  ~SavedHandling() { ::sigaction(signal_, &saved_, nullptr); }
  SavedHandling(const SavedHandling&) = delete;
  SavedHandling& operator=(const SavedHandling&) = delete;

 private:
  int signal_;
  struct sigaction saved_ {};
};

void Handle(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(signalNumber, &action, nullptr);
}

TEST(TerminationSignals, EachRequestToEndWaitsOnThePipeInOrderAndTheProcessRunsOn) {
  TerminationSignals signals;
  // On another thread too: the process's signals reach whichever thread the system picks.
  // The signal goes to that thread itself (the system might pick the thread sanitizer's own
  // thread, which never runs a handler), and the thread stays until the request is on the
  // pipe (the sanitizer runs a handler at the receiving thread's next library call).
  std::thread other([&signals] {
    ::pthread_kill(::pthread_self(), SIGHUP);
    WaitReadable(signals.ReadableFd());
  });
  other.join();
  ASSERT_TRUE(WaitReadable(signals.ReadableFd()));
  ::raise(SIGTERM);
  ::raise(SIGINT);
  ::raise(SIGTERM);
  EXPECT_EQ(signals.Take(), (std::vector<int>{SIGHUP, SIGTERM, SIGINT, SIGTERM}));
  EXPECT_TRUE(signals.Take().empty());
  EXPECT_FALSE(WaitReadable(signals.ReadableFd(), 0));
}

TEST(TerminationSignals, TheEarlierHandlingComesBackAndIgnoredSignalsStayIgnored) {
  struct Case {
    int signalNumber;
    bool ignoredBefore;
  };
  for (const Case c : {Case{SIGTERM, false}, Case{SIGHUP, true}, Case{SIGINT, false}, Case{SIGINT, true}}) {
    SCOPED_TRACE(::testing::Message() << "signal " << c.signalNumber << (c.ignoredBefore ? " ignored" : ""));
    const SavedHandling saved(c.signalNumber);
    Handle(c.signalNumber, c.ignoredBefore ? SIG_IGN : Remember);
    lastSeen = 0;
    {
      TerminationSignals signals;
      ::raise(c.signalNumber);
      if (c.ignoredBefore) {
        EXPECT_FALSE(WaitReadable(signals.ReadableFd(), 100));  // nohup's wish is kept
      } else {
        ASSERT_TRUE(WaitReadable(signals.ReadableFd()));
        EXPECT_EQ(signals.Take(), std::vector<int>{c.signalNumber});
      }
      EXPECT_EQ(lastSeen, 0);
    }
    ::raise(c.signalNumber);
    EXPECT_EQ(lastSeen, c.ignoredBefore ? 0 : c.signalNumber);
  }
}

// A program takes the signals until it has ended: once its object is gone (the teardown),
// the signals that follow are dropped, and the program ends with its own status. Run in a
// child, since the handlers stay for the rest of the process.
TEST(TerminationSignals, UntilExitTheSignalsAfterTheObjectAreDropped) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    { TerminationSignals signals(TerminationSignals::Lifetime::UntilExit); }
    for (const int signalNumber : TerminationSignals::kSignals) ::raise(signalNumber);
    ::_exit(7);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 7);
}

TEST(TerminationSignals, OnlyOneWatcherAtATime) {
  TerminationSignals first;
  try {
    TerminationSignals second;
    ADD_FAILURE() << "a second watcher was made";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EBUSY);
  }
  ::raise(SIGTERM);
  ASSERT_TRUE(WaitReadable(first.ReadableFd()));
  EXPECT_EQ(first.Take(), std::vector<int>{SIGTERM});
}

}  // namespace
}  // namespace ecr
