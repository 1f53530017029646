// The register's fiscal questions answered from the requests queued on SET 13, and its
// fiscal-event messages.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/fields.h"
#include "tests/server/register_road_fixture.h"

namespace ecr {
namespace {

using testing_support::EngineOnItsOwn;
using testing_support::Lines;

// Client 6 holds SET 13, client 7 its monitor SET 14.
struct Asked : EngineOnItsOwn {
  explicit Asked(bool oldFP) {
    engine.SetOldFPMode(oldFP);
    OpenSets({{6, 13}, {7, 14}});
  }
  // The owner's messages; the monitor must have had the same ones.
  Lines OwnerSent() { return OwnerOf(Sent()); }
  Lines OwnerOf(const Lines& all) {
    Lines owner;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i].rfind("to 6: ", 0) != 0) {
        ADD_FAILURE() << "unexpected " << all[i];
        continue;
      }
      owner.push_back(all[i].substr(6));
      EXPECT_TRUE(i + 1 < all.size() && all[i + 1] == "to 7: " + owner.back()) << all[i];
      ++i;
    }
    return owner;
  }
};

TEST(AskExchanges, EveryCopInEveryQuestion) {
  struct Case {
    char code;
    int cop;
    std::string P;
    bool oldFP;
    std::string toRegister;  // the OnLine answer; empty: the register is freed
    Lines atQuestion;        // to the owner while the question is answered
    Lines afterSend;         // when the answer has gone out (send result 0)
    Lines atNextMessage;     // at the register's next message (message number 5)
    int stateAfter;          // cmdState once it is all over
    std::string logLine;
  };
  const std::string ref = " ref 1/1/123456/4";
  // 2 to the power 230: exact in binary, so its fixed notation shows all of its 70 digits.
  const std::string huge = "1725436586697640946858688965569256363112777243042596638790631055949824";
  const Case cases[] = {
      {'5', 4, "1;x;1.5;2;", false, "1;x;1.5;2;", {}, {"13/160/7 err 0" + ref + " [1;x;1.5;2;]"},
       {"13/4/7 err 0" + ref + " [1;x;1.5;2;]"}, 0, ""},
      {'5', 4, "1;x;1.5;2;", true, "1;x;1.50;2.000;;;", {}, {}, {"13/4/7 err 0 [1;x;1.5;2;123456;4;1;1;]"}, 0, ""},
      {'5', 4, "1;x;" + huge + ";2;", true, "1;x;" + huge + ".00;2.000;;;", {}, {},
       {"13/4/7 err 0 [1;x;" + huge + ";2;123456;4;1;1;]"}, 0, ""},
      {'5', 4, "1;x;", true, "1;x;", {}, {}, {"13/4/7 err 0 [1;x;123456;4;1;1;]"}, 0,
       "EXCEPTION in CheckSell - ConversionError:\r\nField 3 is missing\r\nBlock=1;x;"},
      {'5', 5, "p;", false, "", {}, {}, {}, 101, ""},
      {'5', 6, "p;", false, "0;;;;;;2;0;0;", {}, {"13/160/7 err 0" + ref + " [0;;;;;;2;0;0;]"},
       {"13/6/7 err 0" + ref + " [0;;;;;;2;0;0;]"}, 0, ""},
      {'5', 6, "p;", true, "0;;;;;;2;0;0;", {}, {}, {"13/6/7 err 0 [123456;4;1;1;]"}, 0, ""},
      {'5', 9, "p;", false, "", {"13/9/7 err 5" + ref + " [p;]"}, {}, {}, 0, ""},
      {'5', 15, "p;", true, "", {"13/15/7 err 5 [123456;4;1;1;]"}, {}, {}, 0, ""},
      {'5', 3, "p;", false, "", {"13/3/7 err 14" + ref + " [p;]"}, {}, {}, 0, "AskFPSell: Unknown COP: $03"},
      {'6', 4, "p;", false, "", {}, {}, {}, 101, ""},
      {'6', 5, "p;", false, "p;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/5/7 err 0" + ref + " [p;]"}, 0, ""},
      {'6', 5, "p;", true, "p;", {}, {}, {"13/5/7 err 0 [p;123456;4;1;1;]"}, 0, ""},
      {'6', 6, "p;", false, "", {}, {}, {}, 101, ""},
      {'6', 12, "p;", false, "", {"13/12/7 err 5" + ref + " [p;]"}, {}, {}, 0, ""},
      {'6', 16, "p;", false, "", {"13/16/7 err 14" + ref + " [p;]"}, {}, {}, 0, "AskFPPrint: Unknown COP: $10"},
      {'A', 4, "1;x;1.5;2;", false, "L;1;x;1.5;2;", {}, {"13/160/7 err 0" + ref + " [1;x;1.5;2;]"},
       {"13/4/7 err 0" + ref + " [1;x;1.5;2;]"}, 0, ""},
      {'A', 5, "p;", false, "X;p;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/5/7 err 0" + ref + " [p;]"}, 0, ""},
      {'A', 6, "", false, "E;0;;;;;", {}, {"13/160/7 err 0" + ref + " []"}, {"13/6/7 err 0" + ref + " []"}, 0, ""},
      {'A', 6, "4;9.5;", false, "E;4;9.5;", {}, {"13/160/7 err 0" + ref + " [4;9.5;]"},
       {"13/6/7 err 0" + ref + " [4;9.5;]"}, 0, ""},
      {'A', 6, "4;9.5;", true, "E;4;;;;;", {}, {}, {"13/6/7 err 0 [4;9.5;123456;4;1;1;]"}, 0, ""},
      {'A', 6, "1;9.5;", true, "E;1;9.50;;;;", {}, {}, {"13/6/7 err 0 [1;9.5;123456;4;1;1;]"}, 0, ""},
      {'A', 6, "", true, "E;0;;;;;", {}, {}, {"13/6/7 err 0 [123456;4;1;1;]"}, 0,
       "EXCEPTION in CheckPay - ConversionError:\r\nField 2 is missing\r\nBlock="},
      {'A', 8, "1;5;", true, "C;1;5.00;;;;", {}, {}, {"13/8/7 err 0 [1;5;123456;4;1;1;]"}, 0, ""},
      {'A', 9, "1;5;", false, "I;1;5;", {}, {"13/160/7 err 0" + ref + " [1;5;]"}, {"13/9/7 err 0" + ref + " [1;5;]"}, 0, ""},
      {'A', 9, "1;x;", true, "I;1;x;", {}, {}, {"13/9/7 err 0 [1;x;123456;4;1;1;]"}, 0,
       "EXCEPTION in CheckPercRopo - ConversionError:\r\n'x' is not a valid floating point value\r\nBlock=1;x;"},
      {'A', 10, "p;", false, "H;;;;;;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/10/7 err 0" + ref + " [p;]"}, 0, ""},
      {'A', 10, "p;", true, "H;;;;;;", {}, {}, {"13/10/7 err 0 [123456;4;1;1;]"}, 0, ""},
      {'A', 11, "p;", false, "F;;;;;;", {"13/160/7 err 0" + ref + " [p;]"}, {"13/11/7 err 0" + ref + " [p;]"}, {}, 0, ""},
      {'A', 13, "p;", false, "Z;p;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/13/7 err 0" + ref + " [p;]"}, 0, ""},
      {'A', 14, "p;", false, "A;p;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/14/7 err 0" + ref + " [p;]"}, 0, ""},
      {'A', 15, "p;", false, "Y;p;", {}, {"13/160/7 err 0" + ref + " [p;]"}, {"13/15/7 err 0" + ref + " [p;]"}, 0, ""},
      {'A', 7, "p;", false, "", {"13/7/7 err 14" + ref + " [p;]"}, {}, {}, 0, "AskRec: Unknown COP: $07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.code) + " COP " + std::to_string(c.cop) + (c.oldFP ? " old" : ""));
    Asked road(c.oldFP);
    road.engine.WithContext([&](ExchangeContext& context) {
      // Queued as the client handlers queue, also for numbers no request can carry.
      TSetDescr& set = context.EcrTable.At(7).Set(13);
      set.Command = static_cast<std::uint8_t>(c.cop);
      set.State = kStateQueued;
      set.Payload = c.P;
    });
    EXPECT_EQ(road.OwnerOf(road.Message(std::string("123456;4;") + c.code + ";")), c.atQuestion);
    const Lines calls = road.Calls();
    if (c.toRegister.empty()) {
      EXPECT_EQ(calls, Lines{"CancelExchange"});
    } else {
      EXPECT_EQ(calls, Lines{"SetOnLineAnswer " + c.toRegister});
      EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Set, 13);
      road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
      EXPECT_EQ(road.OwnerSent(), c.afterSend);
      EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    }
    EXPECT_EQ(road.OwnerOf(road.Message("123456;5;0;N;")), c.atNextMessage);
    EXPECT_EQ(road.Set(13).State, c.stateAfter);
    EXPECT_EQ(road.log, c.logLine.empty() ? Lines{} : Lines{c.logLine});
  }
}

