// The controller's events in the network-controller server: OnLine blocks by type, the
// repeat check, the numbering of forwarded messages, the offer to SETs 1, 9 and 11, and the
// controller's error numbers.

#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

class NcEventsTest : public NcRequestTest {
 protected:
  NcEventsTest() {
    Open(5, 1, 2);
    Open(6, 2, 2);
    SetCounters(2, 5, 40);
  }
};

TEST_F(NcEventsTest, NotifyTypesAreForwardedOnSet1AndItsMonitor) {
  struct Case {
    std::string block;
    int command;
    std::string payload;
  };
  const Case cases[] = {
      {"123;7;0;abc;", 128, "123;7;abc;"},
      {"123;;0;abd;", 128, "123;0;abd;"},  // an empty exchange number becomes 0
      {"123;7;;abe;", 128, "123;7;abe;"},  // an empty type is '0'
      {"123;7;B;abf;", 130, "123;7;abf;"},
      {"123;7;F;abg;", 133, "123;7;abg;"},
      {"123;7;2;;b;1250;", 134, "123;7;0;b;12.50;"},
      {"123;7;2;a;b;12.5;", 134, "123;7;a;b;12.5;"},
  };
  int sequence = 5;
  for (const Case& c : cases) {
    engine.HandleOnlineBlock(2, c.block);
    const std::string reply =
        "1/" + std::to_string(c.command) + "/2 err 0 [" + c.payload + std::to_string(sequence) + ";40;]";
    EXPECT_EQ(Replies(), (Lines{"to 5: " + reply, "to 6: " + reply})) << c.block;
    EXPECT_EQ(Commands(), Lines{"RESET"});
    EXPECT_EQ(Counters(2).Sequence, ++sequence);
    EXPECT_EQ(Counters(2).Mode, 2);
    EXPECT_EQ(Counters(2).KeepAlive, 15);
    EXPECT_EQ(Counters(2).SerialNumber, 123);
    EXPECT_EQ(engine.ExchangeStateName(2), "esNone");
  }
}

