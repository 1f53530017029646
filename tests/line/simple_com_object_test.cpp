// The serial register line against the register emulator on a real pseudo-terminal.

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "line/comm_error.h"
#include "line/link_deadline.h"
#include "line/link_crc.h"
#include "platform/tick_count.h"
#include "tests/line/line_fixture.h"

namespace ecr {
namespace {

int Count(const std::vector<std::string>& frames, const std::string& frame) {
  return static_cast<int>(std::count(frames.begin(), frames.end(), frame));
}

class SerialLine : public LineOnEmulator {
 protected:
  SerialLine() {
    emulator_.AddRegister(7);
    OpenLine();
  }

  // Takes register 7, which answers. On a loaded machine the emulator's thread may be held
  // past the line's first-LF wait, and the take then rightly times out; where the take only
  // leads to what a test is about, it is tried again once the late answer has come.
  LinkResult TakeAnsweringRegister(std::string& block) {
    LinkResult result = line_.TakeEcr(7, block);
    for (int retry = 0; retry < 4 && result == LinkResult::TimeOut; ++retry) {
      emulator_.WaitFor([] { return false; }, 100ms);
      result = line_.TakeEcr(7, block);
    }
    return result;
  }
};

TEST_F(SerialLine, TakeReadsTheStatusBlockAndAcknowledgesIt) {
  std::string block;
  EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Ok);
  EXPECT_EQ(block, "1007;");
  ASSERT_TRUE(emulator_.WaitForFrames("ACK", 1, 5s));
  EXPECT_EQ(emulator_.ReceivedBytes(), TakeFrame(7) + AckFrame());
  EXPECT_EQ(emulator_.ReceivedBytes().substr(0, 4), std::string("\x11\x11\x30\x37"));
}

TEST_F(SerialLine, FreeFrameAndDataBlockAtEverySpeed) {
  for (const LinkSpeed& speed : SpeedTable) {
    SCOPED_TRACE(speed.Speed);
    line_.SetBaudRate(speed.Speed);
    EXPECT_EQ(line_.SpeedIndex(), FindSpeedIndex(speed.Speed));
    EXPECT_EQ(line_.PortSpeed(), speed.Speed);
    std::string block;
    ASSERT_EQ(TakeAnsweringRegister(block), LinkResult::Ok);
    ASSERT_TRUE(emulator_.WaitForFrames("ACK", 1, 5s));
    emulator_.ClearRecord();
    EXPECT_EQ(line_.SendBlock("ABCDE"), LinkResult::Ok);
    line_.FreeEcr();
    const std::string expected = PcDataBlock("ABCDE", speed.FillCount) + FreeFrame(speed.FillCount);
    ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.ReceivedBytes().size() >= expected.size(); }, 5s));
    EXPECT_EQ(emulator_.ReceivedBytes(), expected);
    emulator_.ClearRecord();
  }
}

// Wire times of the frames below at 9600 bit/s (10416 tenths of a microsecond a byte).
constexpr long long kTakeFrameMs = 5;  // 4 bytes
// Every take begins by draining the input for 10 ms.
constexpr long long kDrainMs = 10;

// Milliseconds on the line's own clock since its last write began: the take frame after a
// take that failed, the block after a send that no acknowledgement ended.
long long SinceLastWrite(const TSimpleComObject& line) { return TicksSince(line.LastWriteTick()); }

