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
};

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

  // All that the process wrote so far ("" without an output file).
  std::string Output() const;

 private:
  std::filesystem::path outputFile_;
  pid_t pid_ = -1;
  bool ended_ = false;
  std::optional<int> status_;
};

}  // namespace ecr
