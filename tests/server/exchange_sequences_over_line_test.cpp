// Sequences of events over the line (see register_road_over_line_fixture.h), each a row of a
// table:
// - A SET 5 command meets every event at every phase of its exchange: an exchange the line
//   has started runs to its end (ACK, answer, the answer's ACK) and the register gets the
//   command once; its reply goes to the connection that asked while it holds the SET (also
//   after giving it back and taking it again), else only to the monitor; a new connection in
//   the slot, or another client, gets nothing of it.
// - The answer roads of SETs 1 and 13: an offer, an answer on the line and a held-back reply
//   follow their connection too; a cancel, or taking the SET anew, drops a held-back reply.
// - A command or answer that the line frame would cut is refused with erBufferOverflow and
//   never reaches the line; one of exactly the largest size goes whole, at each speed.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "line/link_frames.h"
#include "tests/server/register_road_over_line_fixture.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::AnswerGate;
using testing_support::DescribeReply;
using testing_support::RegisterRoadOverLine;
using testing_support::TcpClient;
using Lines = std::vector<std::string>;

// A client and every message it got, described.
struct Party {
  std::unique_ptr<TcpClient> link;
  Lines got;
};

// Opens the register's answer gate when the test ends, however it ends.
struct OpenAtEnd {
  std::shared_ptr<AnswerGate> gate;
  ~OpenAtEnd() { gate->Open(); }
};

class OverTheLine : public RegisterRoadOverLine {
 protected:
  Party Join() { return Party{Connect(), {}}; }
  // Reads until `line` has come, or nothing more comes in time.
  ::testing::AssertionResult ReadUntil(Party& party, const std::string& line) {
    while (std::find(party.got.begin(), party.got.end(), line) == party.got.end()) {
      const std::optional<std::string> message = party.link->ReadMessage();
      if (!message) {
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        failure << "no " << line << "; got:";
        for (const std::string& got : party.got) failure << "\n  " << got;
        return failure;
      }
      party.got.push_back(DescribeReply(ParseClientMessage(*message)));
    }
    return ::testing::AssertionSuccess();
  }
  // Reads what still comes.
  void ReadRest(Party& party) {
    while (!party.link->NothingArrives(100ms)) {
      party.got.push_back(DescribeReply(ParseClientMessage(*party.link->ReadMessage())));
    }
  }
  void Send(Party& party, int set, int command, std::string_view payload = {}, int logNo = 7) {
    party.link->SendMessage(Request(set, command, payload, logNo));
  }
  // Opens the SET; the reply stays among what the party got.
  void OpenSet(Party& party, int set, int logNo = 7) {
    Send(party, set, cmdOpen, {}, logNo);
    const std::string ecr = "/1/" + std::to_string(logNo) + " err 0 ";
    ASSERT_TRUE(ReadUntil(party, std::to_string(set) + ecr + (set % 2 == 1 ? "[HARBENDIX]" : "[]")));
  }
  void Disconnect(Party& party) {
    const int before = disconnects;
    party.link->Close();
    ASSERT_TRUE(EmulatorSees([&] { return disconnects == before + 1; }));
  }
  // The line starts again at `baud`.
  void RestartAt(std::uint32_t baud) {
    Stop();
    Start(baud);
  }
  bool NoBadBlockReachedTheRegister() {
    for (const std::string& frame : emulator.ReceivedFrames()) {
      if (frame.rfind("BAD BLOCK", 0) == 0) return false;
    }
    return true;
  }
};

// ---- a SET 5 command meets each event at each phase -----------------------------------

enum class Phase {
  Queued,         // the register does not answer its takes
  OnTheLine,      // the command's long block is on a slow line; the register holds its ACK and answer
  AckAwaited,     // the register has the command and acknowledges it late, its answer held back
  AnswerAwaited,  // acknowledged, the answer held back
  Answered,       // the reply has reached the asker and the monitor
};
enum class Event {
  Cancel,                      // the asker cancels
  Close,                       // the asker gives the SET back
  CloseAndReopen,              // ... and takes it again on the same connection
  Disconnect,                  // the asker's connection ends
  NewConnectionInTheSlot,      // the next connection takes the asker's slot and the SET
  AnotherOpenRestartsPolling,  // the asker, which held the only SET in use, disconnects; another
                               // client opens a SET of another register
  StopAndStart,                // the service stops and starts; new clients take the SETs
};

