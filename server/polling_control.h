#pragma once
// What the request engine needs of the polling thread: its poll list, the keep-alive of its
// line, and the hand-over of commands and answers. The server application adapts the real
// polling thread to it; tests use fakes.
//
// The engine calls these under its own lock, on the main thread (client requests) and on
// the polling thread (inside the polling thread's events), so an implementation must
// return without waiting on the line or for an application's answer.

#include <cstddef>
#include <string_view>

namespace ecr {

class PollingControl {
 public:
  virtual ~PollingControl() = default;
  // Puts register logNo (1..99) on the poll list / takes it off.
  virtual void AddEcr(int logNo) = 0;
  virtual void RemoveEcr(int logNo) = 0;
  // Starts and stops the keep-alive bytes of the line.
  virtual void StartNoise() = 0;
  virtual void StopNoise() = 0;
  // The exchange under way sends nothing it has not begun to send and waits no further for
  // an application's answer; a command or answer already on the line runs to its end (a
  // command the register acknowledged still has its answer read and reported).
  virtual void CancelExchange() = 0;
  // The command for the current InLine exchange (text in the server's character set).
  virtual void SetInLineCommand(std::string_view text) = 0;
  // The answer for the current OnLine exchange. True when the polling thread took it: it
  // sends it and then raises its sent event. False when no exchange takes an answer any
  // more (its wait ended by time-out or cancel): nothing goes to the register.
  virtual bool SetOnLineAnswer(std::string_view text) = 0;
  // The most characters a command or answer may have so that its block goes out whole on
  // the line at its speed.
  virtual std::size_t BlockCapacity() const = 0;
};

}  // namespace ecr
