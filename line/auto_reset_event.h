#pragma once
// An event that releases one wait and then resets itself: Set before a wait lets that wait
// return at once; Reset withdraws a Set that no wait has consumed.
//
// Threads: every member may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ecr {

class AutoResetEvent {
 public:
  void Set() {
    {
      const std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    wake_.notify_one();
  }

  void Reset() {
    const std::lock_guard lock(mutex_);
    signalled_ = false;
  }

  // True when signalled within `timeout` (the signal is consumed), false on time-out.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool signalled_ = false;
};

}  // namespace ecr