TEST_F(NcEventsTest, ARepeatedBlockWithin80SecondsIsOnlyAcknowledged) {
  engine.HandleOnlineBlock(2, "123;7;0;abc;");
  EXPECT_EQ(Replies().size(), 2u);
  Clear();
  struct Step {
    std::uint32_t advance;
    bool forwarded;
  };
  // Each repeat restarts the 80 s.
  const Step steps[] = {{10'000, false}, {79'999, false}, {80'000, true}, {1, false}};
  for (const Step& step : steps) {
    now += step.advance;
    engine.HandleOnlineBlock(2, "123;7;0;abc;");
    EXPECT_EQ(Replies().size(), step.forwarded ? 2u : 0u) << step.advance;
    EXPECT_EQ(Commands(), Lines{"RESET"});
  }
  EXPECT_EQ(Counters(2).Sequence, 7);
  // Another block is new at once.
  engine.HandleOnlineBlock(2, "123;8;0;abc;");
  EXPECT_EQ(Replies().size(), 2u);
}

TEST_F(NcEventsTest, TheRepeatCheckHoldsAcrossTheWrapOfTheClock) {
  now = 0xFFFFFFFFu - 5'000;
  engine.HandleOnlineBlock(2, "123;7;0;abc;");
  Clear();
  now += 10'000;  // wrapped: 10 s later
  engine.HandleOnlineBlock(2, "123;7;0;abc;");
  EXPECT_EQ(Replies().size(), 0u);
  now += 90'000;
  engine.HandleOnlineBlock(2, "123;7;0;abc;");
  EXPECT_EQ(Replies().size(), 2u);
  // A register's first block is never a repeat, whatever the clock says.
  now = 0;
  Open(7, 1, 3);
  engine.HandleOnlineBlock(3, "");
  EXPECT_EQ(Replies(), Lines{"to 7: 1/128/3 err 0 [1;1;]"});
}

TEST_F(NcEventsTest, OfferTypesGoToTheirSetAndWaitForTheAnswer) {
  struct Case {
    std::string block;
    int setNo;
    int command;
    std::string payload;
  };
  const Case cases[] = {
      {"11;3;1;a;b;2.5;", 1, 129, "11;3;a;b;2.5;"},
      {"11;3;7;a;b;2.5;", 1, 132, "11;3;a;b;2.5;"},
      {"11;3;4;a;b;c;d;e;", 11, 128, "11;3;a;d;e;"},
      {"11;3;8;a;;1.50;x;", 9, 128, "11;3;a;0;150;x;"},
      {"11;3;9;a;b;1.5.0;", 9, 129, "11;3;a;b;15.0;"},
      {"11;3;D;a;b;7;", 9, 130, "11;3;a;b;7;"},
      {"11;3;E;a;b;.5;", 9, 131, "11;3;a;b;5;"},
      {"11;3;C;;;-150;z;", 1, 144, "11;3;0;0;z;"},
      {"11;3;C;a;b;150;", 1, 145, "11;3;a;b;"},
      {"11;3;C;a;b;;", 1, 145, "11;3;a;b;"},
  };
  Open(7, 9, 2);
  Open(8, 11, 2);
  const std::map<int, int> owners = {{1, 5}, {9, 7}, {11, 8}};
  for (const Case& c : cases) {
    SetCounters(2, 5, 40);
    engine.HandleOnlineBlock(2, c.block);
    const std::string reply =
        std::to_string(c.setNo) + "/" + std::to_string(c.command) + "/2 err 0 [" + c.payload + "5;40;]";
    Lines expected = {"to " + std::to_string(owners.at(c.setNo)) + ": " + reply};
    if (c.setNo == 1) expected.push_back("to 6: " + reply);
    EXPECT_EQ(Replies(), expected) << c.block;
    EXPECT_EQ(Commands(), Lines{});
    EXPECT_EQ(engine.PendingExchangeSnapshot(), (nc::PendingExchange{2, static_cast<std::uint8_t>(c.setNo)}));
    EXPECT_EQ(engine.ExchangeStateName(2), "esQueryRx");
    EXPECT_EQ(engine.SessionSnapshot(2).ExchangeNo, 3);
  }
  EXPECT_DOUBLE_EQ(engine.SessionSnapshot(2).Quantity, 2.5);
}

TEST_F(NcEventsTest, AnOfferServesWhatTheSetHolds) {
  Open(7, 9, 2);
  Open(8, 10, 2);
  struct Case {
    const char* what;
    std::function<void()> before;
    std::string block;
    Lines replies;
    Lines commands;
  };
  const Case cases[] = {
      {"nobody holds SET 11", [] {}, "11;3;4;a;b;c;", {}, {"RESET"}},
      {"nothing queued", [] {}, "11;3;9;a;b;c;", {"to 7: 9/129/2 err 0 [11;3;a;b;c;5;40;]", "to 8: 9/129/2 err 0 [11;3;a;b;c;5;40;]"}, {}},
      {"an answer of an earlier exchange", [this] {
         engine.HandleOnlSended(2, 0);  // the register stopped waiting
         Send(7, 9, 4, 2, "late;");
       }, "11;4;9;a;b;c;",
       {"to 7: 9/129/2 err 6 []", "to 8: 9/129/2 err 6 []"}, {"RESET"}},
      {"that answer, for the exchange it was meant for", [] {}, "11;3;9;a;b;c;", {}, {"ONL late;"}},
      {"a queued finish", [this] { Send(7, 9, 5, 2, "bye;"); }, "11;3;9;a;b;c;",
       {"to 7: 9/5/2 err 0 [bye;]", "to 8: 9/5/2 err 0 [bye;]"}, {"RESET"}},
  };
  for (const Case& c : cases) {
    SetCounters(2, 5, 40);
    c.before();
    Clear();
    engine.HandleOnlineBlock(2, c.block);
    EXPECT_EQ(Replies(), c.replies) << c.what;
    EXPECT_EQ(Commands(), c.commands) << c.what;
  }
  EXPECT_EQ(engine.PendingExchangeSnapshot(), nc::PendingExchange{});
  EXPECT_EQ(Slot(2, 9).Command, 0);
  // The delivery report answers the answer that went out; the finish owed nothing more.
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), (Lines{"to 7: 9/4/2 err 0 [late;]", "to 8: 9/4/2 err 0 [late;]"}));
}

