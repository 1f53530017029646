#pragma once
// The floor under the server's ACK gap that the poll-cycle benchmark measures: the time a
// byte takes through a pseudo-terminal and back when a thread waiting on the far end echoes
// it at once. The gap holds the same two crossings and two wake-ups (the emulator's byte to
// the server, the server's ACK to the emulator).
//
// Threads: any thread; it runs an echoing thread of its own while it measures.

namespace ecr {

// The median of `rounds` round trips in microseconds; throws std::runtime_error when the
// system gives no pseudo-terminal.
double TerminalEchoMedianUs(int rounds);

}  // namespace ecr
