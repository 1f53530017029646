// The polling thread driving a serial line to the register emulator.

#include <atomic>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "line/ecr_poll_list.h"
#include "line/pol_thread.h"
#include "tests/line/line_fixture.h"

namespace ecr {
namespace {

struct Event {
  std::string name;
  int ecr = 0;
  std::string blk;
  int errC = 0;
  SteadyClock::time_point at;
};

long long MillisecondsBetween(const Event& earlier, const Event& later) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(later.at - earlier.at).count();
}

// Records the thread's events; the test thread waits on it.
class EventRecord {
 public:
  void Add(Event e) {
    e.at = SteadyClock::now();
    {
      const std::lock_guard lock(mutex_);
      events_.push_back(std::move(e));
    }
    changed_.notify_all();
  }
  std::optional<Event> WaitFor(const std::string& name, std::chrono::milliseconds timeout, int nth = 1) {
    std::unique_lock lock(mutex_);
    std::optional<Event> found;
    changed_.wait_for(lock, timeout, [&] {
      int seen = 0;
      for (const Event& e : events_) {
        if (e.name == name && ++seen == nth) {
          found = e;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  std::vector<std::string> Names() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const Event& e : events_) names.push_back(e.name);
    return names;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

// A code table that is the identity but for one pair: the register's '[' is the Windows
// byte 0xC4.
CodeTable TestCodeTable() {
  CodeTable table{};
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
  for (int w = 0; w < 256; ++w) table[static_cast<std::size_t>(128 + w)] = static_cast<std::uint8_t>(w);
  table['['] = 0xC4;
  table[128 + 0xC4] = '[';
  return table;
}

class Poller : public LineOnEmulator {
 protected:
  Poller() {
    OpenLine();
    poller_.Com = &line_;
    poller_.SetLog(log_);
    poller_.SetCodeTable(TestCodeTable());
    poller_.OnEcrInLine = [this](TPolThread& t, int ecr, const std::string& blk, std::uint8_t errC) {
      EXPECT_EQ(&t, &poller_);
      if (onInLine_) onInLine_(ecr, blk);
      record_.Add({"InLine", ecr, blk, errC, {}});
    };
    poller_.OnOnlReceived = [this](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
      if (onOnLine_) onOnLine_(ecr, blk);
      record_.Add({"OnlReceived", ecr, blk, errC, {}});
    };
    poller_.OnInlReceived = [this](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
      record_.Add({"InlReceived", ecr, blk, errC, {}});
    };
    poller_.OnNoAnswer = [this](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
      record_.Add({"NoAnswer", ecr, blk, errC, {}});
    };
    poller_.OnInlSended = [this](TPolThread&, int ecr, std::uint8_t errC) { record_.Add({"InlSended", ecr, {}, errC, {}}); };
    poller_.OnOnlSended = [this](TPolThread&, int ecr, std::uint8_t errC) { record_.Add({"OnlSended", ecr, {}, errC, {}}); };
  }

  // The first `count` frames the thread sent to registers that all answer. On a loaded
  // machine the emulator's thread may be held past the line's first-LF wait: the thread then
  // rightly gives that take up and frees the line. Such a take ("TAKE nn" with the free frame
  // straight after it) shows nothing of what a test is about and is left out.
  std::vector<std::string> FirstFrames(std::size_t count) {
    const auto answeredTakes = [this] {
      std::vector<std::string> frames;
      const std::vector<std::string> sent = emulator_.ReceivedFrames();
      for (std::size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].starts_with("TAKE ") && i + 1 < sent.size() && sent[i + 1] == "FREE") {
          ++i;
          continue;
        }
        frames.push_back(sent[i]);
      }
      return frames;
    };
    emulator_.WaitFor([&] { return answeredTakes().size() >= count; }, 20s);
    std::vector<std::string> frames = answeredTakes();
    if (frames.size() > count) frames.resize(count);
    return frames;
  }

  // The time from the `nth` event `from` to the `nth` event `to`, whose event is left in
  // `end`; when either does not come, a failure, and a try that never ended.
  long long NthSpan(const std::string& from, const std::string& to, int nth, std::optional<Event>& end) {
    const auto begin = record_.WaitFor(from, 10s, nth);
    end = record_.WaitFor(to, 15s, nth);
    if (!begin || !end) {
      ADD_FAILURE() << "no " << from << " or no " << to << " in try " << nth;
      return std::numeric_limits<long long>::max();
    }
    return MillisecondsBetween(*begin, *end);
  }

  std::function<void(int, const std::string&)> onInLine_;
  std::function<void(int, const std::string&)> onOnLine_;
  EventRecord record_;
  TPolThread poller_;
};

TEST_F(Poller, FreeFramesAroundGoodAndFailedTakes) {
  struct Case {
    const char* name;
    std::vector<int> played;
    std::vector<int> listed;
    std::vector<std::string> frames;
  };
  const std::vector<Case> cases = {
      {"one good register", {7}, {7}, {"FREE", "TAKE 07", "ACK", "FREE", "TAKE 07", "ACK", "FREE", "TAKE 07"}},
      {"one silent register", {}, {4}, {"FREE", "TAKE 04", "FREE", "TAKE 04", "FREE", "TAKE 04"}},
      {"ascending round-robin",
       {2, 5, 9},
       {9, 2, 5},
       {"FREE", "TAKE 02", "ACK", "FREE", "TAKE 05", "ACK", "FREE", "TAKE 09", "ACK", "FREE", "TAKE 02", "ACK"}},
      {"failed takes in one cycle follow each other directly",
       {5},
       {3, 5, 2},
       {"FREE", "TAKE 02", "TAKE 03", "TAKE 05", "ACK", "FREE", "TAKE 02", "TAKE 03", "TAKE 05", "ACK", "FREE"}},
      {"a failed take after a good one",
       {2},
       {2, 6},
       {"FREE", "TAKE 02", "ACK", "FREE", "TAKE 06", "FREE", "TAKE 02", "ACK", "FREE", "TAKE 06"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegisterEmulator emulator;
    for (const int n : c.played) emulator.AddRegister(n);
    TSimpleComObject line;
    line.PortName = emulator.PortPath();
    line.SetBaudRate(19200);
    line.Open();
    {
      TPolThread poller;
      poller.Com = &line;
      poller.SetLog(log_);
      for (const int n : c.listed) poller.AddEcr(n);
      poller.Resume();
      emulator.WaitFor([&] { return emulator.ReceivedFrames().size() >= c.frames.size(); }, 20s);
      std::vector<std::string> frames = emulator.ReceivedFrames();
      frames.resize(std::min(frames.size(), c.frames.size()));
      EXPECT_EQ(frames, c.frames);
    }
    EXPECT_FALSE(line.IsOpen());  // the thread's destruction closed its line
  }
}

TEST_F(Poller, AfterSleepingOnAnEmptyListTheFirstTakeHasNoFreeFrameOfItsOwn) {
  emulator_.AddRegister(7);
  poller_.AddEcr(7);
  poller_.Resume();
  ASSERT_TRUE(emulator_.WaitForFrames("ACK", 1, 10s));
  poller_.RemoveEcr(7);
  // The free frame after the last good take; then the thread finds the list empty.
  const auto endsInFree = [&] {
    const auto frames = emulator_.ReceivedFrames();
    return !frames.empty() && frames.back() == "FREE";
  };
  ASSERT_TRUE(emulator_.WaitFor(endsInFree, 5s));
  emulator_.WaitFor([] { return false; }, 300ms);  // a take that was under way ends
  ASSERT_TRUE(endsInFree());
  emulator_.ClearRecord();
  poller_.AddEcr(7);
  const std::vector<std::string> resumed = {"TAKE 07", "ACK", "FREE", "TAKE 07"};
  EXPECT_EQ(FirstFrames(resumed.size()), resumed);
}

TEST_F(Poller, InLineCommandAndAnswerPassTheCodeTableBothWays) {
  emulator_.AddRegister(7).SetStatus("S[;").SetResponder([](const std::string& command) { return "R" + command; });
  onInLine_ = [this](int, const std::string&) { poller_.SetInLineCommand("C\xC4"); };
  poller_.AddEcr(7);
  poller_.Resume();
  const auto answer = record_.WaitFor("InlReceived", 10s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->ecr, 7);
  EXPECT_EQ(answer->blk, "RC\xC4");
  EXPECT_EQ(answer->errC, 0);
  const auto status = record_.WaitFor("InLine", 1s);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->blk, "S\xC4;");
  const auto sent = record_.WaitFor("InlSended", 1s);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->errC, 0);
  EXPECT_EQ(emulator_.Register(7).Commands().front(), "C[");
  const std::vector<std::string> start = {"FREE", "TAKE 07", "ACK", "BLOCK C[", "ACK", "FREE"};
  EXPECT_EQ(FirstFrames(start.size()), start);
}

TEST_F(Poller, SevenCharactersAreInLineAndEightOnLine) {
  emulator_.AddRegister(3).SetStatus("1234567");
  emulator_.AddRegister(4).QueueOnLineMessage("12345678");
  onOnLine_ = [this](int, const std::string&) { poller_.SetOnLineAnswer("A"); };
  poller_.AddEcr(3);
  poller_.AddEcr(4);
  poller_.Resume();
  const auto inLine = record_.WaitFor("InLine", 10s);
  const auto onLine = record_.WaitFor("OnlReceived", 10s);
  ASSERT_TRUE(inLine && onLine);
  EXPECT_EQ(inLine->ecr, 3);
  EXPECT_EQ(inLine->blk, "1234567");
  EXPECT_EQ(onLine->ecr, 4);
  EXPECT_EQ(onLine->blk, "12345678");
  // Without a pending command the InLine exchange sends and reads nothing.
  const std::vector<std::string> start = {"FREE", "TAKE 03", "ACK", "FREE", "TAKE 04", "ACK", "BLOCK A", "FREE"};
  EXPECT_EQ(FirstFrames(start.size()), start);
}

TEST_F(Poller, OnLineAnswerFromAnotherThreadEndsTheWaitAtOnce) {
  emulator_.AddRegister(7).QueueOnLineMessage("1;2;HE[LO;");
  poller_.AddEcr(7);
  poller_.Resume();
  const auto message = record_.WaitFor("OnlReceived", 10s);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->blk, "1;2;HE\xC4LO;");
  emulator_.WaitFor([] { return false; }, 300ms);
  poller_.SetOnLineAnswer("OK\xC4");
  const auto sent = record_.WaitFor("OnlSended", 10s);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->errC, 0);
  EXPECT_LT(MillisecondsBetween(*message, *sent), 3000);
  EXPECT_EQ(emulator_.Register(7).OnLineAnswers(), std::vector<std::string>{"OK["});
}

TEST_F(Poller, CancelExchangeEndsTheOnLineWaitWithNothingSent) {
  emulator_.AddRegister(7).QueueOnLineMessage("1;2;HELLO;");
  poller_.AddEcr(7);
  poller_.Resume();
  const auto message = record_.WaitFor("OnlReceived", 10s);
  ASSERT_TRUE(message);
  emulator_.WaitFor([] { return false; }, 300ms);
  const auto cancelledAt = SteadyClock::now();
  poller_.CancelExchange();
  // The next pass frees the line at once and takes the register again (now InLine).
  ASSERT_TRUE(record_.WaitFor("InLine", 5s));
  EXPECT_LT(MillisecondsSince(cancelledAt), 3000);
  const std::vector<std::string> start = {"FREE", "TAKE 07", "ACK", "FREE", "TAKE 07", "ACK"};
  EXPECT_EQ(FirstFrames(start.size()), start);
  const auto names = record_.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "OnlSended"), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), "NoAnswer"), 0);
}

