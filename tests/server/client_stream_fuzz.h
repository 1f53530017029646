#pragma once
// One fuzz input: byte streams of up to four clients, cut into frames and dispatched to the
// request engine, with the engine's invariants checked after every message. Used by the
// libFuzzer target and by the test that replays the stored corpus.
//
// Input: a control byte c selects the client (c & 3) and how many of the following bytes
// go to its stream ((c >> 2) + 1); a control byte 0xFF disconnects the client of the byte
// after it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "line/link_frames.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/frame_cutter.h"
#include "server/request_engine.h"

namespace ecr::testing_support {

class FuzzCheck {
 public:
  static void That(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
};

class CheckingSender : public ClientSender {
 public:
  void SendData(std::uint16_t ID, std::string_view Data) override {
    FuzzCheck::That(ID >= 1 && ID <= 4, "reply to a client that never spoke");
    FuzzCheck::That(Data.size() <= kMaxMessageLength, "message longer than a frame");
    FuzzCheck::That(MakeClientFrame(Data).size() == Data.size() + 1, "frame length");
  }
};

class CheckingPoller : public PollingControl {
 public:
  void AddEcr(int logNo) override {
    FuzzCheck::That(logNo >= 1 && logNo <= kMaxLogNo, "AddEcr outside 1..99");
    FuzzCheck::That(listed.insert(logNo).second, "AddEcr of a listed register");
  }
  void RemoveEcr(int logNo) override {
    FuzzCheck::That(listed.erase(logNo) == 1, "RemoveEcr of a register not listed");
  }
  void StartNoise() override { noise = true; }
  void StopNoise() override { noise = false; }
  void CancelExchange() override {}
  bool SetOnLineAnswer(std::string_view text) override {
    FuzzCheck::That(text.size() <= BlockCapacity(), "answer longer than the line carries");
    return true;
  }
  void SetInLineCommand(std::string_view text) override {
    FuzzCheck::That(text.size() <= BlockCapacity(), "command longer than the line carries");
  }
  std::size_t BlockCapacity() const override { return BlockDataCapacity(SpeedTable[3].FillCount); }
  std::set<int> listed;
  bool noise = false;
};

class NoSaver : public SettingsSaver {
 public:
  void Save() override {}
};

inline void CheckEngine(RequestEngine& engine, const CheckingPoller& poller) {
  engine.WithContext([&](ExchangeContext& context) {
    bool anyInUse = false;
    for (int logNo = 1; logNo <= kMaxLogNo; ++logNo) {
      const TEcr& ecr = context.EcrTable.At(logNo);
      int owned = 0;
      for (int set = 1; set <= kSetCount; set += 2) owned += ecr.Set(set).ClientId != 0 ? 1 : 0;
      FuzzCheck::That(ecr.UseCount == owned, "use count differs from the working SETs held");
      FuzzCheck::That((ecr.UseCount > 0) == (poller.listed.count(logNo) == 1), "poll list out of step");
      FuzzCheck::That(ecr.QueueCount <= kSubscriberQueueLength, "subscriber queue overfull");
      anyInUse = anyInUse || ecr.UseCount > 0;
    }
    FuzzCheck::That((context.PollingActive != 0) == anyInUse, "polling flag out of step");
    FuzzCheck::That(poller.noise == anyInUse, "keep-alive out of step");
  });
}

inline void FuzzClientStream(const std::uint8_t* data, std::size_t size) {
  ServerSettings settings;
  settings.SetPassword(3) = "pw";
  NoSaver saver;
  RequestEngine engine(settings, saver, "v0.0.0.0");
  CheckingSender sender;
  CheckingPoller poller;
  ClientFrameCutter cutters[4];
  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t control = data[at++];
    if (control == 0xFF) {
      if (at >= size) break;
      const auto client = static_cast<std::uint16_t>((data[at++] & 3) + 1);
      cutters[client - 1].Reset();
      engine.ClientDisconnected(sender, &poller, client);
      CheckEngine(engine, poller);
      continue;
    }
    const auto client = static_cast<std::uint16_t>((control & 3) + 1);
    const std::size_t length = std::min<std::size_t>((control >> 2) + 1, size - at);
    const std::string_view piece(reinterpret_cast<const char*>(data + at), length);
    at += length;
    for (const std::string& message : cutters[client - 1].Feed(piece)) {
      FuzzCheck::That(message.size() <= kMaxMessageLength, "cut message longer than a frame");
      engine.DispatchRequest(sender, &poller, client, message);
      CheckEngine(engine, poller);
    }
  }
  for (std::uint16_t client = 1; client <= 4; ++client) engine.ClientDisconnected(sender, &poller, client);
  CheckEngine(engine, poller);
  FuzzCheck::That(poller.listed.empty(), "registers left on the poll list");
}

}  // namespace ecr::testing_support
