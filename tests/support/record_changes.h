#pragma once
// The change counter of an emulator's record. The emulator's thread bumps it whenever the
// record changes; a test thread sleeps until it moves, its deadline passes or the emulator
// stops, and then tests its condition again.
//
// Threads: every call but WaitFor is made under the owner's lock (the mutex it guards its
// record with); WaitFor takes that lock itself, and the condition takes it on its own.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace ecr {

class RecordChanges {
 public:
  void Changed() {
    ++version_;
    changed_.notify_all();
  }
  void Stop() {
    stopping_ = true;
    changed_.notify_all();
  }
  bool Stopping() const { return stopping_; }

  // True once `condition` holds, false when it still fails at the deadline or at the stop
  // (a stopping emulator changes no more, so waiting on would only run down the clock).
  bool WaitFor(std::mutex& lock, const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::uint64_t seen = 0;
      {
        const std::lock_guard guard(lock);
        seen = version_;
      }
      if (condition()) return true;
      std::unique_lock guard(lock);
      const bool moved = changed_.wait_until(guard, deadline, [&] { return version_ != seen || stopping_; });
      if (!moved || stopping_) {
        guard.unlock();
        return condition();
      }
    }
  }

  // Sleeps `span` with `locked` held by the caller (released while asleep); false when the
  // emulator stops first.
  template <typename Rep, typename Period>
  bool Sleep(std::unique_lock<std::mutex>& locked, std::chrono::duration<Rep, Period> span) const {
    return !changed_.wait_for(locked, span, [this] { return stopping_; });
  }

 private:
  mutable std::condition_variable changed_;
  std::uint64_t version_ = 0;
  bool stopping_ = false;
};

}  // namespace ecr
