#pragma once
// The system's requests to end a program: SIGTERM (a stop of the service, the end of the
// user's session, kill), SIGHUP (the terminal or the session went away) and SIGINT (Ctrl+C).
// While a TerminationSignals object lives, none of them ends the process at once: the
// handler only writes the signal's number into a pipe (write(2) is async-signal-safe), and
// the program's event loop, watching ReadableFd(), closes the program in its own way.
//
// A signal that was ignored when the object was made (nohup ignores SIGHUP, a shell's
// background job SIGINT) stays ignored. Destroying a Scoped object puts the earlier handling
// back; destroying an UntilExit object leaves the handlers and the pipe in place until the
// process ends, and the signals that come later are taken and dropped: a program makes its
// object so at the first moment of main, so that a signal that comes while it tears down or
// exits, once its close has begun, cannot end it with the signal's status. While an
// UntilExit object has been destroyed no other object can be made. Handlers are process-wide, so only one
// object may exist at a time; a second one fails with EBUSY. Child processes start with the
// default handling (exec resets handlers).
//
// Threads: any thread may receive the signals; Take() and destruction belong to the thread
// that made the object.

#include <signal.h>

#include <array>
#include <vector>

namespace ecr {

class TerminationSignals {
 public:
  static constexpr std::array<int, 3> kSignals{SIGTERM, SIGHUP, SIGINT};

  // What destruction does with the handlers.
  enum class Lifetime { Scoped, UntilExit };

  // Installs the handlers. Throws std::system_error when the pipe cannot be made or
  // another object lives (EBUSY).
  explicit TerminationSignals(Lifetime lifetime = Lifetime::Scoped);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Readable while signals wait.
  int ReadableFd() const { return readFd_; }

  // The signals that arrived since the last call, in order of arrival, without waiting;
  // empty when none waits.
  std::vector<int> Take();

 private:
  Lifetime lifetime_;
  int readFd_ = -1;
  int writeFd_ = -1;
  std::array<struct sigaction, kSignals.size()> previous_{};
  std::array<bool, kSignals.size()> installed_{};
};

}  // namespace ecr