TEST_F(Poller, CancelInsideOnEcrInLineSuppressesTheCommand) {
  emulator_.AddRegister(7);
  onInLine_ = [this](int, const std::string&) {
    poller_.SetInLineCommand("CMD");
    poller_.CancelExchange();
  };
  poller_.AddEcr(7);
  poller_.Resume();
  ASSERT_TRUE(record_.WaitFor("InLine", 10s, 2));
  const std::vector<std::string> start = {"FREE", "TAKE 07", "ACK", "FREE", "TAKE 07", "ACK"};
  EXPECT_EQ(FirstFrames(start.size()), start);
  const auto names = record_.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "InlSended"), 0);
}

// A cancel that comes once the command has gone out (a restart of polling, say) stops
// nothing that is on the line: the register acknowledged the command and runs it, so its
// answer is read, acknowledged and raised. Only after a command the register refused is
// nothing read.
TEST_F(Poller, ACancelAfterTheCommandWentOutLeavesItsAnswerRead) {
  enum class When { InsideTheSentEvent, WhileTheAckIsLate, WhileTheAnswerIsLate };
  struct Case {
    const char* name;
    When when;
    bool refused;  // the register refuses the command nine times
  };
  const Case cases[] = {
      {"inside OnInlSended", When::InsideTheSentEvent, false},
      {"while the register's ACK is late", When::WhileTheAckIsLate, false},
      {"while the register's answer is late", When::WhileTheAnswerIsLate, false},
      {"inside OnInlSended after the register refused the command", When::InsideTheSentEvent, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegisterEmulator emulator;
    TSimpleComObject line;
    line.SetLog(log_);
    line.PortName = emulator.PortPath();
    line.SetBaudRate(9600);
    line.Open();
    EventRecord record;
    TPolThread poller;
    poller.Com = &line;
    poller.SetLog(log_);
    EmulatedRegister& ecr7 = emulator.AddRegister(7).SetResponder([](const std::string&) { return "DONE"; });
    if (c.refused) ecr7.NakNext(9);
    if (c.when == When::WhileTheAckIsLate) ecr7.AcknowledgeLate(50ms);
    if (c.when == When::WhileTheAnswerIsLate) ecr7.AnswerLate(EmulatorReply::Answer, 100ms);
    std::atomic<int> statuses{0};
    poller.OnEcrInLine = [&](TPolThread& t, int, const std::string&, std::uint8_t) {
      if (++statuses == 1) t.SetInLineCommand("CMD");
      record.Add({"InLine", 7, {}, 0, {}});
    };
    poller.OnInlSended = [&](TPolThread& t, int, std::uint8_t errC) {
      if (c.when == When::InsideTheSentEvent) t.CancelExchange();
      record.Add({"InlSended", 7, {}, errC, {}});
    };
    poller.OnInlReceived = [&](TPolThread&, int, const std::string& blk, std::uint8_t errC) {
      record.Add({"InlReceived", 7, blk, errC, {}});
    };
    poller.AddEcr(7);
    poller.Resume();
    if (c.when == When::WhileTheAckIsLate) {
      ASSERT_TRUE(emulator.WaitFor([&] { return ecr7.Commands().size() == 1; }, 10s));
      poller.CancelExchange();
    } else if (c.when == When::WhileTheAnswerIsLate) {
      ASSERT_TRUE(record.WaitFor("InlSended", 10s));
      poller.CancelExchange();
    }
    // The register's next status comes after the exchange is over.
    ASSERT_TRUE(record.WaitFor("InLine", 10s, 2));
    const auto sent = record.WaitFor("InlSended", 1s);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->errC, c.refused ? 1 : 0);
    const auto answer = record.WaitFor("InlReceived", 1s);
    if (c.refused) {
      EXPECT_FALSE(answer);
      EXPECT_EQ(ecr7.AcknowledgedAnswers(), 0);
      continue;
    }
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->blk, "DONE");
    EXPECT_EQ(answer->errC, 0);
    EXPECT_EQ(ecr7.Commands(), std::vector<std::string>{"CMD"});
    EXPECT_EQ(ecr7.AcknowledgedAnswers(), 1);
  }
}