struct CommandRow {
  Phase phase;
  Event event;
  bool reachesRegister;
  bool askerGetsReply;    // the asker's connection, still connected after the event
  bool monitorGetsReply;  // the monitor, still connected after the event
};

const char* Name(Phase phase) {
  switch (phase) {
    case Phase::Queued: return "Queued";
    case Phase::OnTheLine: return "OnTheLine";
    case Phase::AckAwaited: return "AckAwaited";
    case Phase::AnswerAwaited: return "AnswerAwaited";
    case Phase::Answered: return "Answered";
  }
  return "";
}

const char* Name(Event event) {
  switch (event) {
    case Event::Cancel: return "Cancel";
    case Event::Close: return "Close";
    case Event::CloseAndReopen: return "CloseAndReopen";
    case Event::Disconnect: return "Disconnect";
    case Event::NewConnectionInTheSlot: return "NewConnectionInTheSlot";
    case Event::AnotherOpenRestartsPolling: return "AnotherOpenRestartsPolling";
    case Event::StopAndStart: return "StopAndStart";
  }
  return "";
}

using P = Phase;
using E = Event;
constexpr bool y = true;
constexpr bool n = false;

// After a stop the old connections are gone: the asker and the monitor are not asked then;
// nor is the asker once it has disconnected. The property test's shrunk failure of a
// restart of polling against a command on the line is the row AckAwaited,
// AnotherOpenRestartsPolling.
const CommandRow kCommandRows[] = {
    {P::Queued, E::Cancel, n, n, n},
    {P::Queued, E::Close, n, n, n},
    {P::Queued, E::CloseAndReopen, n, n, n},
    {P::Queued, E::Disconnect, n, n, n},
    {P::Queued, E::NewConnectionInTheSlot, n, n, n},
    {P::Queued, E::AnotherOpenRestartsPolling, n, n, n},
    {P::Queued, E::StopAndStart, n, n, n},
    {P::OnTheLine, E::Cancel, y, y, y},
    {P::OnTheLine, E::Close, y, n, y},
    {P::OnTheLine, E::CloseAndReopen, y, y, y},
    {P::OnTheLine, E::Disconnect, y, n, y},
    {P::OnTheLine, E::NewConnectionInTheSlot, y, n, y},
    {P::OnTheLine, E::AnotherOpenRestartsPolling, y, n, y},
    {P::OnTheLine, E::StopAndStart, y, n, n},
    {P::AckAwaited, E::Cancel, y, y, y},
    {P::AckAwaited, E::Close, y, n, y},
    {P::AckAwaited, E::CloseAndReopen, y, y, y},
    {P::AckAwaited, E::Disconnect, y, n, y},
    {P::AckAwaited, E::NewConnectionInTheSlot, y, n, y},
    {P::AckAwaited, E::AnotherOpenRestartsPolling, y, n, y},
    {P::AckAwaited, E::StopAndStart, y, n, n},
    {P::AnswerAwaited, E::Cancel, y, y, y},
    {P::AnswerAwaited, E::Close, y, n, y},
    {P::AnswerAwaited, E::CloseAndReopen, y, y, y},
    {P::AnswerAwaited, E::Disconnect, y, n, y},
    {P::AnswerAwaited, E::NewConnectionInTheSlot, y, n, y},
    {P::AnswerAwaited, E::AnotherOpenRestartsPolling, y, n, y},
    {P::AnswerAwaited, E::StopAndStart, y, n, n},
    {P::Answered, E::Cancel, y, y, y},
    {P::Answered, E::Close, y, y, y},
    {P::Answered, E::CloseAndReopen, y, y, y},
    {P::Answered, E::Disconnect, y, y, y},
    {P::Answered, E::NewConnectionInTheSlot, y, y, y},
    {P::Answered, E::AnotherOpenRestartsPolling, y, y, y},
    {P::Answered, E::StopAndStart, y, y, y},
};