TEST_F(SerialLine, TakeResultsOfMisbehavingRegisters) {
  // A take drains the input for 10 ms, writes its take frame, then awaits the first LF for
  // the frame's wire time + 50 ms and every later byte for 100 ms after the one before. Each
  // take is timed from before the call, so the lower bounds are exact; the ceilings bound
  // the least of a few tries.
  constexpr long long kFirstLf = kTakeFrameMs + 50;
  constexpr long long kByteGap = 100;
  struct Case {
    const char* name;
    std::function<void(EmulatedRegister&)> script;
    LinkResult result;
    long long specifiedMs;  // after the drain
  };
  const std::vector<Case> cases = {
      {"silent", [](EmulatedRegister& r) { r.StaySilent(EmulatorReply::Take, 1); }, LinkResult::TimeOut, kFirstLf},
      {"answers too late", [](EmulatedRegister& r) { r.AnswerLate(EmulatorReply::Take, 400ms); }, LinkResult::TimeOut,
       kFirstLf},
      {"stops after the LF", [](EmulatedRegister& r) { r.StopAfterLf(EmulatorReply::Take, 1); }, LinkResult::ByteTimeOut,
       kByteGap},
      {"bad CRC", [](EmulatedRegister& r) { r.SendBadCrc(EmulatorReply::Take, 1); }, LinkResult::BadCrc, 0},
      {"noise before the LF", [](EmulatedRegister& r) { r.SendNoiseBeforeLf("\xFE\xFE\xFF\x06\x13"); }, LinkResult::Ok, 0},
      {"a second LF starts the block again", [](EmulatedRegister& r) { r.SendNoiseBeforeLf("\nxy"); }, LinkResult::Ok, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedRegister& reg = emulator_.Register(7);
    const long long ceiling = kDrainMs + c.specifiedMs + kSchedulingMarginMs;
    const long long least = LeastOfTries(ceiling, [&] {
      reg.Behave();
      c.script(reg);
      emulator_.ClearRecord();
      std::string block = "stale";
      const auto start = SteadyClock::now();
      const LinkResult result = line_.TakeEcr(7, block);
      const long long took = MillisecondsSince(start);
      EXPECT_EQ(result, c.result);
      EXPECT_GE(took, kDrainMs + c.specifiedMs);
      EXPECT_EQ(block, result == LinkResult::Ok ? "1007;" : "");
      emulator_.WaitFor([] { return false; }, 50ms);
      const auto frames = emulator_.ReceivedFrames();
      EXPECT_EQ(Count(frames, "ACK"), result == LinkResult::Ok ? 1 : 0);
      EXPECT_EQ(Count(frames, "NAK"), 0);
      reg.Behave();
      emulator_.WaitFor([] { return false; }, 450ms);  // a late answer arrives before the next try
      return took;
    });
    EXPECT_LE(least, ceiling);
  }
}

TEST_F(SerialLine, TheFirstLfIsAwaitedForTheTakeFramesWireTimePlus50Ms) {
  emulator_.Register(7).StaySilent(EmulatorReply::Take);
  const std::vector<std::pair<std::uint32_t, long long>> takeFrameMs = {{1200, 34}, {4800, 9}, {9600, 5}, {38400, 2}};
  for (const auto& [baud, wireMs] : takeFrameMs) {
    SCOPED_TRACE(baud);
    line_.SetBaudRate(baud);
    const long long ceiling = wireMs + 50 + kSchedulingMarginMs;
    const long long least = LeastOfTries(ceiling, [&] {
      std::string block;
      EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::TimeOut);
      const long long waited = SinceLastWrite(line_);
      EXPECT_GT(waited, wireMs + 50);
      return waited;
    });
    EXPECT_LE(least, ceiling);
  }
}

TEST_F(SerialLine, WhatArrivesWhileTheTakeDrainsTheLineIsNotTakenAsTheBlock) {
  // 3 ms after a take begins, the line receives the end of an earlier block and a whole
  // block with a good CRC (a register answering its own take late, say). The take drains
  // the input for 10 ms before it writes its take frame, so these bytes are thrown away and
  // the register's own answer, or its silence, decides the take.
  const std::string late = std::string("5;\r\x4E\x21") + EcrDataBlock("1003;");
  struct Case {
    const char* name;
    std::function<void(EmulatedRegister&)> script;
    LinkResult result;
    std::string block;
  };
  const std::vector<Case> cases = {
      {"silent register", [](EmulatedRegister& r) { r.StaySilent(EmulatorReply::Take, 1); }, LinkResult::TimeOut, ""},
      {"register answering 30 ms late", [](EmulatedRegister& r) { r.AnswerLate(EmulatorReply::Take, 30ms); },
       LinkResult::Ok, "1007;"},
      {"register answering at once", [](EmulatedRegister&) {}, LinkResult::Ok, "1007;"},
  };
  // Bytes written this soon after the take began reach the line before its drain has ended
  // (the drain begins after the call and lasts 10 ms; the terminal passes them on meanwhile).
  // Later ones, on a loaded machine, may rightly be read as the block: such a try is not
  // judged. Nor is a try where a register that answers is held past the first-LF wait by a
  // loaded machine, and the take rightly times out.
  constexpr auto kSurelyWithinTheDrain = 5ms;
  const long long ceiling = kDrainMs + kSchedulingMarginMs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedRegister& reg = emulator_.Register(7);
    bool judged = false;  // a try whose bytes surely came within the drain
    long long leastDelay = std::numeric_limits<long long>::max();
    for (int run = 0; run < 10 && !(judged && leastDelay <= ceiling); ++run) {
      reg.Behave();
      c.script(reg);
      emulator_.ClearRecord();
      std::string block = "stale";
      // Both threads are ready before the take begins, so the bytes come 3 ms into it.
      const auto start = SteadyClock::now() + 20ms;
      RegisterEmulator::Clock::time_point lateAt;
      std::thread sender([&] {
        std::this_thread::sleep_until(start + 3ms);
        lateAt = emulator_.SendOutOfTurn(late);
      });
      std::this_thread::sleep_until(start);
      const LinkResult result = line_.TakeEcr(7, block);
      sender.join();
      ASSERT_TRUE(emulator_.WaitForFrames("TAKE 07", 1, 5s));
      const auto takeAt = emulator_.ReceivedTimedFrames().front().at;
      // The take frame leaves once the drain is over: never sooner than 10 ms after the call.
      const long long delay = std::chrono::duration_cast<std::chrono::milliseconds>(takeAt - start).count();
      EXPECT_GE(delay, kDrainMs);
      leastDelay = std::min(leastDelay, delay);
      if (lateAt - start <= kSurelyWithinTheDrain && (c.result == LinkResult::TimeOut || result != LinkResult::TimeOut)) {
        judged = true;
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(block, c.block);
      }
      reg.Behave();
      emulator_.WaitFor([] { return false; }, 100ms);  // a late answer arrives before the next try
    }
    EXPECT_TRUE(judged) << "the bytes never came early enough";
    EXPECT_LE(leastDelay, ceiling);
  }
}

