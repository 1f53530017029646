// A client that leaves while its request is on the line: the exchange runs to its end, and
// its reply follows the connection that asked: it reaches the asker again when the same
// connection has taken the SET back, and otherwise only the monitor, never another client
// that holds the SET next nor the next connection in the asker's slot (client ids are slot
// numbers that the next connection reuses); the next holder's own request runs once and
// gets its own reply; and the client leaves nothing of its own behind.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <string>

#include "server/commands.h"
#include "tests/server/register_road_fixture.h"

namespace ecr {
namespace {

using testing_support::EngineOnItsOwn;
using testing_support::Lines;

constexpr std::uint16_t kAsker = 8;
constexpr std::uint16_t kMonitor = 9;
constexpr std::uint16_t kAnother = 10;

// How far the asker's request has come when the asker leaves, and how the exchange ends.
struct Course {
  const char* name;
  int set;
  int command;  // of the request (the newcomer queues the same one with the same text)
  std::function<void(EngineOnItsOwn&)> toPhase;
  std::function<void(EngineOnItsOwn&)> toEnd;
  // What the end sends for the asker's request (the monitor gets each, and the asker too
  // when it holds the SET again); keptOnly: only while the SET keeps the held-back reply
  // (given back, and not taken anew).
  Lines owed;
  bool keptOnly = false;
};

void Status(EngineOnItsOwn& road) { road.engine.OnEcrStatus(road.sender, &road.poller, 7, "1234;", 0); }
void CommandSent(EngineOnItsOwn& road, int result) {
  road.engine.OnCommandSent(road.sender, &road.poller, 7, static_cast<std::uint8_t>(result));
}
void CommandAnswer(EngineOnItsOwn& road, const std::string& answer) {
  road.engine.OnCommandAnswer(road.sender, &road.poller, 7, answer, 0);
}
// A register message; what it sends stays recorded.
void Message(EngineOnItsOwn& road, const std::string& block) {
  road.engine.OnEcrMessage(road.sender, &road.poller, 7, block, 0);
}
void AnswerSent(EngineOnItsOwn& road, int result) {
  road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, static_cast<std::uint8_t>(result));
}

// The register asks for a sale; the asker's queued request answers it.
void SaleAsked(EngineOnItsOwn& road) { road.Message("123456;4;5;"); }
// The register's message awaits SET 1's answer, and the asker gives it.
void AskerAnswers(EngineOnItsOwn& road) {
  road.Message("123456;4;1;Q;");
  road.Request(kAsker, 1, cmdAnswer, "AAA;");
}

const std::string kOldRef = " ref 1/1/123456/4";
const std::string kNewRef = " ref 1/2/123456/5";

const Course kCourses[] = {
    {"SET 5 command handed to the line", 5, 9,
     Status,
     [](EngineOnItsOwn& road) {
       CommandSent(road, 0);
       CommandAnswer(road, "DONE-OLD");
     },
     {"5/9/7 err 0 [DONE-OLD]"}},
    {"SET 5 command sent, answer awaited", 5, 9,
     [](EngineOnItsOwn& road) {
       Status(road);
       CommandSent(road, 0);
     },
     [](EngineOnItsOwn& road) { CommandAnswer(road, "DONE-OLD"); },
     {"5/9/7 err 0 [DONE-OLD]"}},
    {"SET 5 command not sent", 5, 9,
     Status,
     [](EngineOnItsOwn& road) { CommandSent(road, 1); },
     {"5/9/7 err 17 [AAA;]"}},
    {"SET 13 sale answer handed to the line", 13, 4,
     SaleAsked,
     [](EngineOnItsOwn& road) { AnswerSent(road, 0); },
     {"13/160/7 err 0" + kOldRef + " [AAA;]", "13/4/7 err 0" + kOldRef + " [AAA;]"}},
    {"SET 13 sale answer not sent", 13, 4,
     SaleAsked,
     [](EngineOnItsOwn& road) { AnswerSent(road, 1); },
     {"13/160/7 err 17" + kOldRef + " [AAA;]", "13/4/7 err 0" + kOldRef + " [AAA;]"}},
    {"SET 13 sale answer sent, confirmation awaited", 13, 4,
     [](EngineOnItsOwn& road) {
       SaleAsked(road);
       AnswerSent(road, 0);
     },
     [](EngineOnItsOwn&) {},
     {"13/4/7 err 0" + kOldRef + " [AAA;]"}, true},
    {"SET 1 answer handed to the line", 1, cmdAnswer,
     AskerAnswers,
     [](EngineOnItsOwn& road) { AnswerSent(road, 0); },
     {"1/4/7 err 0 [AAA;]"}},
    {"SET 1 answer timed out on the line", 1, cmdAnswer,
     AskerAnswers,
     [](EngineOnItsOwn& road) { AnswerSent(road, 3); },
     {"1/4/7 err 10 [AAA;]"}},
};

enum class Leave { Disconnect, Close };
enum class Newcomer { None, Another, SameSlot };

// The register's next exchange for the SET (SET 1 has none here): a SET 13 held-back reply
// is confirmed by it, a newcomer's queued request is served and answered, and one more
// exchange finds nothing left to serve.
void NextExchanges(EngineOnItsOwn& road, int set, bool queued) {
  if (set == 5) {
    Status(road);
    if (queued) {
      CommandSent(road, 0);
      CommandAnswer(road, "DONE-NEW");
    }
    Status(road);
  } else if (set == 13) {
    Message(road, "123456;5;5;");
    if (queued) {
      AnswerSent(road, 0);
      Message(road, "123456;6;5;");
    }
  }
}

Lines NewcomersReplies(int set) {
  if (set == 5) return {"5/9/7 err 0 [DONE-NEW]"};
  return {"13/160/7 err 0" + kNewRef + " [AAA;]", "13/4/7 err 0" + kNewRef + " [AAA;]"};
}

std::map<int, Lines> ByClient(const Lines& sent) {
  std::map<int, Lines> byClient;
  for (const std::string& line : sent) {
    const std::size_t colon = line.find(": ");
    byClient[std::stoi(line.substr(3, colon - 3))].push_back(line.substr(colon + 2));
  }
  return byClient;
}

void Append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

TEST(ClientLeaves, OwedReplyFollowsItsConnectionAndTheNextHoldersRequestRunsOnce) {
  for (const Course& course : kCourses) {
    for (const Leave leave : {Leave::Disconnect, Leave::Close}) {
      for (const Newcomer newcomer : {Newcomer::None, Newcomer::Another, Newcomer::SameSlot}) {
        for (const bool queues : {false, true}) {
          if (queues && (newcomer == Newcomer::None || course.set == 1)) continue;
          SCOPED_TRACE(testing::Message()
                       << course.name << "; the asker " << (leave == Leave::Close ? "closes" : "disconnects")
                       << "; "
                       << (newcomer == Newcomer::None      ? "nobody takes the SET"
                           : newcomer == Newcomer::Another ? "another client takes the SET"
                           : leave == Leave::Close         ? "the asker's connection takes the SET again"
                                                           : "the next connection in the asker's slot takes the SET")
                       << (queues ? " and queues the same request" : ""));
          const int set = course.set;
          const std::string s = std::to_string(set);
          EngineOnItsOwn road;
          road.OpenSets({{kAsker, set}, {kMonitor, set + 1}});
          if (set != 1) road.Request(kAsker, set, course.command, "AAA;");
          course.toPhase(road);
          road.Sent();
          road.Calls();

          if (leave == Leave::Disconnect) {
            road.engine.ClientDisconnected(road.sender, &road.poller, kAsker);
          } else {
            road.Request(kAsker, set, cmdClose);
          }
          const std::uint16_t next = newcomer == Newcomer::Another ? kAnother : kAsker;
          if (newcomer != Newcomer::None) road.Request(next, set, cmdOpen);
          if (queues) road.Request(next, set, course.command, "AAA;");
          course.toEnd(road);
          Lines sent = road.Sent();
          NextExchanges(road, set, queues);
          Append(sent, road.Sent());

          std::map<int, Lines> expected;
          if (leave == Leave::Close) {
            expected[kAsker] = {s + "/2/7 err 0 []"};
            expected[kMonitor] = {s + "/2/7 err 0 []", s + "/2/7 err 0 []"};
          }
          if (newcomer != Newcomer::None) {
            Append(expected[next], {s + "/1/7 err 0 [HARBENDIX]"});
            Append(expected[kMonitor], {s + "/1/7 err 0 []", s + "/1/7 err 0 [HARBENDIX]"});
          }
          if (queues) Append(expected[kMonitor], {s + "/" + std::to_string(course.command) + "/7 err 0 [AAA;]"});
          if (!course.keptOnly || (leave == Leave::Close && newcomer == Newcomer::None)) {
            Append(expected[kMonitor], course.owed);
          }
          // The same connection took the SET back before the reply came (a held-back reply
          // kept in the SET is dropped when it is taken anew).
          const bool askerHoldsAgain = leave == Leave::Close && newcomer == Newcomer::SameSlot;
          if (askerHoldsAgain && !course.keptOnly) Append(expected[kAsker], course.owed);
          if (queues) {
            Append(expected[next], NewcomersReplies(set));
            Append(expected[kMonitor], NewcomersReplies(set));
          }
          EXPECT_EQ(ByClient(sent), expected);

          int handedOver = 0;
          for (const std::string& call : road.Calls()) {
            if (call == "SetInLineCommand IAAA;" || call == "SetOnLineAnswer AAA;") ++handedOver;
          }
          EXPECT_EQ(handedOver, queues ? 1 : 0);
          EXPECT_EQ(road.Set(set).Command, 0);
          EXPECT_EQ(road.Set(set).State, kStateNone);
          EXPECT_EQ(road.Set(set).Saved, 0);
        }
      }
    }
  }
}

// The owner leaves while the register waits for its answer, and it held the register's only
// working SET: polling stops, and the next open starts it again by cancelling the wait. An
// answer to the cancelled exchange comes too late.
TEST(ClientLeaves, AnswerToAnExchangeCancelledByTheNextOpenIsTooLate) {
  struct Case {
    int command;
    std::string payload;
  };
  const Case cases[] = {{cmdAnswer, "BBB;"}, {cmdAnswerC, "BBB;"}, {cmdFinish, ""}};
  for (const Leave leave : {Leave::Disconnect, Leave::Close}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (leave == Leave::Close ? "close" : "disconnect") << ", command "
                                      << c.command);
      EngineOnItsOwn road;
      road.OpenSets({{kAsker, 1}});
      EXPECT_EQ(road.Message("123456;4;1;Q;"), Lines{"to 8: 1/129/7 err 0 [123456;4;Q;1;1;]"});
      road.Calls();
      if (leave == Leave::Disconnect) {
        road.engine.ClientDisconnected(road.sender, &road.poller, kAsker);
      } else {
        road.Request(kAsker, 1, cmdClose);
      }
      EXPECT_FALSE(road.engine.PollingActive());
      road.Request(kAnother, 1, cmdOpen);
      road.Sent();
      EXPECT_EQ(road.Calls(), (Lines{"RemoveEcr 7", "StopNoise", "AddEcr 7", "StartNoise", "CancelExchange"}));
      road.Request(kAnother, 1, c.command, c.payload);
      EXPECT_EQ(road.Sent(), Lines{"to 10: 1/" + std::to_string(c.command) + "/7 err 6 []"});
      EXPECT_TRUE(road.Calls().empty());
    }
  }
}