// One OnLine exchange and an answer or cancel handed over at each moment of it: an answer
// the thread takes is sent to the register (and OnOnlSended raised), one it refuses is
// never sent; none is taken and then dropped.
enum class Act {
  Answer,          // SetOnLineAnswer with the next text: A1, A2, ...
  Cancel,          // CancelExchange
  AwaitWait,       // the thread waits for the answer (300 ms into the wait)
  AwaitNoAnswer,   // the wait has ended unanswered; the no-answer event is held meanwhile
  AwaitDeadline,   // the 6000 ms since the offer are just over
  AwaitNextTake,   // the thread has left the exchange and taken the register again
};

struct HandOverCase {
  const char* name;
  std::vector<Act> inOffer;    // on the polling thread, inside OnOnlReceived, where the
                               // request engine opens the exchange
  std::vector<Act> meanwhile;  // on the test's thread
  std::vector<std::string> taken;
  const char* end;  // the exchange's last event: OnlSended, NoAnswer, or none (cancelled)
  bool eitherWay = false;  // the answer is taken or refused, as the race falls
};

void PrintTo(const HandOverCase& c, std::ostream* os) { *os << c.name; }

class OnLineHandOver : public LineOnEmulator, public ::testing::WithParamInterface<HandOverCase> {
 protected:
  struct Handed {
    std::string text;
    bool taken;
  };