TEST_F(SerialLine, NoiseBeforeTheLfDoesNotMoveTheDeadline) {
  // Keep-alive bytes every 30 ms for 1.2 s, the block after them: were each noise byte to
  // renew the 50 ms wait, the take would last until the block.
  emulator_.Register(7).SendNoiseBeforeLf(std::string(40, '\xFE'), 30ms);
  const std::size_t sentByTheRegister = 40 + EcrDataBlock("1007;").size();
  const long long ceiling = kTakeFrameMs + 50 + kSchedulingMarginMs;
  const long long least = LeastOfTries(ceiling, [&] {
    emulator_.ClearRecord();
    std::string block;
    EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::TimeOut);
    const long long waited = SinceLastWrite(line_);
    // The noise and the block have gone out before the next try.
    EXPECT_TRUE(emulator_.WaitFor([&] { return emulator_.Sent().size() >= sentByTheRegister; }, 5s));
    return waited;
  });
  EXPECT_LE(least, ceiling);
}

TEST_F(SerialLine, APacedRegisterTakesItsTimeOnTheWire) {
  // At 1200 bit/s the 9 bytes of "1007;" need 75 ms; the 8 gaps after the LF alone 66 ms.
  line_.SetBaudRate(1200);
  emulator_.SetPacing(1200);
  const long long ceiling = kDrainMs + 75 + kSchedulingMarginMs;
  const long long least = LeastOfTries(ceiling, [&] {
    std::string block;
    const auto start = SteadyClock::now();
    EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Ok);
    const long long took = MillisecondsSince(start);
    EXPECT_EQ(block, "1007;");
    EXPECT_GE(took, kDrainMs + 66);
    return took;
  });
  EXPECT_LE(least, ceiling);
}

TEST_F(SerialLine, BlockRefusedByTheAcceptHookIsReturnedWithoutAck) {
  std::vector<std::string> offered;
  line_.OnTakeBlock = [&](TBasicCommunicationObject& sender, std::uint8_t ecr, const std::string& block, bool& accept) {
    EXPECT_EQ(&sender, &line_);
    EXPECT_EQ(ecr, 7);
    offered.push_back(block);
    accept = false;
  };
  std::string block;
  EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Refused);
  EXPECT_EQ(block, "1007;");
  EXPECT_EQ(offered, std::vector<std::string>{"1007;"});
  emulator_.WaitFor([] { return false; }, 100ms);
  EXPECT_EQ(emulator_.ReceivedFrames(), std::vector<std::string>{"TAKE 07"});
}

TEST_F(SerialLine, UnknownRegisterTimesOut) {
  std::string block;
  EXPECT_EQ(line_.TakeEcr(8, block), LinkResult::TimeOut);
}

TEST_F(SerialLine, SendBlockRepeatsANakedBlockEightTimesAtMost) {
  for (const auto& [naks, result] : std::vector<std::pair<int, LinkResult>>{{8, LinkResult::Ok}, {9, LinkResult::Nak}}) {
    SCOPED_TRACE(naks);
    std::string block;
    ASSERT_EQ(TakeAnsweringRegister(block), LinkResult::Ok);
    ASSERT_TRUE(emulator_.WaitForFrames("ACK", 1, 5s));
    emulator_.ClearRecord();
    emulator_.Register(7).NakNext(naks);
    EXPECT_EQ(line_.SendBlock("CMD"), result);
    EXPECT_EQ(Count(emulator_.ReceivedFrames(), "BLOCK CMD"), 9);
    line_.FreeEcr();
    emulator_.ClearRecord();
  }
}

