#pragma once
// The keep-alive writer of an open serial line. Every 100 ms it runs one pass (the line's
// check for silence and, when due, its keep-alive write). It is created suspended; Resume
// lets it run, RequestSuspend makes it suspend itself at the end of its current pass.
// Destruction ends it at once, suspended or not, and waits for it.
//
// Threads: every member may be called from any thread. The pass runs on the keep-alive
// thread.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ecr {

class TNoiseThread {
 public:
  explicit TNoiseThread(std::function<void()> pass);
  ~TNoiseThread();
  TNoiseThread(const TNoiseThread&) = delete;
  TNoiseThread& operator=(const TNoiseThread&) = delete;

  // Runs the thread, and withdraws a suspension that was requested but not yet taken: a
  // StartNoise right after a StopNoise leaves the keep-alive running.
  void Resume();
  // Has no effect on a suspended thread.
  void RequestSuspend();
  bool Suspended() const;

  static constexpr int kPassIntervalMs = 100;

 private:
  void Run();

  const std::function<void()> pass_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool suspended_ = true;
  bool suspend_requested_ = false;
  bool terminated_ = false;
  std::thread thread_;
};

}  // namespace ecr