TEST_F(NcEventsTest, UnknownTypesAreLoggedAndReset) {
  engine.HandleOnlineBlock(2, "11;3;1;a;b;2;");
  Clear();
  for (const char* block : {"11;3;:;a;", "11;3;G;a;", "11;3;z;a;"}) {
    engine.HandleOnlineBlock(2, block);
    EXPECT_EQ(Replies(), Lines{});
    EXPECT_EQ(Commands(), Lines{"RESET"});
    EXPECT_EQ(engine.PendingExchangeSnapshot(), nc::PendingExchange{});
    EXPECT_EQ(engine.ExchangeStateName(2), "esNone");
  }
  EXPECT_NE(LogText().find("lontaros: Unknown message. KA:2 esQueryRx\r\n"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("lontaros: Unknown message. KA:2 esNone\r\n"), std::string::npos);
}

// A fiscal block: serial, exchange number, type '3', sub-type, then fields 4.. of the working
// block with y at field 10 and x at field 19.
std::string FiscalBlock(char subType, const std::string& f5, const std::string& f6, const std::string& x,
                        const std::string& y) {
  std::string block = "90;4;3;" + std::string(1, subType) + ";f4;" + f5 + ";" + f6 + ";f7;f8;f9;" + y + ";";
  for (int field = 11; field <= 18; ++field) block += "f" + std::to_string(field) + ";";
  return block + x + ";f20;";
}

TEST_F(NcEventsTest, FiscalEventsAreNumberedByTheirSubType) {
  engine.WithSettings([](nc::NcServerSettings& record) { record.NextNotifyId = 100; });
  const std::string tail = "f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;";
  struct Case {
    std::string block;
    int command;
    std::string payload;  // without the sequence and the id
    bool freshId;
  };
  const Case cases[] = {
      {FiscalBlock('1', "", "b", "0", "10"), 136, "90;4;1;f4;;" + tail.substr(0, 0) + "f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;0;f20;", true},
      {FiscalBlock('1', "a", "", "0", "10"), 141, "90;4;1;f4;a;f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;0;f20;", true},
      {FiscalBlock('0', "a", "b", "12", "10"), 139, "90;4;0;f4;a;b;f7;f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;12;f20;", true},
      {FiscalBlock('1', "", "b", "5", "10"), 135, "90;4;1;f4;;f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;5;f20;", false},
      {FiscalBlock('2', "a", "", "5", "10"), 140, "90;4;2;f4;a;f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;5;f20;", false},
      {FiscalBlock('3', "a", "b", "5", "10"), 138, "90;4;3;f4;a;b;f7;f8;f9;10;f11;f12;f13;f14;f15;f16;f17;f18;5;f20;", false},
      {"90;4;3;4;x;", 137, "90;4;x;", true},
      {"90;4;3;5;x;", 142, "90;4;x;", true},
      {"90;4;3;6;x;", 143, "90;4;x;", true},
  };
  for (const Case& c : cases) {
    SetCounters(2, 5, 40);
    const int savesBefore = saves;
    engine.HandleOnlineBlock(2, c.block);
    const std::string reply = "1/" + std::to_string(c.command) + "/2 err 0 [" + c.payload + "5;40;]";
    EXPECT_EQ(Replies(), (Lines{"to 5: " + reply, "to 6: " + reply})) << c.block;
    EXPECT_EQ(Commands(), Lines{"RESET"});
    if (c.freshId) {
      EXPECT_EQ(Counters(2).Sequence, 1);
      EXPECT_NE(Counters(2).NotifyId, 40);
      EXPECT_EQ(saves, savesBefore + 1);
    } else {
      EXPECT_EQ(Counters(2).Sequence, 6);
      EXPECT_EQ(Counters(2).NotifyId, 40);
      EXPECT_EQ(saves, savesBefore);
    }
  }
}

TEST_F(NcEventsTest, AFiscalSubTypeThatIsNotForwardedStillTakesASequenceNumber) {
  engine.HandleOnlineBlock(2, "90;4;3;9;x;");
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Counters(2).Sequence, 6);
  // The next forwarded message shows the gap.
  engine.HandleOnlineBlock(2, "90;5;0;x;");
  EXPECT_EQ(Replies().front(), "to 5: 1/128/2 err 0 [90;5;x;6;40;]");
  // A repeated fiscal block is only acknowledged and takes no number.
  engine.HandleOnlineBlock(2, "90;4;3;9;x;");
  Clear();
  engine.HandleOnlineBlock(2, "90;4;3;9;x;");
  EXPECT_EQ(Replies(), Lines{});
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Counters(2).Sequence, 8);
}

TEST_F(NcEventsTest, ANewNotificationIdIsSavedToTheSettingsFile) {
  const std::filesystem::path file = dir.Path() / "lontaros.STG";
  engine.HandleOnlineBlock(2, "90;4;3;4;x;");
  EXPECT_EQ(saves, 1);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 13u + nc::NcServerSettings::size() + 4u);
}

