#pragma once
// A real executable started for a test: its own arguments, its environment with variables
// set, replaced or removed, its working folder, its output in a file. It never reads the
// test's input and starts with the default signal handling, whatever the test process set.
// The process is killed and reaped when the object goes, so that no test leaves one behind.
// One thread uses an object.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ecr {

// Members have initializers so that callers may name only the ones they set.
struct ChildProcessOptions {
  // Where the process starts; empty: the test's own working folder.
  std::filesystem::path workingFolder{};
  // "NAME=value" sets NAME, in place of any value the test process has; "NAME" alone
  // removes NAME.
  std::vector<std::string> environment{};
  // Standard output and standard error are appended to this file; empty: the test's own.
  std::filesystem::path outputFile{};
  // Instead of outputFile: a pipe that nobody reads, so that every write fails (EPIPE).
  bool outputClosed = false;
  // False: the process gets only the "NAME=value" entries of `environment`, nothing of the
  // test's own.
  bool inheritEnvironment = true;
};

// The environment of a program that cron, ssh or a service starts: HOME, LOGNAME, SHELL and
// PATH only (no display, no session, no toolkit platform); the sanitizers' options of the
// test's environment are kept, so that a sanitized build reports as it does in the tests.
// Use it with inheritEnvironment = false.
std::vector<std::string> CronEnvironment(const std::filesystem::path& home);

// A moment of a program's start: so many milliseconds after the start, or after the first
// moment of its main (when it has its own handler for SIGTERM).
struct StartMoment {
  bool fromMain = false;
  int delayMs = 0;
};

// The moments the signal tests use: closely spaced over the first milliseconds, where the
// program loads and its main begins, and a few later ones.
std::vector<StartMoment> StartMoments();

class ChildProcess;

// What a SIGTERM at a moment of the start did: the exit code (as WaitForExit gives it) and
// whether the signal came before the program's main had begun: it ended the process by the
// signal while `mainsFirstFile` (a file its main makes first, say its log) did not exist.
struct SignalledStart {
  std::optional<int> exit;
  bool beforeMain = false;
};
SignalledStart SignalAtMoment(ChildProcess& process, StartMoment moment, const std::filesystem::path& mainsFirstFile,
                              std::chrono::milliseconds timeout);

class ChildProcess {
 public:
  // Starts program (its path) with arguments after it. Throws std::system_error when it
  // cannot start.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               ChildProcessOptions options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Whether the process has ended (and is reaped), without waiting.
  bool Poll();
  bool Running() { return !Poll(); }
  // The wait status (as waitpid gives it) once the process has ended within timeout;
  // nullopt while it still runs.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // As Wait, but the exit code, or 128 + the signal's number for a process killed by one.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // Ends the process at once (SIGKILL) and reaps it.
  void Kill();

  // Waits until the process has a handler of its own for `signalNumber` (its SigCgt), as a
  // program has one from the first moment of its main; false when it ends or the time is up.
  bool WaitUntilCatching(int signalNumber, std::chrono::milliseconds timeout);
  // Sends `signalNumber`, then again every millisecond, each time `andThen` in turn after
  // it, until the process has ended: its close and teardown get signals at every moment.
  // The exit code as WaitForExit gives it; nullopt when it still runs after `timeout`.
  std::optional<int> SignalUntilEnded(int signalNumber, const std::vector<int>& andThen,
                                      std::chrono::milliseconds timeout);

  // All that the process wrote so far ("" without an output file).
  std::string Output() const;

 private:
  std::filesystem::path outputFile_;
  pid_t pid_ = -1;
  bool ended_ = false;
  std::optional<int> status_;
};

}  // namespace ecr
