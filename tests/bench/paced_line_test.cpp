// The register emulator paced both ways, as the poll-cycle benchmark plays the line: a
// register reacts to the PC's frames only once every byte the PC wrote since the register
// last sent has crossed the line, and its own bytes reach the PC one byte time apart.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "foundation/log_file.h"
#include "line/link_frames.h"
#include "line/simple_com_object.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using Clock = RegisterEmulator::Clock;
using TimedBytes = std::vector<RegisterEmulator::TimedByte>;

constexpr std::uint32_t kBaud = 19200;
constexpr auto kByteTime = std::chrono::nanoseconds(10'000'000'000LL / kBaud);

// Checks every byte the register sent against what came before it: after bytes of the PC,
// no sooner than those bytes and its own have crossed; after a byte of its own, no sooner
// than one byte time later. Returns how many bursts of the PC were answered.
int ExpectPacedBothWays(const TimedBytes& received, const TimedBytes& sent) {
  int bursts = 0;
  Clock::time_point previous{};
  for (const auto& byte : sent) {
    TimedBytes burst;
    for (const auto& pc : received) {
      if (pc.at > previous && pc.at < byte.at) burst.push_back(pc);
    }
    if (!burst.empty()) {
      ++bursts;
      EXPECT_GE(byte.at - burst.front().at, kByteTime * static_cast<Clock::rep>(burst.size() + 1))
          << "a reply after " << burst.size() << " bytes of the PC";
    } else if (previous != Clock::time_point{}) {
      EXPECT_GE(byte.at - previous, kByteTime);
    }
    previous = byte.at;
  }
  return bursts;
}

struct Exchange {
  bool done = false;  // every step of the PC's side went through
  TimedBytes received;
  TimedBytes sent;
};

// Free and take (21 bytes) answered by the status block; the ACK and a command block
// (15 bytes) answered by the register's ACK and its answer block.
Exchange TakeAndCommand() {
  TempDir dir;
  LogFile log(dir.File("line.log"));
  log.Open();
  RegisterEmulator emulator;
  emulator.SetPacing(kBaud, RegisterEmulator::Pacing::BothDirections);
  emulator.AddRegister(7).QueueAnswer("12;OK;");
  TSimpleComObject line;
  line.SetLog(log);
  line.PortName = emulator.PortPath();
  line.SetBaudRate(kBaud);
  line.Open();
  line.FreeEcr();
  std::string status;
  std::string answer;
  const bool done = line.TakeEcr(7, status) == LinkResult::Ok && status == "1007;" &&
                    line.SendBlock("5;") == LinkResult::Ok && line.GetBlock(answer, 8000) == LinkResult::Ok &&
                    answer == "12;OK;";
  return {done, emulator.Received(), emulator.Sent()};
}

TEST(PacedLine, ARegisterReactsOnlyOnceThePcsBytesHaveCrossedTheLine) {
  // The register's answer comes 11.5 ms into the PC's 53 ms wait; a machine that stalls
  // one of the two for longer spoils an attempt, not the timing checked.
  Exchange exchange;
  for (int attempt = 0; attempt < 5 && !exchange.done; ++attempt) exchange = TakeAndCommand();
  ASSERT_TRUE(exchange.done);
  EXPECT_EQ(exchange.sent.size(), EcrDataBlock("1007;").size() + 1 + EcrDataBlock("12;OK;").size());
  EXPECT_EQ(ExpectPacedBothWays(exchange.received, exchange.sent), 2);
}

}  // namespace
}  // namespace ecr