TEST_F(NcEventsTest, TheSequenceGoesOnWith1After65535) {
  SetCounters(2, 65535, 40);
  engine.HandleOnlineBlock(2, "1;1;0;a;");
  EXPECT_EQ(Replies().front(), "to 5: 1/128/2 err 0 [1;1;a;65535;40;]");
  EXPECT_EQ(Counters(2).Sequence, 1);
  EXPECT_EQ(Counters(2).NotifyId, 40);
}

TEST_F(NcEventsTest, EventsForRegister0OnlyResetTheExchange) {
  engine.HandleOnlineBlock(0, "1;1;0;a;");
  engine.HandleInlSended(0, 0);
  engine.HandleOnlSended(0, 0);
  engine.HandleEcrInLine(0, "1;");
  engine.HandleInlReceived(17, "OK");
  engine.HandleControllerError(0, 152, 0);
  EXPECT_EQ(Commands(), (Lines{"RESET", "RESET", "RESET", "RESET", "RESET", "RESET"}));
  EXPECT_EQ(Replies(), Lines{});
  for (const char* line : {"OnOnlReceived ECR:0\r\n", "OnInlSended ECR:0\r\n", "OnOnlSended ECR:0\r\n"}) {
    EXPECT_NE(LogText().find(line), std::string::npos) << line;
  }
}

struct ErrorCase {
  int code;
  int ext;
  // The write under way: an answer to an offer of register 3 (SET 1, client 5, monitor 6) or
  // a SET 5 command (client 7, monitor 8) as InLine data.
  bool inLine;
  // The error is that write's delivery report (a refusal, or its giving up).
  bool report;
  std::string logLine;  // "" for none
  int errorCode;        // -1: the client hears nothing
  Lines commands = {"RESET"};
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
  *out << "NcError " << c.code << (c.inLine ? " of InLine data" : " of an answer");
}

class NcControllerErrorTest : public NcEventsTest, public ::testing::WithParamInterface<ErrorCase> {};

// A write is under way to register 3; the controller then reports an error. Only the errors
// that concern that write answer its client.
TEST_P(NcControllerErrorTest, AnswersTheClientWhoseWriteWasUnderWay) {
  const ErrorCase& c = GetParam();
  std::string reply;
  if (c.inLine) {
    Open(7, 5, 3);
    Open(8, 6, 3);
    Send(7, 5, 4, 3, "q;");
    engine.HandleEcrInLine(3, "1234567");
    reply = "5/4/3 err " + std::to_string(c.errorCode) + " [q;]";
  } else {
    Open(5, 1, 3);
    Open(6, 2, 3);
    engine.HandleOnlineBlock(3, "11;3;1;a;b;2;");
    Send(5, 1, 4, 3, "ok;");
    reply = "1/4/3 err " + std::to_string(c.errorCode) + " [ok;2.000;;]";
  }
  Clear();
  if (c.report) commands.reportInHand = c.inLine ? nc::kInLineReportCode : nc::kOnLineReportCode;
  engine.HandleControllerError(3, static_cast<std::uint8_t>(c.code), c.ext);
  const nc::WriteKind kind = c.inLine ? nc::WriteKind::InLine : nc::WriteKind::OnLine;
  if (c.errorCode < 0) {
    EXPECT_EQ(Replies(), Lines{});
  } else {
    EXPECT_EQ(Replies(), (Lines{"to " + std::string(c.inLine ? "7: " : "5: ") + reply,
                                "to " + std::string(c.inLine ? "8: " : "6: ") + reply}));
    EXPECT_EQ(engine.ReplyContextSnapshot(3, kind).Set, 0);
  }
  EXPECT_EQ(Commands(), c.commands);
  if (!c.logLine.empty()) {
    EXPECT_NE(LogText().find("lontaros: " + c.logLine + "\r\n"), std::string::npos) << LogText();
  } else {
    EXPECT_EQ(LogText(), "");
  }
  // A refused InLine data stays queued for the next announcement; an answered one is gone.
  if (c.inLine) {
    EXPECT_EQ(Slot(3, 5).State, c.errorCode < 0 ? nc::kSlotQueued : 0);
  }
}

const std::string kRxBuffLog = "Неизпратен блок към каса 3 - препълване RxBuff на NC";
const std::string kNoCurrentLog = "Неизпратен блок към каса 3 - няма текуща";
const std::string kPcOnlyLog = "Неизпратен блок към каса 3 - Работа само с PC";

