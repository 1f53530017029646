// The register's InLine status and commands, and its OnLine messages: which are taken,
// what each message code becomes, and the OnLine answer road.

#include <gtest/gtest.h>

#include <string>

#include "line/simple_com_object.h"
#include "tests/server/register_road_fixture.h"

namespace ecr {
namespace {

using testing_support::EngineOnItsOwn;
using testing_support::Lines;

// Client 1 holds SET 1, 2 SET 2, 4 SET 9, 5 SET 11; client 3 subscribes.
struct Notified : EngineOnItsOwn {
  Notified() {
    OpenSets({{1, 1}, {2, 2}, {4, 9}, {5, 11}});
    Subscribe(3);
  }
};

TEST(RegisterMessages, EveryMessageCodeBecomesItsNotification) {
  struct Case {
    std::string block;
    int mode;
    bool awaitsAnswer;  // the register is not freed and the exchange is current
    int currentSet;
    Lines sent;
  };
  const auto to = [](std::initializer_list<int> clients, const std::string& reply, const std::string& broadcast) {
    Lines lines;
    for (int client : clients) lines.push_back("to " + std::to_string(client) + ": " + reply);
    lines.push_back("to 3: " + broadcast);
    return lines;
  };
  const Case cases[] = {
      {"123456;4;0;X;", 2, false, 0,
       to({1, 2}, "1/128/7 err 0 [123456;4;X;1;1;]", "254/128/7 err 0 block [1;128;] [123456;4;X;1;1;]")},
      {"123456;;0;X;", 2, false, 0,
       to({1, 2}, "1/128/7 err 0 [123456;0;X;1;1;]", "254/128/7 err 0 block [1;128;] [123456;0;X;1;1;]")},
      {"123456;4;;X;", 2, false, 0,
       to({1, 2}, "1/128/7 err 0 [123456;4;X;1;1;]", "254/128/7 err 0 block [1;128;] [123456;4;X;1;1;]")},
      {"123456;4;1;Q;", 2, true, 1,
       to({1, 2}, "1/129/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [1;129;] [123456;4;Q;1;1;]")},
      {"123456;4;2;;x;12345;", 2, false, 0,
       to({1, 2}, "1/134/7 err 0 [123456;4;0;x;123.45;1;1;]",
          "254/128/7 err 0 block [1;134;] [123456;4;0;x;123.45;1;1;]")},
      {"123456;4;4;Q;", 2, true, 11,
       to({5}, "11/128/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [11;128;] [123456;4;Q;1;1;]")},
      {"123456;4;7;Q;", 2, true, 1,
       to({1, 2}, "1/132/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [1;132;] [123456;4;Q;1;1;]")},
      {"123456;4;8;a;;12.50;", 2, true, 9,
       to({4}, "9/128/7 err 0 [123456;4;a;0;1250;1;1;]", "254/128/7 err 0 block [9;128;] [123456;4;a;0;1250;1;1;]")},
      {"123456;4;9;a;3;7;", 2, true, 9,
       to({4}, "9/129/7 err 0 [123456;4;a;3;7;1;1;]", "254/128/7 err 0 block [9;129;] [123456;4;a;3;7;1;1;]")},
      {"123456;4;D;a;;1.5;", 2, true, 9,
       to({4}, "9/130/7 err 0 [123456;4;a;0;15;1;1;]", "254/128/7 err 0 block [9;130;] [123456;4;a;0;15;1;1;]")},
      {"123456;4;E;a;;;", 2, true, 9,
       to({4}, "9/131/7 err 0 [123456;4;a;0;;1;1;]", "254/128/7 err 0 block [9;131;] [123456;4;a;0;;1;1;]")},
      {"123456;4;B;Q;", 2, false, 0,
       to({1, 2}, "1/130/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [1;130;] [123456;4;Q;1;1;]")},
      {"123456;4;C;;;-150;", 2, true, 1,
       to({1, 2}, "1/144/7 err 0 [123456;4;0;0;-1.50;1;1;]",
          "254/128/7 err 0 block [1;144;] [123456;4;0;0;-1.50;1;1;]")},
      {"123456;4;C;1;2;150;", 2, true, 1,
       to({1, 2}, "1/145/7 err 0 [123456;4;1;2;1.50;1;1;]",
          "254/128/7 err 0 block [1;145;] [123456;4;1;2;1.50;1;1;]")},
      {"123456;4;C;1;2;0;", 2, true, 1,
       to({1, 2}, "1/145/7 err 0 [123456;4;1;2;.0;1;1;]", "254/128/7 err 0 block [1;145;] [123456;4;1;2;.0;1;1;]")},
      {"123456;4;F;Q;", 2, false, 0,
       to({1, 2}, "1/133/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [1;133;] [123456;4;Q;1;1;]")},
      {"123456;4;G;Q;", 2, false, 0,
       to({1, 2}, "1/128/7 err 0 [123456;4;Q;1;1;]", "254/128/7 err 0 block [1;128;] [123456;4;Q;1;1;]")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    Notified road;
    road.engine.UpdateSettings([](ServerSettings& s) { s.Ecr(EngineOnItsOwn::kEcr).KeepAlive = 3; });
    EXPECT_EQ(road.Message(c.block), c.sent);
    EXPECT_EQ(road.Calls(), c.awaitsAnswer ? Lines{} : Lines{"CancelExchange"});
    EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Ecr, c.awaitsAnswer ? 7 : 0);
    EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Set, c.currentSet);
    EXPECT_EQ(road.settings.Ecr(7).SerialNumber, 123456);
    EXPECT_EQ(road.settings.Ecr(7).Mode, c.mode);
    EXPECT_EQ(road.settings.Ecr(7).KeepAlive, 15);
    EXPECT_EQ(road.settings.Ecr(7).Sequence, 2);
  }
}

TEST(RegisterMessages, RepeatedUnknownAndUnownedMessagesReachNobody) {
  Notified road;
  road.Message("123456;4;0;X;");
  road.Calls();
  // The same block again: logged, dropped, no sequence number used.
  EXPECT_TRUE(road.Message("123456;4;0;X;").empty());
  EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
  EXPECT_EQ(road.log, Lines{"Repeated block: 123456;4;X;"});
  EXPECT_EQ(road.settings.Ecr(7).Sequence, 2);
  // Something in between makes it new again.
  road.Message("123456;5;B;X;");
  EXPECT_EQ(road.Message("123456;4;0;X;").size(), 3u);
  road.Calls();

  // Taken for the character before the third separator, unknown for the first one.
  road.log.clear();
  road.settings.Ecr(7).Mode = 1;
  EXPECT_TRUE(road.Message("123456;6;H0;x;").empty());
  EXPECT_EQ(road.log, Lines{"Unknown message from ECR 7  Block:123456;6;x;"});
  EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
  EXPECT_EQ(road.settings.Ecr(7).Mode, 1);

  // An answer-awaiting message for a SET whose owner has gone frees the register at once.
  road.Request(4, 9, cmdClose);
  road.Sent();
  road.Calls();
  EXPECT_TRUE(road.Message("123456;7;8;a;1;2;").empty());
  EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
  EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Ecr, 0);
}

