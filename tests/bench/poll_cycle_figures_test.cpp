// The figures of a poll cycle worked out from records of known timing: the window of whole
// cycles, the bytes in it, the line's drains, the server's gaps, failed takes.

#include "bench/poll_cycle_figures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace ecr {
namespace {

using namespace std::chrono_literals;
using Clock = RegisterEmulator::Clock;

// Records of a line at 10000 bit/s (a byte takes 1 ms), written as a script of exchanges
// timed as the emulator paces them: the PC's bytes arrive at once, the register's first
// byte once every byte the PC wrote since the register last sent has crossed, and its own.
// The PC drains its input for 10 ms between its free and take frames.
class Line {
 public:
  static constexpr std::uint32_t kBaud = 10'000;
  static constexpr auto kByte = 1ms;
  static constexpr auto kDrain = 10ms;

  // The PC's free and take frames (11 + 4 bytes), the register's block of `blockBytes`
  // bytes, the PC's ACK `ackGap` after the block's last byte; the next frames of the PC
  // follow `takeGap` after the ACK.
  void Exchange(int ecr, int blockBytes, Clock::duration ackGap, Clock::duration takeGap) {
    FreeAndTake(ecr);
    now_ += (burst_ + 1) * kByte;
    burst_ = 0;
    for (int i = 0; i < blockBytes; ++i) {
      if (i > 0) now_ += kByte;
      record_.ecrBytes.push_back({now_, 'x'});
    }
    now_ += ackGap;
    PcWrites("ACK", 2);
    now_ += takeGap;
  }
  // A take that nobody answers; the PC gives up after `wait`.
  void Unanswered(int ecr, Clock::duration wait) {
    FreeAndTake(ecr);
    now_ += wait;
  }
  // The first take of the next cycle, that closes the last one measured.
  void Close() { FreeAndTake(1); }

  PollCycleFigures Figures() const { return FiguresOf(record_, kBaud, 10, 1); }

 private:
  void FreeAndTake(int ecr) {
    PcWrites("FREE", 11);
    now_ += kDrain;
    PcWrites("TAKE 0" + std::to_string(ecr), 4);
  }

  void PcWrites(const std::string& frame, int bytes) {
    for (int i = 0; i < bytes; ++i) record_.pcBytes.push_back({now_, 0xFF});
    record_.pcFrames.push_back({now_, frame});
    burst_ += bytes;
  }

  PollCycleRecord record_;
  int burst_ = 0;  // bytes the PC wrote since the register last sent
  Clock::time_point now_ = Clock::time_point{} + 1h;
};

TEST(PollCycleFigures, WholeCyclesAfterTheWarmUpGiveTheWireTimeAndTheServersGaps) {
  Line line;
  line.Exchange(1, 9, 5ms, 1ms);  // the warm-up cycle, slower: it is left out
  line.Exchange(2, 9, 5ms, 1ms);
  for (int cycle = 0; cycle < 3; ++cycle) {
    line.Exchange(1, 9, 40us, 10us);
    line.Exchange(2, 9, 60us, 30us);
  }
  line.Close();
  const PollCycleFigures f = line.Figures();
  EXPECT_EQ(f.cycles, 3);
  EXPECT_EQ(f.takes, 6);
  EXPECT_EQ(f.failedTakes, 0);
  // Per register: free 11, take 4, block 9, ACK 2.
  EXPECT_DOUBLE_EQ(f.bytesPerCycle, 52);
  EXPECT_DOUBLE_EQ(f.byteTimeMs, 1);
  EXPECT_DOUBLE_EQ(f.wireMs, 52);
  EXPECT_DOUBLE_EQ(f.drainMs, 20);
  // Each block's last byte comes 26 byte times and a drain after the PC's ACK before it (the
  // 17 bytes of ACK, free and take, the block's 9): a cycle is the wire time, the drains
  // and the gaps.
  EXPECT_NEAR(f.cycleMs, 72.14, 1e-9);
  EXPECT_NEAR(f.CycleOverLine(), 72.14 / 72, 1e-9);
  EXPECT_NEAR(f.ackGapUs, 50, 1e-9);  // the median of 40, 60
  EXPECT_NEAR(f.takeGapUs, 20, 1e-9);
  EXPECT_NEAR(f.serverMs, 0.14, 1e-9);
  EXPECT_NEAR(f.GapInByteTimes(), 0.05, 1e-9);
  EXPECT_NEAR(f.RestMs(), 0, 1e-9);
}

TEST(PollCycleFigures, AnUnansweredTakeCountsAsFailedAndGivesNoGaps) {
  Line line;
  line.Exchange(1, 9, 40us, 10us);
  line.Exchange(2, 9, 40us, 10us);
  line.Exchange(1, 9, 40us, 10us);
  line.Unanswered(2, 60ms);
  line.Exchange(1, 9, 40us, 10us);
  line.Exchange(2, 9, 40us, 10us);
  line.Close();
  const PollCycleFigures f = line.Figures();
  EXPECT_EQ(f.cycles, 2);
  EXPECT_EQ(f.takes, 4);
  EXPECT_EQ(f.failedTakes, 1);
  EXPECT_DOUBLE_EQ(f.bytesPerCycle, (3 * 26 + 15) / 2.0);
  EXPECT_NEAR(f.ackGapUs, 40, 1e-9);
  EXPECT_NEAR(f.takeGapUs, 10, 1e-9);
  EXPECT_NEAR(f.serverMs, 3 * 0.05 / 2, 1e-9);
  // The failed take drained too: its drain is the line's, its wait the rest.
  EXPECT_DOUBLE_EQ(f.drainMs, 4 * 10 / 2.0);
  EXPECT_NEAR(f.RestMs(), 60 / 2.0, 1e-9);
}

TEST(PollCycleFigures, TooFewTakesGiveNoCycle) {
  Line line;
  line.Exchange(1, 9, 40us, 10us);  // the warm-up
  line.Close();                     // its end: no cycle after it
  const PollCycleFigures f = line.Figures();
  EXPECT_EQ(f.cycles, 0);
  EXPECT_EQ(f.cycleMs, 0);
  EXPECT_EQ(f.CycleOverLine(), 0);
  EXPECT_EQ(FiguresOf(PollCycleRecord{}, 4800, 10, 1).cycles, 0);
}

}  // namespace
}  // namespace ecr
