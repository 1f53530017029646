#pragma once
// The floor under the server's ACK gap that the poll-cycle benchmark measures: the time a
// byte takes through a pseudo-terminal and back when a thread waiting on the far end echoes
// it at once, through the serial port class the server reads and writes with. The gap holds
// the same two crossings and two wake-ups (the emulator's byte to the server, the server's
// ACK to the emulator).
//
// Threads: one thread uses an object; the echo runs on a thread of its own, ended and
// joined when the object goes.

#include <atomic>
#include <optional>
#include <thread>

#include "platform/serial_port.h"

namespace ecr {

class TerminalEcho {
 public:
  // Throws std::runtime_error when the system gives no pseudo-terminal.
  TerminalEcho();
  ~TerminalEcho();
  TerminalEcho(const TerminalEcho&) = delete;
  TerminalEcho& operator=(const TerminalEcho&) = delete;

  // Sends a byte and waits for it to come back: the round trip in microseconds, or
  // std::nullopt when it did not come back within a second.
  std::optional<double> RoundTripUs();

 private:
  void Echo();

  int master_fd_ = -1;
  SerialPort device_;
  std::atomic<bool> stop_{false};
  std::thread echo_;
};

// The median of `rounds` round trips, 2 ms apart; throws std::runtime_error when there is no
// pseudo-terminal or no byte came back.
double TerminalEchoMedianUs(int rounds);

}  // namespace ecr
