#pragma once
// Recording stand-ins for the socket server, the polling thread and the settings store,
// for tests that drive the request engine directly.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/client_message.h"
#include "line/link_frames.h"
#include "server/client_sender.h"
#include "server/polling_control.h"
#include "server/settings_saver.h"

namespace ecr::testing_support {

struct SentMessage {
  std::uint16_t client;
  std::string message;
};

class RecordingSender : public ClientSender {
 public:
  void SendData(std::uint16_t ID, std::string_view Data) override {
    std::lock_guard<std::mutex> guard(mutex_);
    sent_.push_back({ID, std::string(Data)});
  }
  std::vector<SentMessage> Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<SentMessage> sent_;
};

class RecordingPoller : public PollingControl {
 public:
  void AddEcr(int logNo) override { Record("AddEcr " + std::to_string(logNo)); }
  void RemoveEcr(int logNo) override { Record("RemoveEcr " + std::to_string(logNo)); }
  void StartNoise() override { Record("StartNoise"); }
  void StopNoise() override { Record("StopNoise"); }
  void CancelExchange() override { Record("CancelExchange"); }
  void SetInLineCommand(std::string_view text) override { Record("SetInLineCommand " + std::string(text)); }
  // Taken while takesAnswers holds (the thread waits); refused once the wait is over.
  bool SetOnLineAnswer(std::string_view text) override {
    Record("SetOnLineAnswer " + std::string(text));
    return takesAnswers.load();
  }

  // As a line at 9600 bit/s carries.
  std::size_t BlockCapacity() const override { return blockCapacity.load(); }

  std::atomic<bool> takesAnswers{true};
  std::atomic<std::size_t> blockCapacity{BlockDataCapacity(FillCountOf(9600))};

  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(calls_, {});
  }

 private:
  void Record(std::string call) {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(std::move(call));
  }
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

class CountingSaver : public SettingsSaver {
 public:
  void Save() override { ++saves; }
  int saves = 0;
};

// A reply as the engine builds it: header fields and the texts, for readable comparisons.
inline std::string Describe(const SentMessage& sent) {
  const ClientMessage m = ParseClientMessage(sent.message);
  return "to " + std::to_string(sent.client) + ": " + std::to_string(m.SetNo) + "/" +
         std::to_string(m.Command) + "/" + std::to_string(m.LogNo) + " err " +
         std::to_string(m.ErrorCode) + (m.Block.empty() ? "" : " block [" + m.Block + "]") +
         " [" + m.Payload + "]";
}

inline std::vector<std::string> Describe(const std::vector<SentMessage>& sent) {
  std::vector<std::string> lines;
  for (const SentMessage& one : sent) lines.push_back(Describe(one));
  return lines;
}

}  // namespace ecr::testing_support