// What the asker and the monitor see of the event itself.
Lines AskerSeesOfTheEvent(Event event) {
  switch (event) {
    case Event::Cancel: return {"5/3/7 err 0 []"};
    case Event::Close: return {"5/2/7 err 0 []"};
    case Event::CloseAndReopen: return {"5/2/7 err 0 []", "5/1/7 err 0 [HARBENDIX]"};
    default: return {};
  }
}

const Lines kOpenCopies{"5/1/7 err 0 []", "5/1/7 err 0 [HARBENDIX]"};

Lines MonitorSeesOfTheEvent(Event event) {
  switch (event) {
    case Event::Cancel: return {"5/3/7 err 0 []", "5/3/7 err 0 []"};
    case Event::Close: return {"5/2/7 err 0 []", "5/2/7 err 0 []"};
    case Event::CloseAndReopen: return {"5/2/7 err 0 []", "5/2/7 err 0 []", kOpenCopies[0], kOpenCopies[1]};
    case Event::NewConnectionInTheSlot: return kOpenCopies;
    default: return {};
  }
}

void Append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

class CommandMeetsEvent : public OverTheLine, public ::testing::WithParamInterface<CommandRow> {};

TEST_P(CommandMeetsEvent, TheExchangeRunsToItsEndAndItsReplyFollowsItsConnection) {
  const CommandRow& row = GetParam();
  const bool holdAnswer = row.phase == Phase::OnTheLine || row.phase == Phase::AckAwaited ||
                          row.phase == Phase::AnswerAwaited;
  // At 1200 bit/s the line takes the command's block to be on the wire for 1.75 s, and waits
  // 200 ms more for its ACK; the register keeps its ACK until the event is over.
  if (row.phase == Phase::OnTheLine) RestartAt(1200);
  emulator.AddRegister(8);
  const std::string text = row.phase == Phase::OnTheLine ? "AAA;" + std::string(200, 'X') : "AAA;";
  const std::string reply = "5/9/7 err 0 [RI" + text + "]";
  // Held back, the answer keeps the exchange in its phase however late the event comes: the
  // line waits 8000 ms for it.
  auto gate = std::make_shared<AnswerGate>();
  auto answers = std::make_shared<std::atomic<int>>(0);
  ecr7.SetResponder([gate, answers, holdAnswer](const std::string& command) {
    if (++*answers == 1 && holdAnswer) gate->Wait(6000ms);
    return "R" + command;
  });
  const OpenAtEnd openAtEnd{gate};

  Party monitor = Join();
  OpenSet(monitor, 6);
  Party asker = Join();
  OpenSet(asker, 5);
  ASSERT_TRUE(ReadUntil(monitor, kOpenCopies[1]));
  monitor.got.clear();
  asker.got.clear();

  switch (row.phase) {
    case Phase::Queued: ecr7.StaySilent(EmulatorReply::Take); break;
    case Phase::OnTheLine: emulator.HoldAcknowledgements(1200ms); break;
    case Phase::AckAwaited: ecr7.AcknowledgeLate(60ms); break;
    default: break;
  }
  Send(asker, 5, 9, text);
  ASSERT_TRUE(ReadUntil(monitor, "5/9/7 err 0 [" + text + "]"));
  switch (row.phase) {
    case Phase::Queued: ASSERT_TRUE(PolledOn(ecr7)); break;
    case Phase::OnTheLine:
    case Phase::AckAwaited: ASSERT_TRUE(EmulatorSees([&] { return ecr7.Commands().size() == 1; })); break;
    case Phase::AnswerAwaited: ASSERT_TRUE(EmulatorSees([&] { return answers->load() == 1; })); break;
    case Phase::Answered:
      ASSERT_TRUE(ReadUntil(asker, reply));
      ASSERT_TRUE(ReadUntil(monitor, reply));
      break;
  }
  const auto release = [&] {
    ecr7.Behave();
    emulator.ReleaseAcknowledgements();
    gate->Open();
  };

  // The event; `holder` holds SET 5 afterwards and queues the probe, `others` only watch.
  Party newcomer;
  Party other;
  Party* holder = &asker;
  Party* watcher = &monitor;  // of SET 6 afterwards
  switch (row.event) {
    case Event::Cancel:
      Send(asker, 5, cmdCancel);
      ASSERT_TRUE(ReadUntil(asker, "5/3/7 err 0 []"));
      break;
    case Event::Close:
      Send(asker, 5, cmdClose);
      ASSERT_TRUE(ReadUntil(asker, "5/2/7 err 0 []"));
      holder = nullptr;
      break;
    case Event::CloseAndReopen:
      Send(asker, 5, cmdClose);
      ASSERT_TRUE(ReadUntil(asker, "5/2/7 err 0 []"));
      OpenSet(asker, 5);
      break;
    case Event::Disconnect:
      Disconnect(asker);
      holder = nullptr;
      break;
    case Event::NewConnectionInTheSlot:
      Disconnect(asker);
      newcomer = Join();
      OpenSet(newcomer, 5);
      ASSERT_EQ(clientIds.back(), clientIds[1]);
      holder = &newcomer;
      break;
    case Event::AnotherOpenRestartsPolling:
      Disconnect(asker);
      ASSERT_FALSE(engine.PollingActive());
      other = Join();
      OpenSet(other, 1, 8);
      holder = nullptr;
      break;
    case Event::StopAndStart:
      // The stop waits for the exchange under way, so its answer has to come.
      release();
      Stop();
      Start(row.phase == Phase::OnTheLine ? 1200 : 9600);
      other = Join();
      OpenSet(other, 6);
      newcomer = Join();
      OpenSet(newcomer, 5);
      ASSERT_TRUE(ReadUntil(other, kOpenCopies[1]));
      holder = &newcomer;
      watcher = &other;
      break;
  }
  release();
  const bool asked = row.event != Event::StopAndStart;
  if (asked && row.monitorGetsReply && row.phase != Phase::Answered) {
    ASSERT_TRUE(ReadUntil(monitor, reply));
  }

  // A probe of whoever holds SET 5 now runs after the exchange: the register is done with it.
  Party prober;
  if (holder == nullptr) {
    prober = Join();
    OpenSet(prober, 5);
    holder = &prober;
  }
  Send(*holder, 5, 9, "PROBE;");
  ASSERT_TRUE(ReadUntil(*holder, "5/9/7 err 0 [RIPROBE;]"));
  ASSERT_TRUE(ReadUntil(*watcher, "5/9/7 err 0 [RIPROBE;]"));
  for (Party* party : {&asker, &monitor, &newcomer, &other, &prober}) {
    if (party->link) ReadRest(*party);
  }

  Lines expectedCommands;
  if (row.reachesRegister) expectedCommands.push_back("I" + text);
  expectedCommands.push_back("IPROBE;");
  EXPECT_EQ(ecr7.Commands(), expectedCommands);
  EXPECT_EQ(ecr7.AcknowledgedAnswers(), static_cast<int>(expectedCommands.size()));

  const Lines probe{"5/9/7 err 0 [RIPROBE;]"};
  const Lines probeSeen{"5/9/7 err 0 [PROBE;]", probe[0]};
  if (asked && row.event != Event::Disconnect && row.event != Event::NewConnectionInTheSlot &&
      row.event != Event::AnotherOpenRestartsPolling) {
    Lines expected;
    if (row.phase == Phase::Answered) expected.push_back(reply);
    Append(expected, AskerSeesOfTheEvent(row.event));
    if (row.askerGetsReply && row.phase != Phase::Answered) expected.push_back(reply);
    if (holder == &asker) Append(expected, probe);
    EXPECT_EQ(asker.got, expected) << "the asker";
  }
  if (asked) {
    Lines expected{"5/9/7 err 0 [" + text + "]"};
    if (row.phase == Phase::Answered) expected.push_back(reply);
    Append(expected, MonitorSeesOfTheEvent(row.event));
    if (row.monitorGetsReply && row.phase != Phase::Answered) expected.push_back(reply);
    if (holder == &prober) Append(expected, kOpenCopies);
    Append(expected, probeSeen);
    EXPECT_EQ(monitor.got, expected) << "the monitor";
  }
  // Whoever took SET 5 after the asker got its open and its probe, nothing of the asker's.
  for (const Party* taker : {&newcomer, &prober}) {
    if (!taker->link) continue;
    EXPECT_EQ(taker->got, (Lines{"5/1/7 err 0 [HARBENDIX]", probe[0]})) << "the next holder";
  }
  if (row.event == Event::AnotherOpenRestartsPolling) {
    EXPECT_EQ(other.got, Lines{"1/1/8 err 0 [HARBENDIX]"});
  }
  if (row.event == Event::StopAndStart) {
    Lines expected{"6/1/7 err 0 []"};
    Append(expected, kOpenCopies);
    Append(expected, probeSeen);
    EXPECT_EQ(other.got, expected) << "the new monitor";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandMeetsEvent, ::testing::ValuesIn(kCommandRows),
                         [](const ::testing::TestParamInfo<CommandRow>& row) {
                           return std::string(Name(row.param.phase)) + "_" + Name(row.param.event);
                         });

// ---- the answer roads of SETs 1 and 13 ------------------------------------------------

enum class Road {
  Answer,  // the register's message awaits SET 1's answer (code 1)
  Sale,    // the register asks for a sale; SET 13's queued request answers it
};
enum class Moment {
  OfferSeen,       // SET 1 got the register's message
  AnswerOnTheLine, // the answer's long block is on a slow line; the register holds its ACK
  EarlyReplySeen,  // SET 13 got its reply 160; the final one is held back
};
enum class Then {
  CloseAndReopen,
  Cancel,
  Close,
  DisconnectThenNewConnection,  // the next connection in the slot takes the SET
};

struct AnswerRow {
  const char* name;
  Road road;
  Moment moment;
  Then then;
  bool keeper;  // another client holds SET 5 all along, so polling never restarts
  // Every message after the set-up, in any order: the owner's connection(s), the monitor.
  Lines owner;
  Lines monitor;
  Lines registerGets;  // OnLine answers
};

const std::string kLong(200, 'Q');
const std::string kOffer = "1/129/7 err 0 [123456;3;Q;1;1;]";
const std::string kRef = " ref 1/1/123456/4";

const AnswerRow kAnswerRows[] = {
    {"AnswerOnTheLineThenCloseAndReopen", Road::Answer, Moment::AnswerOnTheLine, Then::CloseAndReopen, false,
     {kOffer, "1/2/7 err 0 []", "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 0 [" + kLong + "]"},
     {kOffer, "1/4/7 err 0 [" + kLong + "]", "1/2/7 err 0 []", "1/2/7 err 0 []", "1/1/7 err 0 []",
      "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 0 [" + kLong + "]"},
     {kLong}},
    {"OfferSeenThenCloseAndReopenWhileAnotherSetKeepsPolling", Road::Answer, Moment::OfferSeen,
     Then::CloseAndReopen, true,
     {kOffer, "1/2/7 err 0 []", "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 0 [OK;]"},
     {kOffer, "1/2/7 err 0 []", "1/2/7 err 0 []", "1/1/7 err 0 []", "1/1/7 err 0 [HARBENDIX]",
      "1/4/7 err 0 [OK;]", "1/4/7 err 0 [OK;]"},
     {"OK;"}},
    // Taking the only SET in use again restarts polling, which ends the register's wait.
    {"OfferSeenThenCloseAndReopenOfTheOnlySet", Road::Answer, Moment::OfferSeen, Then::CloseAndReopen, false,
     {kOffer, "1/2/7 err 0 []", "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 6 []"},
     {kOffer, "1/2/7 err 0 []", "1/2/7 err 0 []", "1/1/7 err 0 []", "1/1/7 err 0 [HARBENDIX]",
      "1/4/7 err 0 [OK;]", "1/4/7 err 6 []"},
     {}},
    {"OfferSeenThenTheNextConnectionInTheSlotAnswers", Road::Answer, Moment::OfferSeen,
     Then::DisconnectThenNewConnection, true,
     {kOffer, "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 6 []"},
     {kOffer, "1/1/7 err 0 []", "1/1/7 err 0 [HARBENDIX]", "1/4/7 err 0 [OK;]", "1/4/7 err 6 []"},
     {}},
    {"SaleAnswerOnTheLineThenCloseAndReopen", Road::Sale, Moment::AnswerOnTheLine, Then::CloseAndReopen, false,
     {"13/2/7 err 0 []", "13/1/7 err 0 [HARBENDIX]", "13/160/7 err 0" + kRef + " [" + kLong + "]",
      "13/4/7 err 0" + kRef + " [" + kLong + "]"},
     {"13/2/7 err 0 []", "13/2/7 err 0 []", "13/1/7 err 0 []", "13/1/7 err 0 [HARBENDIX]",
      "13/160/7 err 0" + kRef + " [" + kLong + "]", "13/4/7 err 0" + kRef + " [" + kLong + "]"},
     {kLong}},
    // The held-back final reply is dropped when the SET is taken anew, or cancelled.
    {"EarlyReplySeenThenCloseAndReopen", Road::Sale, Moment::EarlyReplySeen, Then::CloseAndReopen, false,
     {"13/160/7 err 0" + kRef + " [S;]", "13/2/7 err 0 []", "13/1/7 err 0 [HARBENDIX]"},
     {"13/160/7 err 0" + kRef + " [S;]", "13/2/7 err 0 []", "13/2/7 err 0 []", "13/1/7 err 0 []",
      "13/1/7 err 0 [HARBENDIX]"},
     {"S;"}},
    {"EarlyReplySeenThenCancel", Road::Sale, Moment::EarlyReplySeen, Then::Cancel, false,
     {"13/160/7 err 0" + kRef + " [S;]", "13/3/7 err 0 []"},
     {"13/160/7 err 0" + kRef + " [S;]", "13/3/7 err 0 []", "13/3/7 err 0 []"},
     {"S;"}},
    // Given back and not taken anew, the SET keeps it: its final reply reaches the monitor.
    {"EarlyReplySeenThenClose", Road::Sale, Moment::EarlyReplySeen, Then::Close, true,
     {"13/160/7 err 0" + kRef + " [S;]", "13/2/7 err 0 []"},
     {"13/160/7 err 0" + kRef + " [S;]", "13/2/7 err 0 []", "13/2/7 err 0 []", "13/4/7 err 0" + kRef + " [S;]"},
     {"S;"}},
};

Lines Sorted(Lines lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

class AnswerMeetsEvent : public OverTheLine, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(AnswerMeetsEvent, TheOfferTheAnswerAndTheHeldBackReplyFollowTheirConnection) {
  const AnswerRow& row = GetParam();
  const int set = row.road == Road::Answer ? 1 : 13;
  const std::string answer = row.moment == Moment::AnswerOnTheLine ? kLong : row.road == Road::Sale ? "S;" : "OK;";
  // At 1200 bit/s the line takes the answer's block to be on the wire for 1.7 s, and waits
  // 200 ms more for its ACK; the register keeps its ACK until the event is over.
  if (row.moment == Moment::AnswerOnTheLine) RestartAt(1200);
  Party keeper;
  if (row.keeper) {
    keeper = Join();
    OpenSet(keeper, 5);
  }
  Party monitor = Join();
  OpenSet(monitor, set + 1);
  Party owner = Join();
  OpenSet(owner, set);
  ASSERT_TRUE(ReadUntil(monitor, std::to_string(set) + "/1/7 err 0 [HARBENDIX]"));
  if (row.road == Road::Sale) {
    Send(owner, 13, 4, answer);
    ASSERT_TRUE(ReadUntil(monitor, "13/4/7 err 0 [" + answer + "]"));
  }
  monitor.got.clear();
  owner.got.clear();

  if (row.moment == Moment::AnswerOnTheLine) emulator.HoldAcknowledgements(1200ms);
  ecr7.QueueOnLineMessage(row.road == Road::Answer ? "123456;3;1;Q;" : "123456;4;5;");
  if (row.road == Road::Answer) {
    ASSERT_TRUE(ReadUntil(owner, kOffer));
    if (row.moment == Moment::AnswerOnTheLine) Send(owner, 1, cmdAnswer, answer);
  }
  if (row.moment == Moment::AnswerOnTheLine) {
    ASSERT_TRUE(EmulatorSees([&] { return ecr7.OnLineAnswers().size() == 1; }));
  } else if (row.moment == Moment::EarlyReplySeen) {
    ASSERT_TRUE(ReadUntil(owner, "13/160/7 err 0" + kRef + " [" + answer + "]"));
  }

  Party newcomer;
  Party* answerer = &owner;
  const std::string s = std::to_string(set);
  switch (row.then) {
    case Then::CloseAndReopen:
      Send(owner, set, cmdClose);
      ASSERT_TRUE(ReadUntil(owner, s + "/2/7 err 0 []"));
      OpenSet(owner, set);
      break;
    case Then::Cancel:
      Send(owner, set, cmdCancel);
      ASSERT_TRUE(ReadUntil(owner, s + "/3/7 err 0 []"));
      break;
    case Then::Close:
      Send(owner, set, cmdClose);
      ASSERT_TRUE(ReadUntil(owner, s + "/2/7 err 0 []"));
      break;
    case Then::DisconnectThenNewConnection:
      Disconnect(owner);
      newcomer = Join();
      OpenSet(newcomer, set);
      answerer = &newcomer;
      break;
  }
  emulator.ReleaseAcknowledgements();
  if (row.moment == Moment::OfferSeen) {
    Send(*answerer, 1, cmdAnswer, answer);
    ASSERT_TRUE(ReadUntil(*answerer, row.owner.back()));
  }
  if (row.road == Road::Sale) {
    // The register's next message confirms the held-back reply, if one is kept.
    ecr7.QueueOnLineMessage("123456;5;A;");
    ASSERT_TRUE(EmulatorSees([&] { return ecr7.QueuedMessages() == 0; }));
  }
  ASSERT_TRUE(PolledOn(ecr7));
  for (Party* party : {&owner, &monitor, &newcomer}) {
    if (party->link) ReadRest(*party);
  }
  Lines owners = owner.got;
  Append(owners, newcomer.got);
  EXPECT_EQ(Sorted(owners), Sorted(row.owner)) << "the owner";
  EXPECT_EQ(Sorted(monitor.got), Sorted(row.monitor)) << "the monitor";
  EXPECT_EQ(ecr7.OnLineAnswers(), row.registerGets);
  EXPECT_TRUE(NoBadBlockReachedTheRegister());
}

INSTANTIATE_TEST_SUITE_P(Table, AnswerMeetsEvent, ::testing::ValuesIn(kAnswerRows),
                         [](const ::testing::TestParamInfo<AnswerRow>& row) { return std::string(row.param.name); });

// ---- blocks the line would cut ----------------------------------------------------------

enum class Carrier {
  Command,      // SET 5: the letter, then the Payload
  Answer,       // SET 1 cmdAnswer: the Payload
  AnswerC,      // SET 1 cmdAnswerC: "C;", then the Payload
  Sale,         // SET 13 request 4 answering a sale question: the Payload
  ReceiptLine,  // SET 13 request 4 answering a receipt line question: "L;", then the Payload
};

struct SizeRow {
  const char* name;
  std::uint32_t baud;
  Carrier carrier;
  std::size_t length;  // of the request's Payload
  bool whole;          // false: refused with erBufferOverflow, nothing on the line
};

// The largest block carries 253 - FillCount data bytes: 252 at 1200 bit/s, 251 at 2400, 244
// at 9600, 238 at 38400. A request's Payload holds 250 bytes at most.
const SizeRow kSizeRows[] = {
    {"Command243At9600", 9600, Carrier::Command, 243, true},
    {"Command244At9600", 9600, Carrier::Command, 244, false},
    {"Answer244At9600", 9600, Carrier::Answer, 244, true},
    {"Answer245At9600", 9600, Carrier::Answer, 245, false},
    {"AnswerC242At9600", 9600, Carrier::AnswerC, 242, true},
    {"AnswerC243At9600", 9600, Carrier::AnswerC, 243, false},
    {"Sale244At9600", 9600, Carrier::Sale, 244, true},
    {"Sale245At9600", 9600, Carrier::Sale, 245, false},
    {"ReceiptLine242At9600", 9600, Carrier::ReceiptLine, 242, true},
    {"ReceiptLine243At9600", 9600, Carrier::ReceiptLine, 243, false},
    {"Command237At38400", 38400, Carrier::Command, 237, true},
    {"Command238At38400", 38400, Carrier::Command, 238, false},
    {"AnswerC249At2400", 2400, Carrier::AnswerC, 249, true},
    {"AnswerC250At2400", 2400, Carrier::AnswerC, 250, false},
    {"Command250At1200", 1200, Carrier::Command, 250, true},
    {"AnswerC250At1200", 1200, Carrier::AnswerC, 250, true},
    {"ReceiptLine250At1200", 1200, Carrier::ReceiptLine, 250, true},
};

class BlockSize : public OverTheLine, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(BlockSize, AnyBlockTheLineWouldCutIsRefusedAndTheLargestGoesWhole) {
  const SizeRow& row = GetParam();
  if (row.baud != 9600) RestartAt(row.baud);
  const std::string payload(row.length, 'P');
  const int set = row.carrier == Carrier::Command ? 5 : row.carrier == Carrier::Sale || row.carrier == Carrier::ReceiptLine ? 13 : 1;
  Party monitor = Join();
  OpenSet(monitor, set + 1);
  Party owner = Join();
  OpenSet(owner, set);
  monitor.got.clear();
  owner.got.clear();
  ecr7.SetResponder([](const std::string&) { return "DONE"; });

  std::string onTheLine;  // what the register is to get
  int command = 0;        // of the reply that tells the owner
  switch (row.carrier) {
    case Carrier::Command:
      Send(owner, 5, 9, payload);
      onTheLine = "I" + payload;
      command = 9;
      break;
    case Carrier::Answer:
    case Carrier::AnswerC:
      ecr7.QueueOnLineMessage("123456;3;1;Q;");
      ASSERT_TRUE(ReadUntil(owner, kOffer));
      command = row.carrier == Carrier::Answer ? cmdAnswer : cmdAnswerC;
      Send(owner, 1, command, payload);
      onTheLine = (row.carrier == Carrier::AnswerC ? "C;" : "") + payload;
      break;
    case Carrier::Sale:
    case Carrier::ReceiptLine:
      Send(owner, 13, 4, payload);
      ecr7.QueueOnLineMessage(row.carrier == Carrier::Sale ? "123456;4;5;" : "123456;4;A;");
      onTheLine = (row.carrier == Carrier::ReceiptLine ? "L;" : "") + payload;
      command = row.whole ? cmdAnswerSent : 4;
      break;
  }
  ASSERT_EQ(onTheLine.size() <= BlockDataCapacity(FillCountOf(row.baud)), row.whole);

  // The reply that tells the owner how it went.
  std::optional<ClientMessage> told;
  while (!told) {
    const std::optional<std::string> message = owner.link->ReadMessage();
    ASSERT_TRUE(message) << "no reply";
    const ClientMessage m = ParseClientMessage(*message);
    if (m.SetNo == set && m.Command == command) told = m;
  }
  EXPECT_EQ(told->ErrorCode, row.whole ? erNoError : erBufferOverflow);

  if (!row.whole && (row.carrier == Carrier::Answer || row.carrier == Carrier::AnswerC)) {
    // The register still waits for an answer, and one that fits goes.
    Send(owner, 1, cmdAnswer, "OK;");
    ASSERT_TRUE(ReadUntil(owner, "1/4/7 err 0 [OK;]"));
  }
  ASSERT_TRUE(PolledOn(ecr7));
  EXPECT_TRUE(NoBadBlockReachedTheRegister());
  const bool command5 = row.carrier == Carrier::Command;
  const Lines got = command5 ? ecr7.Commands() : ecr7.OnLineAnswers();
  Lines expected;
  if (row.whole) {
    expected.push_back(onTheLine);
  } else if (row.carrier == Carrier::Answer || row.carrier == Carrier::AnswerC) {
    expected.push_back("OK;");
  }
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(command5 ? ecr7.OnLineAnswers().empty() : ecr7.Commands().empty());
  // The monitor is told the same.
  ReadRest(monitor);
  const std::string refusal = std::to_string(set) + "/" + std::to_string(command) + "/7 err 18";
  const bool monitorTold = std::any_of(monitor.got.begin(), monitor.got.end(),
                                       [&](const std::string& line) { return line.rfind(refusal, 0) == 0; });
  EXPECT_EQ(monitorTold, !row.whole);
}

INSTANTIATE_TEST_SUITE_P(Table, BlockSize, ::testing::ValuesIn(kSizeRows),
                         [](const ::testing::TestParamInfo<SizeRow>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace ecr