TEST(RegisterMessages, SequenceAfter65535GoesOnWithOne) {
  Notified road;
  road.settings.Ecr(7).Sequence = 65535;
  EXPECT_EQ(road.Message("123456;4;0;X;"),
            (Lines{"to 1: 1/128/7 err 0 [123456;4;X;65535;1;]", "to 2: 1/128/7 err 0 [123456;4;X;65535;1;]",
                   "to 3: 254/128/7 err 0 block [1;128;] [123456;4;X;65535;1;]"}));
  EXPECT_EQ(road.Message("123456;5;0;X;"),
            (Lines{"to 1: 1/128/7 err 0 [123456;5;X;1;1;]", "to 2: 1/128/7 err 0 [123456;5;X;1;1;]",
                   "to 3: 254/128/7 err 0 block [1;128;] [123456;5;X;1;1;]"}));
  EXPECT_EQ(road.settings.Ecr(7).Sequence, 2);
}

TEST(RegisterMessages, AcceptTakesOnlyWhatAnOwnerCanReceive) {
  EngineOnItsOwn road;
  road.OpenSets({{1, 9}});
  struct Case {
    std::string block;
    int logNo;
    bool accepted;
  };
  const Case cases[] = {
      {"1234567", 7, true},            // a status block
      {"123456;4;0;X;", 7, false},     // SET 1 has no owner
      {"123456;4;8;X;", 7, true},      // SET 9 has
      {"123456;4;8;X;", 8, false},     // not on register 8
      {"123456;4;A;X;", 7, true},      // always taken
      {"123456;4;A;X;", 8, true},
      {"123456;4;5;X;", 7, false},     // SET 13
      {"123456;4;H8;X;", 7, true},     // the character before the third separator
      {"123456;4;8H;X;", 7, false},
      {"1;2;34;5;8;", 7, true},        // the first five places are not looked at
      {"123456;4;;X;", 7, false},      // an empty code is SET 1's
      {"123456;4;8", 7, false},        // no third separator
      {"123456;4;Z;", 7, false},       // no SET for the code
  };
  TSimpleComObject line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block + " on " + std::to_string(c.logNo));
    bool accept = true;
    road.engine.AcceptEcrMessage(line, static_cast<std::uint8_t>(c.logNo), c.block, accept);
    EXPECT_EQ(accept, c.accepted);
  }
}