  // Runs an act that hands something over; false for any other act.
  bool HandOver(Act act) {
    if (act == Act::Cancel) {
      poller_.CancelExchange();
      return true;
    }
    if (act != Act::Answer) return false;
    const std::string text = "A" + std::to_string(++answers_);
    const bool taken = poller_.SetOnLineAnswer(text);
    const std::lock_guard lock(mutex_);
    handed_.push_back({text, taken});
    return true;
  }

  void HoldNoAnswer() {
    std::unique_lock lock(mutex_);
    noAnswerHeld_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return noAnswerReleased_; });
  }
  void ReleaseNoAnswer() {
    {
      const std::lock_guard lock(mutex_);
      noAnswerReleased_ = true;
    }
    changed_.notify_all();
  }
  // Whatever fails, the held event lets the thread go before its destruction waits for it.
  struct HeldEventRelease {
    OnLineHandOver& test;
    ~HeldEventRelease() { test.ReleaseNoAnswer(); }
  };
  bool AwaitNoAnswerHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 15s, [this] { return noAnswerHeld_; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Handed> handed_;
  bool noAnswerHeld_ = false;
  bool noAnswerReleased_ = false;
  std::atomic<int> answers_{0};
  EventRecord record_;
  TPolThread poller_;
};

TEST_P(OnLineHandOver, AnAnswerIsSentOrRefusedNeverDropped) {
  const HandOverCase& c = GetParam();
  OpenLine();
  EmulatedRegister& reg = emulator_.AddRegister(7).QueueOnLineMessage("1;2;HELLO;");
  poller_.Com = &line_;
  poller_.SetLog(log_);
  poller_.OnOnlReceived = [this, &c](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
    for (const Act act : c.inOffer) HandOver(act);
    record_.Add({"OnlReceived", ecr, blk, errC, {}});
  };
  poller_.OnNoAnswer = [this](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
    record_.Add({"NoAnswer", ecr, blk, errC, {}});
    HoldNoAnswer();
  };
  poller_.OnOnlSended = [this](TPolThread&, int ecr, std::uint8_t errC) {
    record_.Add({"OnlSended", ecr, {}, errC, {}});
  };
  poller_.OnEcrInLine = [this](TPolThread&, int ecr, const std::string& blk, std::uint8_t errC) {
    record_.Add({"InLine", ecr, blk, errC, {}});
  };
  const HeldEventRelease release{*this};
  poller_.AddEcr(7);
  poller_.Resume();

  const auto offer = record_.WaitFor("OnlReceived", 10s);
  ASSERT_TRUE(offer);
  for (const Act act : c.meanwhile) {
    if (HandOver(act)) continue;
    switch (act) {
      case Act::AwaitWait: std::this_thread::sleep_for(300ms); break;
      case Act::AwaitNoAnswer: ASSERT_TRUE(AwaitNoAnswerHeld()); break;
      case Act::AwaitDeadline:
        std::this_thread::sleep_until(offer->at + std::chrono::milliseconds(TPolThread::kOnLineAnswerWaitMs));
        break;
      case Act::AwaitNextTake: ASSERT_TRUE(record_.WaitFor("InLine", 15s)); break;
      default: break;
    }
  }
  ReleaseNoAnswer();
  ASSERT_TRUE(record_.WaitFor("InLine", 15s)) << "the thread never left the exchange";

  std::vector<std::string> taken;
  {
    const std::lock_guard lock(mutex_);
    for (const Handed& one : handed_) {
      if (one.taken) taken.push_back(one.text);
    }
  }
  if (!c.eitherWay) {
    EXPECT_EQ(taken, c.taken);
  }
  EXPECT_EQ(reg.OnLineAnswers(), taken) << "an answer taken must reach the register, a refused one never";
  std::vector<std::string> ends;
  for (const std::string& name : record_.Names()) {
    if (name == "OnlSended" || name == "NoAnswer") ends.push_back(name);
  }
  const std::string end = c.eitherWay ? (taken.empty() ? "NoAnswer" : "OnlSended") : c.end;
  EXPECT_EQ(ends, end.empty() ? std::vector<std::string>{} : std::vector<std::string>{end});
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, OnLineHandOver,
    ::testing::Values(
        HandOverCase{"AnswerInTheWait", {}, {Act::AwaitWait, Act::Answer}, {"A1"}, "OnlSended"},
        HandOverCase{"AnswerInsideTheOffer", {Act::Answer}, {}, {"A1"}, "OnlSended"},
        HandOverCase{"SecondAnswerIsRefused", {Act::Answer, Act::Answer}, {}, {"A1"}, "OnlSended"},
        HandOverCase{"CancelBeforeTheOfferThenAnswerInsideIt", {Act::Cancel, Act::Answer}, {}, {"A1"}, "OnlSended"},
        HandOverCase{"AnswerInsideTheOfferThenCancel", {Act::Answer, Act::Cancel}, {}, {"A1"}, "OnlSended"},
        HandOverCase{"CancelBeforeTheOfferSkipsTheWaitAndALaterAnswerIsRefused",
                     {Act::Cancel}, {Act::AwaitNextTake, Act::Answer}, {}, ""},
        HandOverCase{"CancelInTheWaitThenAnAnswerIsRefused",
                     {}, {Act::AwaitWait, Act::Cancel, Act::AwaitNextTake, Act::Answer}, {}, ""},
        HandOverCase{"AnswerJustAfterTheWaitEndedIsRefused", {}, {Act::AwaitNoAnswer, Act::Answer}, {}, "NoAnswer"},
        HandOverCase{"AnswerAtTheEndOfTheWaitIsSentOrRefused", {}, {Act::AwaitDeadline, Act::Answer}, {}, "", true}),
    [](const ::testing::TestParamInfo<HandOverCase>& sequence) { return std::string(sequence.param.name); });

