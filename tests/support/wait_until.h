#pragma once
// A bounded wait for a condition that some other party makes true (a process, a file, a
// socket): checked every 20 ms, so that a slow machine only makes the wait longer.

#include <chrono>
#include <thread>

namespace ecr::support {

// True as soon as condition holds; false once timeout has passed without it.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace ecr::support