TEST(RegisterMessages, OnLineAnswerRoad) {
  Notified road;
  road.Message("123456;4;1;Q;");
  road.Calls();
  road.Request(1, 1, cmdAnswer, "OK;");
  EXPECT_EQ(road.Sent(), Lines{"to 2: 1/4/7 err 0 [OK;]"});  // the monitor's copy of the request
  EXPECT_EQ(road.Calls(), Lines{"SetOnLineAnswer OK;"});
  road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 0);
  EXPECT_EQ(road.Sent(), (Lines{"to 1: 1/4/7 err 0 [OK;]", "to 2: 1/4/7 err 0 [OK;]"}));
  EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
  road.Request(1, 1, cmdAnswer, "late;");
  EXPECT_EQ(road.Sent(), (Lines{"to 2: 1/4/7 err 0 [late;]", "to 1: 1/4/7 err 6 []", "to 2: 1/4/7 err 6 []"}));

  // The answer with "C;" before it, and a send that timed out.
  road.Message("123456;5;8;a;1;2;");
  road.Request(4, 9, cmdAnswerC, "5;");
  EXPECT_EQ(road.Calls(), Lines{"SetOnLineAnswer C;5;"});
  road.Sent();
  road.engine.OnOnlineAnswerSent(road.sender, &road.poller, 7, 3);
  EXPECT_EQ(road.Sent(), Lines{"to 4: 9/8/7 err 10 [C;5;]"});

  // Six seconds without an answer: the exchange is cleared, nobody hears of it.
  road.Message("123456;6;7;Q;");
  road.Calls();
  road.engine.ClearCurrentExchange();
  road.Request(1, 1, cmdFinish);
  EXPECT_EQ(road.Sent(), (Lines{"to 2: 1/5/7 err 0 []", "to 1: 1/5/7 err 6 []", "to 2: 1/5/7 err 6 []"}));
  EXPECT_TRUE(road.Calls().empty());
}