TEST_F(SerialLine, EveryTransmissionGetsItsOwnAnswerTime) {
  // Each NAK comes 50 ms after its block, 450 ms in all: far beyond one 200 ms wait, and
  // each well within its own on a loaded machine.
  std::string block;
  ASSERT_EQ(TakeAnsweringRegister(block), LinkResult::Ok);
  emulator_.Register(7).NakNext(8).AcknowledgeLate(50ms);
  const auto start = SteadyClock::now();
  EXPECT_EQ(line_.SendBlock("CMD"), LinkResult::Ok);
  EXPECT_GE(MillisecondsSince(start), 400);
}

TEST_F(SerialLine, AnUnacknowledgedBlockIsAwaitedForItsWireTimePlus200Ms) {
  // Nobody is taken, so nobody acknowledges. The block "CMD" is its fill, LF, 3 bytes, CR
  // and 2 CRC bytes: 8 bytes at 1200 bit/s, 16 at 9600.
  const std::vector<std::pair<std::uint32_t, long long>> blockMs = {{1200, 67}, {9600, 17}};
  for (const auto& [baud, wireMs] : blockMs) {
    SCOPED_TRACE(baud);
    line_.SetBaudRate(baud);
    const long long ceiling = wireMs + 200 + kSchedulingMarginMs;
    const long long least = LeastOfTries(ceiling, [&] {
      EXPECT_EQ(line_.SendBlock("CMD"), LinkResult::TimeOut);
      const long long waited = SinceLastWrite(line_);
      EXPECT_GT(waited, wireMs + 200);
      return waited;
    });
    EXPECT_LE(least, ceiling);
  }
}

TEST_F(SerialLine, GetBlockNaksBadBlocksEightTimesAtMost) {
  struct Case {
    const char* name;
    std::function<void(EmulatedRegister&)> script;
    LinkResult result;
    std::string answer;
    int naks;
  };
  const std::vector<Case> cases = {
      {"good answer", [](EmulatedRegister&) {}, LinkResult::Ok, "ANS", 0},
      {"eight bad answers", [](EmulatedRegister& r) { r.SendBadCrc(EmulatorReply::Answer, 8); }, LinkResult::Ok, "ANS", 8},
      {"nine bad answers", [](EmulatedRegister& r) { r.SendBadCrc(EmulatorReply::Answer, 9); }, LinkResult::Nak, "", 8},
      {"stops after the LF", [](EmulatedRegister& r) { r.StopAfterLf(EmulatorReply::Answer, 1); }, LinkResult::ByteTimeOut, "",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedRegister& reg = emulator_.Register(7);
    reg.Behave().SetResponder([](const std::string&) { return std::string("ANS"); });
    std::string block;
    ASSERT_EQ(TakeAnsweringRegister(block), LinkResult::Ok);
    c.script(reg);
    ASSERT_TRUE(emulator_.WaitForFrames("ACK", 1, 5s));
    emulator_.ClearRecord();
    ASSERT_EQ(line_.SendBlock("CMD"), LinkResult::Ok);
    std::string answer = "stale";
    EXPECT_EQ(line_.GetBlock(answer, 2000), c.result);
    EXPECT_EQ(answer, c.answer);
    emulator_.WaitFor([] { return false; }, 50ms);
    EXPECT_EQ(Count(emulator_.ReceivedFrames(), "NAK"), c.naks);
    line_.FreeEcr();
    emulator_.ClearRecord();
  }
}

TEST_F(SerialLine, GetBlockWaitsItsTimeOutForASilentRegister) {
  // From the start of the block "CMD" (16 bytes, 17 ms on the wire), on the line's own clock.
  const long long ceiling = 500 + 17 + kSchedulingMarginMs;
  const long long least = LeastOfTries(ceiling, [&] {
    std::string block;
    EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Ok);
    emulator_.Register(7).StaySilent(EmulatorReply::Answer, 1);
    EXPECT_EQ(line_.SendBlock("CMD"), LinkResult::Ok);
    const std::uint32_t sentAt = line_.LastWriteTick();
    std::string answer;
    EXPECT_EQ(line_.GetBlock(answer, 500), LinkResult::TimeOut);
    const long long waited = TicksSince(sentAt);
    EXPECT_GT(waited, 500 + 17);
    line_.FreeEcr();
    return waited;
  });
  EXPECT_LE(least, ceiling);
}