// The error code and the receipt reference ("ref id/sequence/serial/message", or "no ref")
// of a reply as the fixture describes it.
int ErrorOf(const std::string& reply) { return std::stoi(reply.substr(reply.find(" err ") + 5)); }
std::string ReferenceOf(const std::string& reply) {
  const std::size_t at = reply.find(" ref ");
  return at == std::string::npos ? "no ref" : reply.substr(at + 1, reply.find(" [", at) - at - 1);
}

// Whether each question, with each request pending, takes the register's sequence number
// or only reads it, and keeps its notification id or closes it (a new id, the sequence back
// to 1, the settings saved). The register starts with id 3 and sequence 5, the next id is 9.
TEST(AskExchanges, EveryCopTakesOrReadsTheSequenceAndKeepsOrClosesTheId) {
  enum Seq { kNoSeq, kTaken, kRead };
  enum Id { kNoId, kKept, kClosed };
  struct Cell {
    std::string outcome;  // "release", "reject n" or "answer " + the register's answer
    Seq seq;
    Id id;
  };
  const Cell release{"release", kNoSeq, kNoId};
  const Cell syntax{"reject 5", kRead, kKept};
  const Cell unknown{"reject 14", kRead, kKept};
  const auto answer = [](const std::string& text, Seq seq, Id id) { return Cell{"answer " + text, seq, id}; };
  struct Row {
    int cop;
    std::string P;
    Cell sell, print, receipt;  // the questions "5", "6" and "A"
  };
  const Row rows[] = {
      {0, "p;", release, release, release},
      {1, "p;", unknown, unknown, unknown},
      {2, "p;", unknown, unknown, unknown},
      {3, "p;", unknown, unknown, unknown},
      {4, "p;", answer("p;", kTaken, kKept), release, answer("L;p;", kTaken, kKept)},
      {5, "p;", release, answer("p;", kTaken, kKept), answer("X;p;", kTaken, kKept)},
      {6, "p;", answer("0;;;;;;2;0;0;", kTaken, kClosed), release, answer("E;p;", kTaken, kKept)},
      {6, "", answer("0;;;;;;2;0;0;", kTaken, kClosed), release, answer("E;0;;;;;", kTaken, kClosed)},
      {7, "p;", unknown, unknown, unknown},
      {8, "p;", syntax, syntax, answer("C;p;", kTaken, kKept)},
      {9, "p;", syntax, syntax, answer("I;p;", kTaken, kKept)},
      {10, "p;", syntax, syntax, answer("H;;;;;;", kRead, kKept)},
      {11, "p;", syntax, syntax, answer("F;;;;;;", kRead, kKept)},
      {12, "p;", syntax, syntax, answer("F;;;;;;", kRead, kKept)},
      {13, "p;", syntax, syntax, answer("Z;p;", kTaken, kKept)},
      {14, "p;", syntax, syntax, answer("A;p;", kTaken, kKept)},
      {15, "p;", syntax, syntax, answer("Y;p;", kTaken, kKept)},
      {16, "p;", unknown, unknown, unknown},
      {255, "p;", unknown, unknown, unknown},
  };
  // What a cell leaves: its replies name the id in force (or the one it closes) and the
  // sequence as it stood, whether it was taken or read; a release leaves the request queued.
  const auto expected = [](const Cell& cell, int cop) {
    const bool released = cell.outcome == "release";
    const bool closed = cell.id == kClosed;
    return cell.outcome + (released ? " | no reply" : " | ref 3/5/123456/4") + " | sequence " +
           (closed ? "1" : cell.seq == kTaken ? "6" : "5") + ", id " + (closed ? "9" : "3") + ", next id " +
           (closed ? "10" : "9") + ", saved " + (closed ? "1" : "0") + " | pending " +
           (released && cop != 0 ? "101" : "0");
  };
  const std::pair<char, std::string> questions[] = {{'5', "AskFPSell"}, {'6', "AskFPPrint"}, {'A', "AskRec"}};
  for (const Row& row : rows) {
    for (const auto& [code, name] : questions) {
      const Cell& cell = code == '5' ? row.sell : code == '6' ? row.print : row.receipt;
      SCOPED_TRACE(name + " with COP " + std::to_string(row.cop) + " [" + row.P + "]");
      Asked road(false);
      road.settings.Ecr(7).NotifyId = 3;
      road.settings.Ecr(7).Sequence = 5;
      road.settings.NextNotifyId = 9;
      road.engine.WithContext([&](ExchangeContext& context) {
        TSetDescr& set = context.EcrTable.At(7).Set(13);
        set.Command = static_cast<std::uint8_t>(row.cop);
        set.State = row.cop == 0 ? kStateNone : kStateQueued;
        set.Payload = row.P;
      });
      Lines replies = road.OwnerOf(road.Message(std::string("123456;4;") + code + ";0;"));
      const Lines calls = road.Calls();
      std::string seen;
      if (calls == Lines{"CancelExchange"}) {
        seen = replies.empty() ? "release" : "reject " + std::to_string(ErrorOf(replies[0]));
      } else {
        ASSERT_EQ(calls.size(), 1u);
        seen = "answer " + calls[0].substr(calls[0].find(' ') + 1);
        road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
        for (const std::string& reply : road.OwnerSent()) replies.push_back(reply);
      }
      std::set<std::string> references;
      for (const std::string& reply : replies) references.insert(ReferenceOf(reply));
      seen += " |";
      for (const std::string& reference : references) seen += " " + reference;
      if (references.empty()) seen += " no reply";
      const EcrSettings& counters = road.settings.Ecr(7);
      seen += " | sequence " + std::to_string(counters.Sequence) + ", id " + std::to_string(counters.NotifyId) +
              ", next id " + std::to_string(road.settings.NextNotifyId) + ", saved " +
              std::to_string(road.saver.saves) + " | pending " + std::to_string(road.Set(13).State);
      EXPECT_EQ(seen, expected(cell, row.cop));
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", row.cop);
      EXPECT_EQ(road.log, cell.outcome == "reject 14" ? Lines{name + ": Unknown COP: $" + hex} : Lines{});
    }
  }
}