TEST_F(Poller, NoAnswerWithin6000Ms) {
  EmulatedRegister& reg = emulator_.AddRegister(7);
  poller_.AddEcr(7);
  poller_.Resume();
  int tries = 0;
  const long long ceiling = 6000 + kSchedulingMarginMs;
  const long long least = LeastOfTries(
      ceiling,
      [&] {
        // One message a try, left unanswered; in between the register reports its status.
        reg.QueueOnLineMessage("1;2;HELLO;");
        // The message's event comes before the wait begins, so the wait is never shorter.
        std::optional<Event> noAnswer;
        const long long waited = NthSpan("OnlReceived", "NoAnswer", ++tries, noAnswer);
        if (!noAnswer) return waited;
        EXPECT_GE(waited, 6000);
        EXPECT_EQ(noAnswer->ecr, 7);
        EXPECT_EQ(noAnswer->blk, "");
        EXPECT_EQ(noAnswer->errC, 0);
        return waited;
      },
      3);
  EXPECT_LE(least, ceiling);
  emulator_.WaitForFrames("FREE", tries + 1, 5s);
  EXPECT_NE(LogText().find(": No answer from application for 6000 ms)\r\n"), std::string::npos) << LogText();
  for (const std::string& frame : emulator_.ReceivedFrames()) EXPECT_EQ(frame.rfind("BLOCK", 0), std::string::npos);
}