TEST_F(SerialLine, SilenceAfterANakEndsInAByteTimeOutAfter100Ms) {
  // The NAK (2 bytes, 3 ms on the wire) is the line's last write; on the line's own clock.
  const long long ceiling = 3 + 100 + kSchedulingMarginMs;
  const long long least = LeastOfTries(ceiling, [&] {
    std::string block;
    EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Ok);
    emulator_.Register(7).SendBadCrc(EmulatorReply::Answer, 1).StaySilent(EmulatorReply::Answer, 1);
    EXPECT_EQ(line_.SendBlock("CMD"), LinkResult::Ok);
    emulator_.ClearRecord();
    std::string answer = "stale";
    EXPECT_EQ(line_.GetBlock(answer, 2000), LinkResult::ByteTimeOut);
    const long long waited = SinceLastWrite(line_);
    EXPECT_EQ(answer, "");
    EXPECT_GT(waited, 3 + 100);
    emulator_.WaitFor([] { return false; }, 50ms);
    EXPECT_EQ(Count(emulator_.ReceivedFrames(), "NAK"), 1);
    line_.FreeEcr();
    return waited;
  });
  EXPECT_LE(least, ceiling);
}

TEST_F(SerialLine, CloseSendsAFreeFrameAndCloseOnAClosedLineDoesNothing) {
  line_.Close();
  EXPECT_FALSE(line_.IsOpen());
  ASSERT_TRUE(emulator_.WaitForFrames("FREE", 1, 5s));
  EXPECT_EQ(emulator_.ReceivedBytes(), FreeFrame(9));
  line_.Close();
  line_.Open();  // the port was released
  EXPECT_TRUE(line_.IsOpen());
}

TEST_F(SerialLine, AnUnlistedSpeedHasNoFillCount) {
  line_.SetBaudRate(57600);
  EXPECT_EQ(line_.SpeedIndex(), -1);
  EXPECT_THROW(line_.FreeEcr(), std::out_of_range);
  EXPECT_THROW(line_.SendBlock("X"), std::out_of_range);
  std::string block;
  EXPECT_EQ(TakeAnsweringRegister(block), LinkResult::Ok);
  EXPECT_NO_THROW(line_.Close());
  EXPECT_FALSE(line_.IsOpen());
}

// Every keep-alive comes after more than 330 ms of silence since the byte before it. The
// times are those at which the emulator read the bytes, late by a scheduling delay each on a
// busy machine; a keep-alive on a busy line would follow its byte within about 100 ms.
void ExpectKeepAlivesOnlyAfterSilence(const std::vector<RegisterEmulator::TimedByte>& bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i].byte != 0xFE || bytes[i + 1].byte != 0xFE) continue;
    if (i > 0) {
      const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(bytes[i].at - bytes[i - 1].at);
      EXPECT_GE(gap.count(), 250) << "keep-alive at byte " << i;
    }
    ++i;
  }
}

TEST_F(SerialLine, KeepAliveFillsSilenceButNotABusyLine) {
  line_.StartNoise();
  // Busy: an exchange every 100 ms for 1.5 s.
  const auto busyUntil = SteadyClock::now() + 1500ms;
  while (SteadyClock::now() < busyUntil) {
    std::string block;
    line_.TakeEcr(7, block);
    emulator_.WaitFor([] { return false; }, 100ms);
  }
  // Then silent: keep-alives follow, about every 330 ms.
  EXPECT_TRUE(emulator_.WaitForFrames("NOISE", 3, 5s));
  const auto bytes = emulator_.Received();
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_NE(bytes[0].byte, 0xFE);
  ExpectKeepAlivesOnlyAfterSilence(bytes);
}