TEST(ClientLeaves, NoSubscriberEntryOutlivesItsClient) {
  EngineOnItsOwn road;
  road.settings.SubscriberPassword = "secret";
  for (int join = 0; join < 20; ++join) road.Request(4, SubscriberSet, cmdOpen, "secret");
  road.Request(5, SubscriberSet, cmdOpen, "secret", 8);
  road.Request(4, SubscriberSet, cmdOpen, "secret", 8);
  road.Sent();
  EXPECT_EQ(road.engine.EcrSnapshot(7).QueueCount, 20);
  road.engine.ClientDisconnected(road.sender, &road.poller, 4);
  EXPECT_EQ(road.engine.EcrSnapshot(7).QueueCount, 0);
  EXPECT_EQ(road.engine.EcrSnapshot(7).Queue, (std::array<std::int16_t, kSubscriberQueueLength>{}));
  const TEcr eight = road.engine.EcrSnapshot(8);
  EXPECT_EQ(eight.QueueCount, 1);
  EXPECT_EQ(eight.Queue[0], 5);
  EXPECT_EQ(eight.Queue[1], 0);

  // The next connection in the same slot is refused and hears nothing of the register.
  road.Request(4, SubscriberSet, cmdOpen, "wrong");
  EXPECT_EQ(road.Sent(), Lines{"to 4: 254/1/7 err 8 []"});
  EXPECT_TRUE(road.Message("123456;4;0;X;").empty());
  road.Request(6, SubscriberSet, cmdOpen, "secret");
  EXPECT_EQ(road.Sent(), Lines{"to 6: 254/1/7 err 0 []"});
}

}  // namespace
}  // namespace ecr