TEST_F(Poller, InLineAnswerIsAwaited8000Ms) {
  // One command a try, which the register leaves unanswered; between the tries the
  // register only reports its status.
  EmulatedRegister& reg = emulator_.AddRegister(7);
  // Owned by the handler too: the thread may run it after the test's body has ended.
  const auto commandWanted = std::make_shared<std::atomic<bool>>(false);
  onInLine_ = [this, commandWanted](int, const std::string&) {
    if (!commandWanted->exchange(false)) return;
    record_.Add({"Commanded", 7, {}, 0, {}});
    poller_.SetInLineCommand("CMD");
  };
  poller_.AddEcr(7);
  poller_.Resume();
  int tries = 0;
  // The wait runs from the start of the command's transmission (the block "CMD", 16 bytes,
  // 17 ms at 9600 bit/s), which comes after the command was handed over.
  const long long ceiling = 8000 + 17 + kSchedulingMarginMs;
  const long long least = LeastOfTries(
      ceiling,
      [&] {
        reg.StaySilent(EmulatorReply::Answer, 1);
        *commandWanted = true;
        std::optional<Event> answer;
        const long long waited = NthSpan("Commanded", "InlReceived", ++tries, answer);
        if (!answer) return waited;
        EXPECT_GE(waited, 8000 + 17);
        EXPECT_EQ(answer->blk, "");
        EXPECT_EQ(answer->errC, 3);
        return waited;
      },
      3);
  EXPECT_LE(least, ceiling);
  EXPECT_NE(LogText().find(": InLine RcvErr: TimeOut\r\n"), std::string::npos) << LogText();
}