TEST_F(SerialLine, KeepAliveComesOnceTheLineHasBeenSilent330MsAfterTheLastTransmission) {
  // One transmission on an otherwise silent line; the keep-alive follows once the line has
  // been silent for more than 330 ms after the transmission's end, at the keep-alive
  // thread's next pass (one every 100 ms). Timed from before the write to the keep-alive's
  // arrival at the register: never shorter than the silence, so the lower bound is exact.
  struct Case {
    const char* name;
    std::uint32_t baud;
    std::function<void()> transmit;
    const char* frame;
    long long wireMs;
  };
  const std::vector<Case> cases = {
      {"a free frame at 9600 bit/s (21 bytes)", 9600, [&] { line_.FreeEcr(); }, "FREE", 22},
      {"a long block at 1200 bit/s (205 bytes)", 1200, [&] { EXPECT_EQ(line_.SendBlock(std::string(200, 'x')), LinkResult::Ok); },
       nullptr, 1709},
  };
  line_.StartNoise();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line_.SetBaudRate(c.baud);
    const std::string frame = c.frame != nullptr ? c.frame : "BLOCK " + std::string(200, 'x');
    const long long ceiling = c.wireMs + 330 + 100 + kSchedulingMarginMs;
    const long long least = LeastOfTries(ceiling, [&] {
      std::string block;
      EXPECT_EQ(line_.TakeEcr(7, block), LinkResult::Ok);  // the register acknowledges the block
      emulator_.ClearRecord();
      const auto start = SteadyClock::now();
      c.transmit();
      // The first keep-alive after the transmission (one written just before it may come first).
      std::optional<RegisterEmulator::Clock::time_point> keepAliveAt;
      const bool came = emulator_.WaitFor(
          [&] {
            bool sent = false;
            for (const auto& f : emulator_.ReceivedTimedFrames()) {
              if (f.text == frame) sent = true;
              if (sent && f.text == "NOISE") {
                keepAliveAt = f.at;
                return true;
              }
            }
            return false;
          },
          5s);
      if (!came) {
        ADD_FAILURE() << "no keep-alive";
        return std::numeric_limits<long long>::max();
      }
      const auto silence = std::chrono::duration_cast<std::chrono::microseconds>(*keepAliveAt - start).count();
      EXPECT_GT(silence, (c.wireMs + 330) * 1000);
      return static_cast<long long>((silence + 999) / 1000);
    });
    EXPECT_LE(least, ceiling);
  }
}

TEST_F(SerialLine, OnASilentLineEachKeepAliveFollowsTheLastAtTheFirstPassAfter330Ms) {
  // Each keep-alive (2 bytes, 3 ms at 9600 bit/s) is the last transmission before the next
  // one, which comes once the line has been silent for more than 330 ms after its end, at
  // the keep-alive thread's first pass after that (one every 100 ms). The gaps are taken
  // between the line's own write ticks; a late pass only lengthens a gap, so the least of
  // them is bounded.
  constexpr long long kKeepAliveMs = 3;
  line_.StartNoise();
  std::vector<std::uint32_t> writes;
  std::uint32_t last = line_.LastWriteTick();
  const auto giveUp = SteadyClock::now() + 10s;
  while (writes.size() < 6 && SteadyClock::now() < giveUp) {
    std::this_thread::sleep_for(1ms);
    const std::uint32_t tick = line_.LastWriteTick();
    if (tick == last) continue;
    writes.push_back(tick);
    last = tick;
  }
  ASSERT_EQ(writes.size(), 6u);
  long long least = std::numeric_limits<long long>::max();
  for (std::size_t i = 1; i < writes.size(); ++i) {
    const long long gap = ElapsedTicks(writes[i - 1], writes[i]);
    EXPECT_GT(gap, kKeepAliveMs + 330) << "keep-alive " << i;
    least = std::min(least, gap);
  }
  EXPECT_LE(least, kKeepAliveMs + 330 + 100 + kSchedulingMarginMs);
  EXPECT_TRUE(emulator_.WaitForFrames("NOISE", 6, 5s));  // the writes were keep-alives
}

TEST_F(SerialLine, StartAndStopNoiseInEveryState) {
  const auto noiseWithin = [&](std::chrono::milliseconds span) {
    emulator_.ClearRecord();
    return emulator_.WaitForFrames("NOISE", 1, span);
  };
  line_.StopNoise();  // suspended already: no change
  EXPECT_FALSE(noiseWithin(700ms));
  line_.StartNoise();
  EXPECT_TRUE(noiseWithin(2s));
  line_.StartNoise();  // running already: still one keep-alive stream
  emulator_.ClearRecord();
  emulator_.WaitFor([] { return false; }, 1500ms);
  ExpectKeepAlivesOnlyAfterSilence(emulator_.Received());
  line_.StopNoise();
  emulator_.WaitFor([] { return false; }, 300ms);  // the pass under way ends
  EXPECT_FALSE(noiseWithin(800ms));
  line_.StopNoise();
  EXPECT_FALSE(noiseWithin(500ms));
  line_.StopNoise();
  line_.StartNoise();  // a stop withdrawn before it took effect
  EXPECT_TRUE(noiseWithin(2s));
  line_.StopNoise();
  line_.StartNoise();
  emulator_.WaitFor([] { return false; }, 300ms);
  EXPECT_TRUE(noiseWithin(2s));

  line_.Close();
  EXPECT_NO_THROW(line_.StartNoise());
  EXPECT_NO_THROW(line_.StopNoise());
}