INSTANTIATE_TEST_SUITE_P(
    EveryNcError, NcControllerErrorTest,
    ::testing::Values(
        ErrorCase{150, 0, false, true, "", 17}, ErrorCase{151, 4, false, true, "", 15},
        ErrorCase{152, 0, false, true, kRxBuffLog, 9}, ErrorCase{157, 0, true, true, kRxBuffLog, 9},
        ErrorCase{153, 0, false, true, kNoCurrentLog, 12}, ErrorCase{158, 0, true, true, kNoCurrentLog, 12},
        ErrorCase{154, 0, false, true, kPcOnlyLog, 12}, ErrorCase{159, 0, true, true, kPcOnlyLog, 12},
        ErrorCase{155, 0, true, true, "", -1}, ErrorCase{156, 2, true, true, "", -1},
        ErrorCase{160, 0, false, true, "Неизпратен блок към каса 3 - неполучен END_x от PC", 17},
        // The register's block refused while its answer awaits the report: the client hears
        // 16, and the link forgets that report.
        ErrorCase{165, 0, false, false, "No block after NAK. Ecr: 3 State: esQueryRx ", 16, {"FORGET 3 ONL", "RESET"}},
        ErrorCase{165, 0, true, false, "No block after NAK. Ecr: 3 State: esInlRx ", 16, {"FORGET 3 INL", "RESET"}},
        ErrorCase{169, 0, false, false, "", -1}, ErrorCase{161, 0, false, false, "", -1},
        ErrorCase{162, 0, false, false, "", -1}, ErrorCase{163, 0, false, false, "", -1},
        ErrorCase{164, 0, false, false, "", -1}, ErrorCase{166, 0, false, false, "", -1},
        ErrorCase{168, 0, false, false, "", -1},
        // A refusal of no known status: the client hears that the line failed.
        ErrorCase{167, 0, false, true, "Unknown Error: 167 Ext: 0", 255},
        ErrorCase{167, 0, true, true, "Unknown Error: 167 Ext: 0", 255},
        ErrorCase{167, 0, false, false, "Unknown Error: 167 Ext: 0", -1},  // a refused block
        ErrorCase{20, 1, false, false, "Unknown Error: 20 Ext: 1", -1},
        ErrorCase{20, 2, false, true, "No delivery report. Ecr: 3", 15},
        ErrorCase{20, 2, true, true, "No delivery report. Ecr: 3", 15}));

TEST_F(NcEventsTest, InLineErrorsDependOnTheExchangeState) {
  Open(7, 5, 3);
  Open(8, 6, 3);
  struct Case {
    int code;
    bool delivered;  // the InLine data was delivered before the error
    bool report;     // the error is the data's delivery report
    Lines replies;
    Lines commands;
  };
  const Case cases[] = {
      // Refused: the request stays queued and is sent again at the next announcement.
      {155, false, true, {}, {"RESET"}},
      {156, false, true, {}, {"RESET"}},
      {169, false, false, {}, {"RESET"}},
      // The register's block refused once its command was delivered: the command is not
      // sent again, and its client hears that no answer followed.
      {165, true, false, {"to 7: 5/4/3 err 16 [q;]", "to 8: 5/4/3 err 16 [q;]"}, {"RESET"}},
      {161, true, false, {"to 7: 5/4/3 err 16 [q;]", "to 8: 5/4/3 err 16 [q;]"}, {"RESET"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    if (Slot(3, 5).State != nc::kSlotQueued) Send(7, 5, 4, 3, "q;");
    engine.HandleEcrInLine(3, "1;");
    if (c.delivered) engine.HandleInlSended(3, 0);
    Clear();
    if (c.report) commands.reportInHand = nc::kInLineReportCode;
    engine.HandleControllerError(3, static_cast<std::uint8_t>(c.code), 0);
    EXPECT_EQ(Replies(), c.replies);
    EXPECT_EQ(Commands(), c.commands);
    EXPECT_EQ(engine.ExchangeStateName(3), "esNone");
    EXPECT_EQ(Slot(3, 5).State, c.replies.empty() ? nc::kSlotQueued : 0);
  }
  // 165 with no exchange: a reset only.
  engine.HandleControllerError(3, 165, 0);
  EXPECT_EQ(Commands(), Lines{"RESET"});
  EXPECT_EQ(Replies(), Lines{});
}

}  // namespace
}  // namespace ecr::test