TEST_F(Poller, FailuresAreLoggedWithTheirTexts) {
  emulator_.AddRegister(1).SendBadCrc(EmulatorReply::Take, 1);
  emulator_.AddRegister(2).StopAfterLf(EmulatorReply::Take, 1);
  emulator_.AddRegister(3).NakNext(9);
  emulator_.AddRegister(4).QueueOnLineMessage("1;2;HELLO;").NakNext(9);
  emulator_.AddRegister(6);
  line_.OnTakeBlock = [](TBasicCommunicationObject&, std::uint8_t ecr, const std::string&, bool& accept) {
    accept = ecr != 6;
  };
  onInLine_ = [this](int ecr, const std::string&) {
    if (ecr == 3) poller_.SetInLineCommand("CMD");
  };
  onOnLine_ = [this](int, const std::string&) { poller_.SetOnLineAnswer("ANSWER"); };
  // 5 is silent and 6 refused by the accept hook: TimeOut and refusals are not logged.
  for (const int n : {1, 2, 3, 4, 5, 6}) poller_.AddEcr(n);
  poller_.Resume();
  const auto inl = record_.WaitFor("InlSended", 15s);
  const auto onl = record_.WaitFor("OnlSended", 15s);
  ASSERT_TRUE(inl && onl);
  ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Register(1).Takes() >= 2; }, 15s));  // 6 was served
  EXPECT_EQ(inl->errC, 1);
  EXPECT_EQ(onl->errC, 1);
  const std::string log = LogText();
  for (const char* line : {": Take error: Bad CRC\r\n", ": Take error: Byte TimeOut\r\n", ": InLine SndErr: NAK\r\n",
                           ": OnLine SndErr: NAK\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find(": Take error: TimeOut"), std::string::npos);
  EXPECT_EQ(log.find(": Take error: Unknown error"), std::string::npos);
}

TEST_F(Poller, AddEcrWhileTheThreadFallsAsleepIsNeverLost) {
  emulator_.AddRegister(7);
  poller_.Resume();
  std::mt19937 random(12345);
  for (int round = 1; round <= 30; ++round) {
    const int takes = emulator_.Register(7).Takes();
    poller_.AddEcr(7);
    ASSERT_TRUE(emulator_.WaitFor([&] { return emulator_.Register(7).Takes() > takes; }, 5s)) << "round " << round;
    poller_.RemoveEcr(7);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 25));
  }
}