TEST_F(SerialLine, AnOpenIdleLineCostsNoCpu) {
  line_.StartNoise();
  const long long before = ProcessCpuMs();
  emulator_.WaitFor([] { return false; }, 2s);
  // Keep-alive passes every 100 ms and the emulator reading them: a few milliseconds.
  EXPECT_LT(ProcessCpuMs() - before, 200);
  EXPECT_GE(Count(emulator_.ReceivedFrames(), "NOISE"), 2);
}

TEST(SerialLineErrors, OpenFailuresRaiseTheirTexts) {
  TempDir dir;
  RegisterEmulator emulator;
  {
    TSimpleComObject line;
    line.PortName = dir.File("missing");
    line.SetBaudRate(9600);
    EXPECT_THROW(
        try { line.Open(); } catch (const ECommError& e) {
          EXPECT_EQ(std::string(e.what()), "Unable to open port " + line.PortName + "!");
          throw;
        },
        ECommError);
    EXPECT_FALSE(line.IsOpen());
  }
  {
    const std::string plain = dir.File("plain");
    std::FILE* f = std::fopen(plain.c_str(), "w");
    std::fclose(f);
    TSimpleComObject line;
    line.PortName = plain;
    line.SetBaudRate(9600);
    try {
      line.Open();
      ADD_FAILURE() << "opened a plain file";
    } catch (const ECommError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to configure port " + plain + "!");
    }
    EXPECT_FALSE(line.IsOpen());
  }
  {
    TSimpleComObject first;
    TSimpleComObject second;
    first.PortName = second.PortName = emulator.PortPath();
    first.SetBaudRate(4800);
    second.SetBaudRate(4800);
    first.Open();
    try {
      first.Open();
      ADD_FAILURE();
    } catch (const ECommError& e) {
      EXPECT_EQ(std::string(e.what()), "Port " + emulator.PortPath() + " already taken!");
    }
    try {
      second.Open();
      ADD_FAILURE();
    } catch (const ECommError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to open port " + emulator.PortPath() + "!");
    }
  }
  {
    ::setenv("ECR_REGISTRY", dir.Path().c_str(), 1);
    TSimpleComObject line;
    line.PortName = "COM42";
    try {
      line.Open();
      ADD_FAILURE();
    } catch (const ECommError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to open port COM42!");
    }
    ::unsetenv("ECR_REGISTRY");
  }
}

TEST(SerialLineErrors, EveryExchangeOnAClosedLineRaisesPortNotOpen) {
  TSimpleComObject line;
  line.PortName = "COM5";
  line.SetBaudRate(9600);
  std::string block;
  const std::vector<std::function<void()>> exchanges = {
      [&] { line.TakeEcr(1, block); },
      [&] { line.FreeEcr(); },
      [&] { line.SendBlock("X"); },
      [&] { line.GetBlock(block, 10); },
  };
  for (const auto& exchange : exchanges) {
    try {
      exchange();
      ADD_FAILURE() << "no exception";
    } catch (const ECommError& e) {
      EXPECT_EQ(std::string(e.what()), "Port not open COM5!");
    }
  }
  EXPECT_NO_THROW(line.Close());
}

TEST(TransmitTimeTest, ByteTimeInTenthsOfAMicrosecondAndWholeMillisecondsRoundedUp) {
  struct Case {
    std::uint32_t baud;
    std::uint32_t byteTime;  // 100,000,000 div baud
    std::size_t bytes;
    std::uint32_t ms;
  };
  const std::vector<Case> cases = {
      {9600, 10416, 10, 11},      // 104,160 tenths of a microsecond
      {9600, 10416, 4, 5},        // a take frame
      {9600, 10416, 625, 651},    // 6,510,000: exactly 651 ms, not one more
      {9600, 10416, 0, 0},
      {1200, 83333, 1, 9},
      {1200, 83333, 12, 100},     // 999,996
      {1200, 83333, 255, 2125},   // 21,249,915
      {2400, 41666, 4, 17},
      {4800, 20833, 48, 100},     // 999,984
      {14400, 6944, 4, 3},
      {19200, 5208, 2, 2},
      {28800, 3472, 3, 2},
      {38400, 2604, 4, 2},
      {38400, 2604, 1, 1},
      {10000, 10000, 5, 5},       // whole milliseconds stay as they are
      {57600, 1736, 6, 2},        // a speed outside the table has its times too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + " bit/s, " + std::to_string(c.bytes) + " bytes");
    TSimpleComObject line;
    line.SetBaudRate(c.baud);
    EXPECT_EQ(line.BaudRate(), c.baud);
    EXPECT_EQ(line.ByteTime(), c.byteTime);
    EXPECT_EQ(line.TransmitTime(c.bytes), c.ms);
  }
}

