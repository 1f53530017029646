#pragma once
// A register line whose every exchange waits for the test: the polling thread parks in each
// take, block send and block read until the test releases it, so a test decides how each
// exchange of the real polling thread meets the events it plays. The registers behind it
// answer a take with their status block or register 7's next queued OnLine message (asked
// of the line's accept hook as the serial line does; taken or refused, it leaves the
// queue), and a command with "R" followed by the command. Register 99 never answers.
//
// Threads: the exchanges run on the polling thread; everything else on the test's thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/basic_communication_object.h"

namespace ecr::testing_support {

class ScriptedLine : public TBasicCommunicationObject {
 public:
  static constexpr int kMessagingEcr = 7;
  static constexpr int kSilentEcr = 99;

  enum class Op { Take, Send, Get };
  struct Park {
    Op op = Op::Take;
    int ecr = 0;
    std::string block;  // Send: the block
  };

  void Configure() override {}
  void Open() override {}
  void Close() override {}
  void StartNoise() override {}
  void StopNoise() override {}
  void FreeEcr() override {}

  LinkResult TakeEcr(int ecrNo, std::string& block) override {
    taken_ = ecrNo;
    if (!Await({Op::Take, ecrNo, {}}) || ecrNo == kSilentEcr) return LinkResult::TimeOut;
    std::string offered = std::to_string(1000 + ecrNo) + ";";
    {
      const std::lock_guard lock(mutex_);
      if (ecrNo == kMessagingEcr && !messages_.empty()) {
        offered = messages_.front();
        messages_.pop_front();
      }
    }
    bool accept = true;
    if (OnTakeBlock) OnTakeBlock(*this, static_cast<std::uint8_t>(ecrNo), offered, accept);
    block = offered;
    return accept ? LinkResult::Ok : LinkResult::Refused;
  }

  LinkResult SendBlock(std::string_view block) override {
    const std::optional<LinkResult> result = Await({Op::Send, taken_, std::string(block)});
    const std::lock_guard lock(mutex_);
    if (result == LinkResult::Ok) acknowledged_.emplace_back(block);
    return result.value_or(LinkResult::TimeOut);
  }

  LinkResult GetBlock(std::string& block, int /*timeoutMs*/) override {
    if (!Await({Op::Get, taken_, {}})) return LinkResult::TimeOut;
    const std::lock_guard lock(mutex_);
    const std::string command = acknowledged_.empty() ? std::string() : acknowledged_.back();
    answered_.push_back(command);
    block = "R" + command;
    return LinkResult::Ok;
  }

  // ---- the test's side ----
  void QueueMessage(std::string message) {
    const std::lock_guard lock(mutex_);
    messages_.push_back(std::move(message));
  }
  // Parks so far (the thread's first take is park 1).
  int Parks() const {
    const std::lock_guard lock(mutex_);
    return parks_;
  }
  // Waits until the thread has parked `count` times and is parked now.
  bool WaitParked(int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return parks_ >= count && parked_; });
  }
  std::optional<Park> Parked() const {
    const std::lock_guard lock(mutex_);
    return parked_ ? std::optional<Park>(park_) : std::nullopt;
  }
  // The exchange the thread is parked in ends with `result` (for a send: Ok is the
  // register's ACK, anything else its refusal).
  void Release(LinkResult result) {
    {
      const std::lock_guard lock(mutex_);
      release_ = result;
    }
    changed_.notify_all();
  }
  // Every exchange from now on ends at once, unanswered.
  void Shutdown() {
    {
      const std::lock_guard lock(mutex_);
      shutdown_ = true;
    }
    changed_.notify_all();
  }
  // Blocks the registers acknowledged, and the commands whose answers were read, in order.
  std::vector<std::string> Acknowledged() const {
    const std::lock_guard lock(mutex_);
    return acknowledged_;
  }
  std::vector<std::string> Answered() const {
    const std::lock_guard lock(mutex_);
    return answered_;
  }

 private:
  // Nothing on shutdown.
  std::optional<LinkResult> Await(Park park) {
    std::unique_lock lock(mutex_);
    if (shutdown_) return std::nullopt;
    park_ = std::move(park);
    ++parks_;
    parked_ = true;
    release_.reset();
    changed_.notify_all();
    changed_.wait(lock, [&] { return release_.has_value() || shutdown_; });
    parked_ = false;
    if (shutdown_) return std::nullopt;
    const LinkResult result = *release_;
    release_.reset();
    return result;
  }

  int taken_ = 0;  // polling thread only
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> messages_;
  Park park_;
  int parks_ = 0;
  bool parked_ = false;
  std::optional<LinkResult> release_;
  bool shutdown_ = false;
  std::vector<std::string> acknowledged_;
  std::vector<std::string> answered_;
};

}  // namespace ecr::testing_support