TEST(AskExchanges, HeldBackRepliesFollowTheMessageNumber) {
  struct Case {
    int first, next;
    int code;
  };
  const Case cases[] = {{4, 5, 0}, {9, 0, 0}, {9, 9, 22}, {9, 5, 22}, {3, 3, 22}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.next));
    Asked road(false);
    road.Request(6, 13, 5, "p;");
    road.Sent();
    road.Message("123456;" + std::to_string(c.first) + ";6;");
    road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 1);  // NAKed: the early reply says so
    const Lines early = road.OwnerSent();
    ASSERT_EQ(early.size(), 1u);
    EXPECT_EQ(early[0].substr(0, 15), "13/160/7 err 17");
    // Even an unknown message delivers them.
    const Lines held = road.OwnerOf(road.Message("123456;" + std::to_string(c.next) + ";Q;"));
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].substr(0, 12), "13/5/7 err " + std::to_string(c.code).substr(0, 1));
    EXPECT_EQ(held[0].find(" err " + std::to_string(c.code) + " ref "), 6u);
    EXPECT_FALSE(road.Set(13).Saved);
  }
}

TEST(AskExchanges, ReceiptLineValueQuestion) {
  struct Case {
    std::string field3;
    bool oldFP;
    std::string toRegister;
    Lines replies;
    bool logged;
  };
  const Case cases[] = {
      {"0", false, "F;;;;;;", {"13/12/7 err 0 ref 1/1/123456/4 [123456;4;0;x;]"}, false},
      {"", false, "F;;;;;;", {"13/12/7 err 0 ref 1/1/123456/4 [123456;4;0;x;]"}, false},
      {"02", false, "H;;;;;;", {"13/12/7 err 0 ref 1/1/123456/4 [123456;4;2;x;]"}, false},
      {"q", false, "F;;;;;;", {"13/12/7 err 0 ref 1/1/123456/4 [123456;4;0;x;]"}, false},
      {"2", true, "H;;;;;;", {"13/12/7 err 0 [123456;4;2;x;1;1;]"}, false},
      {"256", false, "", {"13/12/7 err 5 ref 1/1/123456/4 [p;]"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field3);
    Asked road(c.oldFP);
    road.Request(6, 13, 12, "p;");
    road.Sent();  // the monitor's copy of the request
    const Lines atQuestion = [&] {
      return road.OwnerOf(road.Message("123456;4;A;" + c.field3 + ";x;"));
    }();
    if (c.toRegister.empty()) {
      EXPECT_EQ(atQuestion, c.replies);
      EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
      ASSERT_EQ(road.log.size(), 1u);
      EXPECT_EQ(road.log[0], "AskRec: Bad field 3 for COP 12: 256  Block:123456;4;256;x;");
      continue;
    }
    EXPECT_TRUE(atQuestion.empty());
    EXPECT_EQ(road.Calls(), Lines{"SetOnLineAnswer " + c.toRegister});
    EXPECT_EQ(road.Set(13).State, kStateSent);
    road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
    EXPECT_EQ(road.OwnerSent(), c.replies);
    EXPECT_EQ(road.settings.Ecr(7).Sequence, 1);  // read, not taken
    EXPECT_TRUE(road.Message("123456;5;0;N;").empty());
    EXPECT_TRUE(road.log.empty());
  }
}

TEST(AskExchanges, RequestQueuedBeforeTheAnswerHasGoneOutIsKept) {
  struct Case {
    int cop;
    char code;
    bool cancelFirst;  // without the early reply the request on the line is still pending
    std::size_t repliesAtQuestion;
  };
  const Case cases[] = {{11, 'A', false, 1}, {4, '5', true, 0}, {5, 'A', true, 0}, {12, 'A', true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "COP " << c.cop << " on " << c.code);
    Asked road(false);
    road.Request(6, 13, c.cop, "p;");
    road.Sent();
    EXPECT_EQ(road.OwnerOf(road.Message(std::string("123456;4;") + c.code + ";0;")).size(), c.repliesAtQuestion);
    // The owner queues its next request before the answer has gone out.
    if (c.cancelFirst) road.Request(6, 13, cmdCancel);
    road.Request(6, 13, 10, "next;");
    road.Sent();
    road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
    EXPECT_EQ(road.OwnerSent().size(), 1u);
    EXPECT_EQ(road.Set(13).Command, 10);
    EXPECT_EQ(road.Set(13).State, kStateQueued);
    EXPECT_EQ(road.Set(13).Payload, "next;");
    // The register's next question is answered from it.
    road.Calls();
    road.Message("123456;5;A;");
    EXPECT_EQ(road.Calls(), Lines{"SetOnLineAnswer H;;;;;;"});
  }
}

TEST(AskExchanges, ReferenceOfABadSerialOrMessageNumberIsZeroAndLogged) {
  Asked road(false);
  road.Request(6, 13, 5, "p;");
  road.Sent();
  road.Message("12a456;x;6;");
  road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
  EXPECT_EQ(road.OwnerSent(), Lines{"13/160/7 err 0 ref 1/1/0/0 [p;]"});
  EXPECT_EQ(road.log, Lines{"Receipt reference filled with 0 for ECR 7  Block:12a456;x;"});
}

// A fiscal-event block of `count` notification fields: 1 the serial, 2 the message number,
// 3 the event type, the rest as given ("" when not given).
std::vector<std::string> FiscalFields(const std::string& type, int count, std::map<int, std::string> given) {
  std::vector<std::string> fields(static_cast<std::size_t>(count));
  fields[0] = "123456";
  fields[1] = "4";
  fields[2] = type;
  for (const auto& [n, text] : given) fields[static_cast<std::size_t>(n - 1)] = text;
  return fields;
}
std::string Join(const std::vector<std::string>& fields) {
  std::string text;
  for (const std::string& f : fields) text += f + ";";
  return text;
}
std::string RegisterBlock(std::vector<std::string> fields) {
  fields.insert(fields.begin() + 2, "3");
  return Join(fields);
}

TEST(FiscalEvents, EveryTypeInBothLayouts) {
  constexpr int A = 20;  // fields of the first layout's notification block
  constexpr int B = 21;
  struct Case {
    std::string type;
    int layout;
    std::map<int, std::string> fields;
    int command;  // 0: nothing is forwarded
    bool closes;
    bool typeForwarded;
    bool sixAndSevenRemoved;
  };
  const Case cases[] = {
      {"1", A, {{19, "10.00"}, {10, "12.00"}, {5, "2"}, {6, "1"}}, 138, false, true, false},
      {"1", A, {{19, "10.00"}, {10, "8.00"}, {5, "2"}, {6, "1"}}, 139, true, true, false},
      {"0", A, {{19, "0"}, {10, "12.00"}, {6, "1"}, {7, "z"}}, 136, true, true, true},
      {"03", A, {{19, "1"}, {10, "2"}, {5, "2"}, {6, "0"}}, 140, false, true, true},
      {"8", A, {{19, "1"}, {10, "1"}, {5, "2"}}, 141, true, true, true},
      {"9", A, {{19, "x"}, {10, "2"}, {5, "0"}}, 136, true, true, true},
      {"2", A, {{19, "1.5"}, {10, "1.5001"}}, 135, false, true, true},
      {"4", A, {}, 137, true, false, false},
      {"5", A, {}, 142, true, false, false},
      {"6", A, {}, 143, true, false, false},
      {"15", A, {}, 0, false, false, false},
      {"7", A, {}, 0, false, false, false},
      {"-1", A, {}, 0, false, false, false},
      {"x", A, {}, 0, false, false, false},
      {"1", B, {{12, "10.00"}, {11, "12.00"}, {5, "0"}}, 135, false, true, false},
      {"3", B, {{12, "10.00"}, {11, "9.00"}, {5, "1"}, {6, "1"}}, 139, true, true, false},
      {"4", B, {}, 137, true, true, false},
      {"15", B, {}, 146, true, true, false},
      {"7", B, {}, 0, false, true, false},
      {"10", B, {}, 0, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + c.type + (c.layout == A ? " layout A" : " layout B"));
    EngineOnItsOwn road;
    road.OpenSets({{1, 1}, {2, 2}});
    road.Subscribe(3);
    std::vector<std::string> fields = FiscalFields(c.type, c.layout, c.fields);
    const Lines sent = road.Message(RegisterBlock(fields));
    EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    EXPECT_EQ(road.settings.Ecr(7).Sequence, c.closes ? 1 : 2);  // the sequence is used in any case
    EXPECT_EQ(road.saver.saves, c.closes ? 1 : 0);
    if (c.command == 0) {
      EXPECT_TRUE(sent.empty());
      continue;
    }
    if (c.typeForwarded) {
      fields[2] = std::to_string(std::stoi(c.type));
    } else {
      fields.erase(fields.begin() + 2);
    }
    fields.push_back("1");  // the sequence
    fields.push_back("1");  // the id in force, or the one it closes
    if (c.sixAndSevenRemoved) fields.erase(fields.begin() + 5, fields.begin() + 7);
    const std::string payload = Join(fields).substr(0, 255);
    const std::string command = std::to_string(c.command);
    EXPECT_EQ(sent, (Lines{"to 1: 1/" + command + "/7 err 0 [" + payload + "]",
                           "to 2: 1/" + command + "/7 err 0 [" + payload + "]",
                           "to 3: 254/128/7 err 0 block [1;" + command + ";] [" + payload + "]"}));
    // The next notification carries the id now in force.
    EXPECT_EQ(road.Message("123456;5;0;N;").front(), c.closes ? "to 1: 1/128/7 err 0 [123456;5;N;1;2;]"
                                            : "to 1: 1/128/7 err 0 [123456;5;N;2;1;]");
  }
}

TEST(FiscalEvents, RepeatedAndOutOfRangeEventsAreDropped) {
  EngineOnItsOwn road;
  road.OpenSets({{1, 1}});
  const std::string block = RegisterBlock(FiscalFields("4", 20, {}));
  EXPECT_EQ(road.Message(block).size(), 1u);
  EXPECT_TRUE(road.Message(block).empty());
  EXPECT_EQ(road.log, Lines{"Repeated block: " + Join(FiscalFields("4", 20, {}))});

  road.log.clear();
  const std::string wide = RegisterBlock(FiscalFields("260", 20, {}));
  const std::uint16_t before = road.settings.Ecr(7).Sequence;
  EXPECT_TRUE(road.Message(wide).empty());
  EXPECT_EQ(road.log, Lines{"Bad fiscal event type from ECR 7  Block:" + wide});
  EXPECT_EQ(road.settings.Ecr(7).Sequence, before);
}

}  // namespace
}  // namespace ecr
