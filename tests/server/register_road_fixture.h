#pragma once
// The request engine on its own, with recording stand-ins for the socket server and the
// polling thread, for tests of the register-side callbacks: clients open their SETs through
// the ordinary requests, the test raises the polling thread's events by hand.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "tests/server/engine_fakes.h"

namespace ecr::testing_support {

using Lines = std::vector<std::string>;

// A reply with a 13-byte Block on SET 13 shows its receipt reference as
// "ref id/sequence/serial/message".
inline std::string DescribeReply(const ClientMessage& m) {
  std::string text = std::to_string(m.SetNo) + "/" + std::to_string(m.Command) + "/" + std::to_string(m.LogNo) +
                     " err " + std::to_string(m.ErrorCode);
  if (m.Block.size() == 13 && m.SetNo == 13) {
    const auto at = [&m](std::size_t offset, int width) {
      std::uint32_t value = 0;
      for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(m.Block[offset + i]);
      return static_cast<std::int32_t>(value);
    };
    text += " ref " + std::to_string(at(0, 4)) + "/" + std::to_string(at(4, 4)) + "/" + std::to_string(at(8, 4)) +
            "/" + std::to_string(at(12, 1));
  } else if (!m.Block.empty()) {
    text += " block [" + m.Block + "]";
  }
  return text + " [" + m.Payload + "]";
}

inline Lines DescribeAll(const std::vector<SentMessage>& sent) {
  Lines lines;
  for (const SentMessage& one : sent) {
    lines.push_back("to " + std::to_string(one.client) + ": " + DescribeReply(ParseClientMessage(one.message)));
  }
  return lines;
}

struct EngineOnItsOwn {
  static constexpr int kEcr = 7;

  ServerSettings settings;
  CountingSaver saver;
  RecordingSender sender;
  RecordingPoller poller;
  Lines log;
  RequestEngine engine{settings, saver, "v1.0.0.1", [this](const std::string& line) { log.push_back(line); }};

  void Request(std::uint16_t client, int set, int command, std::string_view payload = {}, int logNo = kEcr) {
    engine.DispatchRequest(sender, &poller, client,
                           BuildClientMessage(static_cast<std::uint8_t>(set), static_cast<std::uint8_t>(command),
                                              static_cast<std::uint8_t>(logNo), 0, {}, payload));
  }
  // Opens the SETs, client n holding the n-th; nothing of it stays in the records.
  void OpenSets(std::initializer_list<std::pair<std::uint16_t, int>> owners) {
    for (const auto& [client, set] : owners) Request(client, set, cmdOpen);
    sender.Take();
    poller.Take();
  }
  void Subscribe(std::uint16_t client) {
    Request(client, SubscriberSet, cmdOpen);
    sender.Take();
  }
  Lines Sent() { return DescribeAll(sender.Take()); }
  Lines Calls() { return poller.Take(); }

  Lines Message(const std::string& block) {
    engine.OnEcrMessage(sender, &poller, kEcr, block, 0);
    return Sent();
  }
  TSetDescr Set(int setNo) const { return engine.EcrSnapshot(kEcr).Set(setNo); }
};

}  // namespace ecr::testing_support