TEST(RegisterMessages, BadMessageNumbersAreDroppedWithALogLine) {
  for (const std::string number : {"256", "-1", "99999999999999999999"}) {
    SCOPED_TRACE(number);
    Notified road;
    road.Message("123456;3;0;X;");
    road.Calls();
    road.log.clear();
    const std::string block = "123456;" + number + ";0;Y;";
    const Lines sent = road.Message(block);
    if (number.size() > 10) {
      // No integer at all: read as 0, as any other text.
      EXPECT_EQ(sent.front(), "to 1: 1/128/7 err 0 [123456;" + number + ";Y;2;1;]");
      EXPECT_EQ(road.engine.EcrSnapshot(7).LastMsgNo, 0);
      continue;
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(road.log, Lines{"Bad message number from ECR 7  Block:" + block});
    EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    EXPECT_EQ(road.engine.EcrSnapshot(7).LastMsgNo, 3);
    EXPECT_EQ(road.settings.Ecr(7).Sequence, 2);
  }
}

TEST(InLineExchanges, SetFiveCommandsGoToTheRegisterAndTheirAnswersBack) {
  struct Case {
    int command;
    std::string payload;
    int sendResult;
    std::string answer;
    int readResult;
    std::string sent;   // to the register
    std::string reply;  // to the owner (client 8) and the monitor (client 9)
  };
  const Case cases[] = {
      {9, "ABC", 0, "0;", 0, "SetInLineCommand IABC", "5/9/7 err 0 [0;]"},
      {4, "", 0, "E12", 0, "SetInLineCommand R", "5/4/7 err 13 [E12]"},
      {5, "x;", 0, "12E", 0, "SetInLineCommand Px;", "5/5/7 err 0 [12E]"},
      {6, "x;", 0, "", 3, "SetInLineCommand Wx;", "5/6/7 err 10 []"},
      {8, "x;", 0, "", 4, "SetInLineCommand Tx;", "5/8/7 err 10 []"},
      {10, "x;", 0, "", 5, "SetInLineCommand Cx;", "5/10/7 err 255 []"},
      {11, "x;", 0, "E", 2, "SetInLineCommand Yx;", "5/11/7 err 21 [E]"},
      {12, "x;", 1, "", 0, "SetInLineCommand Zx;", "5/12/7 err 17 [x;]"},
      {13, "x;", 2, "", 0, "SetInLineCommand Bx;", "5/13/7 err 21 [x;]"},
      {9, "x;", 3, "", 0, "SetInLineCommand Ix;", "5/9/7 err 10 [x;]"},
      {9, "x;", 255, "", 0, "SetInLineCommand Ix;", "5/9/7 err 255 [x;]"},
      // The longest command that goes out whole at 9600 bit/s: the letter and 243 characters.
      {9, std::string(243, 'p'), 0, "0;", 0, "SetInLineCommand I" + std::string(243, 'p'), "5/9/7 err 0 [0;]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    EngineOnItsOwn road;
    road.OpenSets({{8, 5}, {9, 6}});
    road.Request(8, 5, c.command, c.payload);
    road.Sent();
    road.engine.OnEcrStatus(road.sender, &road.poller, 7, "1234;", 0);
    EXPECT_EQ(road.Calls(), Lines{c.sent});
    EXPECT_TRUE(road.Sent().empty());
    EXPECT_EQ(road.settings.Ecr(7).SerialNumber, 1234);
    EXPECT_EQ(road.settings.Ecr(7).Mode, EcrModeInLine);
    EXPECT_EQ(road.Set(5).State, kStateQueued);

    road.engine.OnCommandSent(road.sender, &road.poller, 7, static_cast<std::uint8_t>(c.sendResult));
    if (c.sendResult == 0) {
      EXPECT_TRUE(road.Sent().empty());
      EXPECT_TRUE(road.Calls().empty());
      road.Request(8, 5, cmdState);
      EXPECT_EQ(road.Sent(), (Lines{"to 9: 5/7/7 err 0 []", "to 8: 5/7/7 err 102 []", "to 9: 5/7/7 err 102 []"}));
      road.engine.OnCommandAnswer(road.sender, &road.poller, 7, c.answer, static_cast<std::uint8_t>(c.readResult));
    }
    EXPECT_EQ(road.Sent(), (Lines{"to 8: " + c.reply, "to 9: " + c.reply}));
    EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    road.Request(8, 5, cmdState);
    EXPECT_EQ(road.Sent(), (Lines{"to 9: 5/7/7 err 0 []", "to 8: 5/7/7 err 0 []", "to 9: 5/7/7 err 0 []"}));
  }
}

TEST(InLineExchanges, ACommandCancelledOnTheLineIsAnsweredAndOneQueuedSinceWaits) {
  struct Case {
    int sendResult;
    bool requeue;
    Lines reply;           // to the owner for the command that was on the line
    std::string nextTake;  // at the register's next status
  };
  const Case cases[] = {
      {0, true, {"to 8: 5/9/7 err 0 [0;]"}, "SetInLineCommand Rnew;"},
      {1, true, {"to 8: 5/9/7 err 17 [old;]"}, "SetInLineCommand Rnew;"},
      {0, false, {"to 8: 5/9/7 err 0 [0;]"}, "CancelExchange"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "send " << c.sendResult << (c.requeue ? ", queued again" : ""));
    EngineOnItsOwn road;
    road.OpenSets({{8, 5}});
    road.Request(8, 5, 9, "old;");
    road.engine.OnEcrStatus(road.sender, &road.poller, 7, "1234;", 0);
    EXPECT_EQ(road.Calls(), Lines{"SetInLineCommand Iold;"});
    road.Request(8, 5, cmdCancel);
    if (c.requeue) road.Request(8, 5, 4, "new;");
    road.Sent();
    const std::string pending = c.requeue ? "101" : "0";
    road.engine.OnCommandSent(road.sender, &road.poller, 7, static_cast<std::uint8_t>(c.sendResult));
    if (c.sendResult == 0) {
      road.Request(8, 5, cmdState);
      EXPECT_EQ(road.Sent(), Lines{"to 8: 5/7/7 err " + pending + " []"});
      road.engine.OnCommandAnswer(road.sender, &road.poller, 7, "0;", 0);
    }
    EXPECT_EQ(road.Sent(), c.reply);
    EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    road.Request(8, 5, cmdState);
    EXPECT_EQ(road.Sent(), Lines{"to 8: 5/7/7 err " + pending + " []"});
    road.engine.OnEcrStatus(road.sender, &road.poller, 7, "1234;", 0);
    EXPECT_EQ(road.Calls(), Lines{c.nextTake});
  }
}

TEST(InLineExchanges, StatusWithoutCommandFreesTheRegister) {
  struct Case {
    std::string block;
    int serial;
  };
  const Case cases[] = {{"1234;", 1234}, {"12a4;", 0}, {"1234", 0}, {"", 0}, {"-5;", -5}, {"9999999999;", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    EngineOnItsOwn road;
    road.OpenSets({{8, 5}});
    road.engine.WithContext([](ExchangeContext& context) { context.SetCurrentExchange(7, 1); });
    road.engine.OnEcrStatus(road.sender, &road.poller, 7, c.block, 0);
    EXPECT_EQ(road.Calls(), Lines{"CancelExchange"});
    EXPECT_TRUE(road.Sent().empty());
    EXPECT_EQ(road.settings.Ecr(7).SerialNumber, c.serial);
    EXPECT_EQ(road.settings.Ecr(7).Mode, EcrModeInLine);
    EXPECT_EQ(road.settings.Ecr(7).KeepAlive, 15);
    EXPECT_EQ(road.engine.CurrentExchangeSnapshot().Ecr, 0);
  }
}

}  // namespace
}  // namespace ecr
