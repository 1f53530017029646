#pragma once
// The console of an emulator's command-line front end: the lines typed on standard input,
// until SIGINT or SIGTERM asks the program to end. The two signals are blocked and taken
// through a descriptor, so make the object before any thread starts: every thread then
// inherits the mask and none of them is stopped half-way by a signal. One thread uses an
// object.

#include <functional>
#include <string_view>

namespace ecr::support {

class ConsoleLines {
 public:
  // Throws std::runtime_error("no signal descriptor") when the signals cannot be taken.
  ConsoleLines();
  ~ConsoleLines();
  ConsoleLines(const ConsoleLines&) = delete;
  ConsoleLines& operator=(const ConsoleLines&) = delete;

  // Calls onLine with every line typed (without its "\n") until a stop signal arrives.
  // After the end of the input it only waits for the signal.
  void ReadUntilStopSignal(const std::function<void(std::string_view line)>& onLine);

 private:
  int signalFd_ = -1;
};

}  // namespace ecr::support