TEST(LinkDeadlineTest, PassesOnlyAfterItsSpanAcrossTheWrapAndFromAFutureBase) {
  struct Case {
    const char* name;
    std::uint32_t base;
    std::uint32_t span;
    std::uint32_t now;
    bool passed;
  };
  const std::vector<Case> cases = {
      {"within the span", 1000, 50, 1050, false},
      {"just past the span", 1000, 50, 1051, true},
      {"base before the wrap, now within the span after it", 0xFFFFFFF0u, 50, 0x00000010u, false},
      {"base before the wrap, now past the span after it", 0xFFFFFFF0u, 50, 0x00000023u, true},
      {"base a moment in the future", 1000, 100, 990, false},
      {"the longest span", 0, 0xFFFFFFFFu, 0x7FFFFFFFu, false},
  };
  for (const Case& c : cases) EXPECT_EQ((LinkDeadline{c.base, c.span}.PassedAt(c.now)), c.passed) << c.name;
}

TEST(SerialLineWrap, DeadlinesHoldAcrossTheTickWrap) {
  RegisterEmulator emulator;
  emulator.AddRegister(7);
  // A tick counter 300 ms before its wrap.
  const std::uint32_t offset = 0xFFFFFFFFu - 300u - TickCount();
  TSimpleComObject line([offset] { return TickCount() + offset; });
  line.PortName = emulator.PortPath();
  line.SetBaudRate(9600);
  line.Open();
  line.StartNoise();
  std::string block;
  const auto start = SteadyClock::now();
  int takes = 0;
  int goodAfterTheWrap = 0;
  // Take exchanges, good and silent, until well past the wrap. Every time-out comes after
  // the drain and the whole first-LF wait, never earlier; a good register's take may time
  // out too when a loaded machine keeps the emulator from answering within that wait. A
  // fault of the wrap would make the takes around it end at once or never: each take is
  // bounded on its own, loosely, as one try of a loaded machine may be late (a hold of the
  // whole process shows as a take of a few hundred milliseconds); the least of the silent
  // takes after the wrap is held to the margin of the other tests. The late answer of a good
  // register's take that timed out may still come while the next take waits: that silent
  // take's result is not judged.
  constexpr long long kOneTryMarginMs = 1000;
  long long leastSilentAfterTheWrap = std::numeric_limits<long long>::max();
  bool lateAnswerMayCome = false;
  while (MillisecondsSince(start) < 900) {
    const bool silent = takes % 2 == 1;
    emulator.Register(7).StaySilent(EmulatorReply::Take, silent ? 1 : 0);
    const auto takeStart = SteadyClock::now();
    const LinkResult result = line.TakeEcr(7, block);
    const long long took = MillisecondsSince(takeStart);
    if (silent) {
      if (!lateAnswerMayCome) {
        EXPECT_EQ(result, LinkResult::TimeOut) << takes;
      }
    } else if (result != LinkResult::TimeOut) {
      EXPECT_EQ(result, LinkResult::Ok) << takes;
      if (MillisecondsSince(start) > 400) ++goodAfterTheWrap;
    }
    if (result == LinkResult::TimeOut) {
      EXPECT_GE(took, kDrainMs + kTakeFrameMs + 50) << takes;
    }
    EXPECT_LE(took, kDrainMs + kTakeFrameMs + 50 + kOneTryMarginMs) << takes;
    if (silent && !lateAnswerMayCome && MillisecondsSince(start) > 400)
      leastSilentAfterTheWrap = std::min(leastSilentAfterTheWrap, took);
    lateAnswerMayCome = !silent && result == LinkResult::TimeOut;
    ++takes;
  }
  EXPECT_GE(goodAfterTheWrap, 1);
  EXPECT_LE(leastSilentAfterTheWrap, kDrainMs + kTakeFrameMs + 50 + kSchedulingMarginMs);
  // The keep-alive still sees the silence after the wrap.
  emulator.ClearRecord();
  EXPECT_TRUE(emulator.WaitForFrames("NOISE", 1, 3s));
}

}  // namespace
}  // namespace ecr