TEST_F(Poller, AnIdlePollerCostsNoCpu) {
  // Open line, keep-alive running, empty list: the thread sleeps until a number comes.
  poller_.StartNoise();
  poller_.Resume();
  ASSERT_TRUE(emulator_.WaitForFrames("FREE", 1, 5s));
  const long long before = ProcessCpuMs();
  ASSERT_TRUE(emulator_.WaitForFrames("NOISE", 4, 10s));
  EXPECT_LT(ProcessCpuMs() - before, 200);
}

TEST_F(Poller, ListExceptions) {
  for (const int n : {0, 100, -3}) {
    try {
      poller_.AddEcr(n);
      ADD_FAILURE() << n;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), std::to_string(n) + "is NOT valid ECR logical number !");
    }
    EXPECT_THROW(poller_.RemoveEcr(n), std::invalid_argument);
  }
  for (int n = 1; n <= 99; ++n) poller_.AddEcr(n);
  for (const int n : {5, 99}) {
    try {
      poller_.AddEcr(n);
      ADD_FAILURE() << n;
    } catch (const std::length_error& e) {
      EXPECT_EQ(std::string(e.what()), "Too many ECRs !");
    }
  }
  EXPECT_EQ(poller_.EcrCount(), 99);
  poller_.ClearEcrs();
  EXPECT_EQ(poller_.NextEcr(), -1);
}

TEST_F(Poller, WithoutALineTheThreadLogsAndEnds) {
  TPolThread lonely;
  lonely.SetLog(log_);
  lonely.Resume();
  ASSERT_TRUE(WaitUntil([&] { return lonely.Finished(); }, 5s));
  const std::string log = LogText();
  EXPECT_NE(log.find("EXCEPTION in TPolThread.Execute - "), std::string::npos) << log;
  EXPECT_NE(log.find("Communication object not assigned !"), std::string::npos) << log;
}

TEST_F(Poller, AClosedLineEndsPollingWithALoggedException) {
  line_.Close();
  poller_.AddEcr(7);
  poller_.Resume();
  ASSERT_TRUE(WaitUntil([&] { return poller_.Finished(); }, 5s));
  EXPECT_NE(LogText().find("Port not open " + emulator_.PortPath() + "!"), std::string::npos) << LogText();
}

TEST(EcrList, RoundRobinOverAnAscendingList) {
  TEcrList list;
  EXPECT_EQ(list.Next(), -1);
  for (const int n : {9, 2, 5, 2}) list.Add(n);
  ASSERT_EQ(list.Count(), 3);
  std::vector<int> served;
  for (int i = 0; i < 7; ++i) served.push_back(list.Next());
  EXPECT_EQ(served, (std::vector<int>{2, 5, 9, 2, 5, 9, 2}));
}

TEST(EcrList, RemovalKeepsTheRoundRobinPosition) {
  struct Case {
    const char* name;
    int servedBefore;  // Next() calls before the removal
    int removed;
    std::vector<int> next;
  };
  // List 1 2 3 4; after serving 2 (position 2):
  const std::vector<Case> cases = {
      {"remove before the position: the entry moving into it is skipped once", 2, 1, {4, 2, 3, 4}},
      {"remove at the position", 2, 2, {4, 1, 3, 4}},
      {"remove after the position", 2, 4, {3, 1, 2, 3}},
      {"remove the last served at the end", 4, 4, {1, 2, 3, 1}},
      {"remove an unlisted number", 2, 7, {3, 4, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TEcrList list;
    for (const int n : {1, 2, 3, 4}) list.Add(n);
    for (int i = 0; i < c.servedBefore; ++i) list.Next();
    list.Remove(c.removed);
    EXPECT_FALSE(list.Contains(c.removed));
    std::vector<int> next;
    for (std::size_t i = 0; i < c.next.size(); ++i) next.push_back(list.Next());
    EXPECT_EQ(next, c.next);
  }
}

}  // namespace
}  // namespace ecr
