#include "line/noise_thread.h"

#include <chrono>

namespace ecr {

TNoiseThread::TNoiseThread(std::function<void()> pass) : pass_(std::move(pass)), thread_([this] { Run(); }) {}

TNoiseThread::~TNoiseThread() {
  {
    const std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TNoiseThread::Resume() {
  {
    const std::lock_guard lock(mutex_);
    suspend_requested_ = false;
    suspended_ = false;
  }
  wake_.notify_all();
}

void TNoiseThread::RequestSuspend() {
  const std::lock_guard lock(mutex_);
  if (!suspended_) suspend_requested_ = true;
}

bool TNoiseThread::Suspended() const {
  const std::lock_guard lock(mutex_);
  return suspended_;
}

void TNoiseThread::Run() {
  std::unique_lock lock(mutex_);
  while (!terminated_) {
    if (suspended_) {
      wake_.wait(lock, [this] { return !suspended_ || terminated_; });
      continue;
    }
    lock.unlock();
    pass_();
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kPassIntervalMs), [this] { return terminated_; });
    if (suspend_requested_) {
      suspend_requested_ = false;
      suspended_ = true;
    }
  }
}

}  // namespace ecr
