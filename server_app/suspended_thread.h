#pragma once
// A worker thread that is made suspended and runs its body once resumed, with the
// terminated flag that the body polls. Destruction marks it terminated and waits for the
// body to end; a thread never resumed ends without running its body.
//
// Threads: Resume, Terminate, WaitFor and the destructor belong to the owner's thread;
// Terminated and Running may be read from any thread.

#include <atomic>
#include <functional>
#include <thread>

namespace ecr {

class SuspendedThread {
 public:
  SuspendedThread() = default;
  ~SuspendedThread() {
    Terminate();
    WaitFor();
  }
  SuspendedThread(const SuspendedThread&) = delete;
  SuspendedThread& operator=(const SuspendedThread&) = delete;

  // Starts body on its own thread; a second call does nothing.
  void Resume(std::function<void()> body) {
    if (thread_.joinable() || started_.load()) return;
    started_ = true;
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      finished_ = true;
    });
  }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_.load(); }
  // True from Resume until the body has ended.
  bool Running() const { return started_.load() && !finished_.load(); }
  bool Started() const { return started_.load(); }
  void WaitFor() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace ecr
