// The controller's frames as the link reads them: the events they raise with their exact
// data, the error numbers, and the exchange state they leave.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/code_tables.h"
#include "netcontroller/link/nc_error.h"
#include "tests/netcontroller/nc_link_fixture.h"

namespace ecr::test {
namespace {

using namespace std::string_literals;
using nc::NcErrorCode;

// A step of a case: bytes the controller sends, or a call on the link.
struct Step {
  std::string bytes;
  std::function<void(TNetController&)> call;
};

Step Bytes(std::string bytes) { return {std::move(bytes), {}}; }
Step Call(std::function<void(TNetController&)> call) { return {{}, std::move(call)}; }
// Register `ecr`'s OnLine offer answered; the link takes the answer.
Step AnswerOffer(int ecr) {
  return Call([=](TNetController& c) { EXPECT_EQ(c.SendOnlAnswer(ecr, "7;"), 0) << ecr; });
}

std::string Block(int ecr, const std::string& block, std::uint8_t status = 1, std::uint8_t ack = 0x06) {
  return "\x0A"s + block + static_cast<char>(0x80 + ecr) + static_cast<char>(status) + static_cast<char>(ack) + '\0';
}

std::string Frame(std::uint8_t code, std::uint8_t status, std::uint8_t ack = 0x06) {
  return std::string{static_cast<char>(code), static_cast<char>(status), static_cast<char>(ack), '\0'};
}

struct FrameCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> events;
  int nc_state;
  int current_ecr;
};

class NcLinkFrames : public NcLinkTest {
 protected:
  // The speed frames change nothing else: one acknowledged speed frame after a case's bytes
  // tells that every frame before it has been handled.
  void Sync() {
    nc_.SendFrame(0x02, 1);
    ASSERT_TRUE(WaitUntil([&] { return controller_.Speed() == 9600; }, 5s));
    nc_.SendFrame(0x01, 1);
    ASSERT_TRUE(WaitUntil([&] { return controller_.Speed() == 4800; }, 5s));
  }

  // A fresh search: no exchange and no delivery report due from the case before (a reset
  // leaves a report due, as the controller still sends it).
  void Restart() {
    nc_.SetSilent(false);
    controller_.FindController();
    ASSERT_EQ(controller_.Com(), 1);
    ASSERT_TRUE(nc_.WaitForCommands("MASK 0000", 1, 5s));
    nc_.SetSilent(true);
    Sync();
    nc_.ClearRecord();
  }

  void Play(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      if (step.call) {
        // The frames before a call must have been handled, as the call depends on their state.
        Sync();
        step.call(controller_);
      } else {
        nc_.SendRaw(step.bytes);
      }
    }
    Sync();
  }

  void Run(const FrameCase& c) {
    SCOPED_TRACE(c.name);
    Restart();
    events_.Clear();
    Play(c.steps);
    EXPECT_EQ(events_.Lines(), c.events);
    EXPECT_EQ(controller_.NcState(), c.nc_state);
    EXPECT_EQ(controller_.CurrentEcr(), c.current_ecr);
  }
};

TEST_F(NcLinkFrames, EveryFrameRaisesItsEventAndLeavesItsState) {
  nc_.SetSilent(true);  // every reply of these cases is written by the case itself
  const auto inlData = [](TNetController& c) { EXPECT_EQ(c.SendInlData(3, "R12;"), 0); };
  const auto onlAnswer = [](TNetController& c) { EXPECT_EQ(c.SendOnlAnswer(3, "7;"), 0); };
  const std::vector<FrameCase> cases = {
      {"two frames in one read", {Bytes(Frame(0x07, 1) + Frame(0x08, 1))}, {}, 0, 0},
      {"a 7-byte block announces InLine", {Bytes(Block(3, "1234567"))}, {"EcrInLine 3 1234567 0"}, 1, 3},
      {"a longer block is OnLine", {Bytes(Block(3, "12;7;0;ABC;"))}, {"OnlReceived 3 12;7;0;ABC; 0"}, 4, 3},
      {"an empty block is OnLine", {Bytes(Block(2, ""))}, {"OnlReceived 2  0"}, 4, 2},
      {"bytes before the LF are dropped", {Bytes("xy\x0A" + Block(4, "12;7;0;;"))}, {"OnlReceived 4 12;7;0;; 0"}, 4, 4},
      {"the status minus 1 is ErrC", {Bytes(Block(16, "1234567", 5))}, {"EcrInLine 16 1234567 4"}, 1, 16},
      {"another register's block restarts the exchange",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Block(5, "13;8;0;;"))},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 5 13;8;0;; 0"},
       4,
       5},
      {"a block of the current register in state 4 is dropped",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Block(3, "12;8;0;;"))},
       {"OnlReceived 3 12;7;0;; 0"},
       4,
       3},
      {"the InLine exchange",
       {Bytes(Block(3, "1234567")), Call(inlData), Bytes(Frame(0x14, 1)), Bytes(Block(3, "OK"))},
       {"EcrInLine 3 1234567 0", "InlSended 3 0", "InlReceived 3 OK 0"},
       1,
       3},
      {"a block while InLine data is written is dropped",
       {Bytes(Block(3, "1234567")), Call(inlData), Bytes(Block(3, "OK"))},
       {"EcrInLine 3 1234567 0"},
       2,
       3},
      {"a block after the OnLine answer is dropped",
       {Bytes(Block(3, "12;7;0;;")), Call(onlAnswer), Bytes(Block(3, "12;7;0;;"))},
       {"OnlReceived 3 12;7;0;; 0"},
       5,
       3},
      {"the OnLine answer delivered",
       {Bytes(Block(3, "12;7;0;;")), Call(onlAnswer), Bytes(Frame(0x0D, 1))},
       {"OnlReceived 3 12;7;0;; 0", "OnlSended 3 0"},
       0,
       3},
      {"the OnLine answer refused keeps state 5",
       {Bytes(Block(3, "12;7;0;;")), Call(onlAnswer), Bytes(Frame(0x0D, 20, 0x15))},
       {"OnlReceived 3 12;7;0;; 0", "Error 3 151 4"},
       5,
       3},
      {"InLine data refused",
       {Bytes(Block(3, "1234567")), Call(inlData), Bytes(Frame(0x14, 8, 0x15))},
       {"EcrInLine 3 1234567 0", "Error 3 155 0"},
       0,
       3},
      {"an InLine report nobody waited for", {Bytes(Frame(0x14, 1))}, {"Error 0 20 1"}, 0, 0},
      // A refusal that no write awaits is no refusal of what the exchange holds.
      {"an OnLine refusal nobody waited for",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Frame(0x0D, 20, 0x15))},
       {"OnlReceived 3 12;7;0;; 0", "Error 3 20 1"},
       0,
       3},
      {"an InLine refusal nobody waited for",
       {Bytes(Block(3, "1234567")), Call(inlData), Bytes(Frame(0x14, 1)), Bytes(Frame(0x14, 8, 0x15))},
       {"EcrInLine 3 1234567 0", "InlSended 3 0", "Error 3 20 1"},
       0,
       3},
      {"a refused block names its register", {Bytes(Block(4, "12;7;0;;", 252, 0x15))}, {"Error 4 165 0"}, 0, 4},
      {"a block without its LF", {Bytes(Block(3, "1234567")), Bytes("12\x83\x01\x06\x00"s)}, {"EcrInLine 3 1234567 0"}, 0, 3},
      {"a code of no meaning", {Bytes(Block(3, "12;7;0;;")), Bytes(Frame(0x55, 1))}, {"OnlReceived 3 12;7;0;; 0", "Error 3 166 0"}, 0, 3},
      // A report whose Status is 0 raises none of the five events: its Status byte is the
      // first 0x00, so the frame ends there and is read as the bytes before it; the Ack and end
      // byte that follow are a frame too short to read, which resets the link. Such noise says
      // nothing about the report due: it stays due until its time is up.
      {"a block with Status 0", {Bytes(Block(3, "12;7;0;;", 0))}, {"Error 0 166 0"}, 0, 0},
      {"an announcement with Status 0", {Bytes(Block(3, "1234567", 0))}, {"Error 0 166 0"}, 0, 0},
      {"an OnLine delivery report with Status 0",
       {Bytes(Block(3, "12;7;0;;")), Call(onlAnswer), Bytes(Frame(0x0D, 0)), Bytes(Block(4, "13;8;0;;")),
        Call([](TNetController& c) { EXPECT_EQ(c.SendOnlAnswer(4, "8;"), TNetController::kReportDue); })},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0"},
       4,
       4},
      {"an InLine delivery report with Status 0",
       {Bytes(Block(3, "1234567")), Call(inlData), Bytes(Frame(0x14, 0)), Bytes(Block(4, "1234567")),
        Call([](TNetController& c) { EXPECT_EQ(c.SendInlData(4, "R1;"), TNetController::kReportDue); })},
       {"EcrInLine 3 1234567 0", "EcrInLine 4 1234567 0"},
       1,
       4},
      {"answers to commands raise nothing",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Frame(0x07, 1) + Frame(0x08, 1) + Frame(0x09, 1) + Frame(0x0B, 1))},
       {"OnlReceived 3 12;7;0;; 0"},
       4,
       3},
  };
  for (const FrameCase& c : cases) Run(c);
}

// Two registers at once: what is written for one register goes only into that register's
// exchange, and a delivery report is the report of the one answer or data that awaits it.
TEST_F(NcLinkFrames, WhatIsWrittenForARegisterStaysInItsExchange) {
  nc_.SetSilent(true);
  const auto answer = [](int ecr, const char* text, int result) {
    return Call([=](TNetController& c) { EXPECT_EQ(c.SendOnlAnswer(ecr, text), result) << ecr << " " << text; });
  };
  const auto data = [](int ecr, int result) {
    return Call([=](TNetController& c) { EXPECT_EQ(c.SendInlData(ecr, "R1;"), result) << ecr; });
  };
  const auto reset = [](int ecr, bool written) {
    return Call([=](TNetController& c) { EXPECT_EQ(c.ResetExchangeOf(ecr), written) << ecr; });
  };
  const std::vector<FrameCase> cases = {
      {"an answer for a register whose exchange another block ended",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Block(4, "13;8;0;;")), answer(3, "7;", 101)},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0"},
       4,
       4},
      {"InLine data for a register whose announcement another block ended",
       {Bytes(Block(3, "1234567")), Bytes(Block(4, "13;8;0;;")), data(3, 101)},
       {"EcrInLine 3 1234567 0", "OnlReceived 4 13;8;0;; 0"},
       4,
       4},
      {"a reset of a register whose exchange another block ended",
       {Bytes(Block(3, "12;7;0;;")), Bytes(Block(2, "1234567")), reset(3, false)},
       {"OnlReceived 3 12;7;0;; 0", "EcrInLine 2 1234567 0"},
       1,
       2},
      {"a reset of the register's own exchange",
       {Bytes(Block(3, "12;7;0;;")), reset(3, true)},
       {"OnlReceived 3 12;7;0;; 0"},
       0,
       0},
      {"the report of an answer overtaken by another register's block",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes(Block(4, "13;8;0;;")), Bytes(Frame(0x0D, 1))},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlSended 3 0"},
       4,
       4},
      {"a second answer waits for the first one's report",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes(Block(4, "13;8;0;;")), answer(4, "8;", 102),
        Bytes(Frame(0x0D, 1)), answer(4, "8;", 0), Bytes(Frame(0x0D, 8, 0x15))},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlSended 3 0", "Error 4 150 0"},
       5,
       4},
      {"InLine data never waits for an answer's report",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes(Block(4, "1234567")), data(4, 0),
        Bytes(Frame(0x0D, 1)), Bytes(Frame(0x14, 1))},
       {"OnlReceived 3 12;7;0;; 0", "EcrInLine 4 1234567 0", "OnlSended 3 0", "InlSended 4 0"},
       3,
       4},
      {"an answer never waits for InLine data's report",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Block(4, "13;8;0;;")), answer(4, "8;", 0),
        Bytes(Frame(0x14, 1)), Bytes(Frame(0x0D, 1))},
       {"EcrInLine 3 1234567 0", "OnlReceived 4 13;8;0;; 0", "InlSended 3 0", "OnlSended 4 0"},
       0,
       4},
      {"InLine data waits for the report of InLine data before",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Block(4, "1234567")), data(4, 102), Bytes(Frame(0x14, 1)),
        data(4, 0)},
       {"EcrInLine 3 1234567 0", "EcrInLine 4 1234567 0", "InlSended 3 0"},
       2,
       4},
      {"noise leaves the report due",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes("\0"s), Bytes(Block(4, "13;8;0;;")),
        answer(4, "8;", 102), Bytes(Frame(0x0D, 1)), answer(4, "8;", 0), Bytes(Frame(0x0D, 8, 0x15))},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlSended 3 0", "Error 4 150 0"},
       5,
       4},
      {"InLine data's report after its register began an OnLine exchange",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Block(4, "13;8;0;;")), Bytes(Block(3, "12;7;1;;")),
        Bytes(Frame(0x14, 1)), Bytes(Block(3, "AIX"))},
       {"EcrInLine 3 1234567 0", "OnlReceived 4 13;8;0;; 0", "OnlReceived 3 12;7;1;; 0", "InlSended 3 0",
        "InlReceived 3 AIX 0"},
       1,
       3},
      {"the refusal of InLine data overtaken by another register's block",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Block(4, "13;8;0;;")), Bytes(Frame(0x14, 8, 0x15))},
       {"EcrInLine 3 1234567 0", "OnlReceived 4 13;8;0;; 0", "Error 3 155 0"},
       4,
       4},
      {"a register that begins a new exchange still awaits its report, which leaves that exchange",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes(Block(4, "13;8;0;;")), Bytes(Block(3, "12;8;0;;")),
        answer(3, "9;", 102), Bytes(Frame(0x0D, 1)), answer(3, "9;", 0)},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlReceived 3 12;8;0;; 0", "OnlSended 3 0"},
       5,
       3},
      {"a reset of another register's exchange keeps the report",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Bytes(Block(4, "13;8;0;;")), reset(4, true),
        Bytes(Frame(0x0D, 1))},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlSended 3 0"},
       0,
       0},
      {"an InLine answer after another register's block",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Frame(0x14, 1)), Bytes(Block(4, "13;8;0;;")),
        Bytes(Block(3, "OK;"))},
       {"EcrInLine 3 1234567 0", "InlSended 3 0", "OnlReceived 4 13;8;0;; 0", "InlReceived 3 OK; 0"},
       1,
       3},
      {"an InLine report and answer after another register's block",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Block(4, "13;8;0;;")), Bytes(Frame(0x14, 1)),
        Bytes(Block(3, "1234567"))},
       {"EcrInLine 3 1234567 0", "OnlReceived 4 13;8;0;; 0", "InlSended 3 0", "InlReceived 3 1234567 0"},
       1,
       3},
      {"a refused block ends the awaited InLine answer",
       {Bytes(Block(3, "1234567")), data(3, 0), Bytes(Frame(0x14, 1)), Bytes(Block(4, "13;8;0;;")),
        Bytes(Block(3, "OK;", 252, 0x15)), Bytes(Block(3, "1234567"))},
       {"EcrInLine 3 1234567 0", "InlSended 3 0", "OnlReceived 4 13;8;0;; 0", "Error 3 165 0",
        "EcrInLine 3 1234567 0"},
       1,
       3},
      {"a reset of the whole link keeps the report due",
       {Bytes(Block(3, "12;7;0;;")), answer(3, "7;", 0), Call([](TNetController& c) { c.SendReset(); }),
        Bytes(Block(4, "13;8;0;;")), answer(4, "8;", 102), Bytes(Frame(0x0D, 1)), answer(4, "8;", 0)},
       {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0", "OnlSended 3 0"},
       5,
       4},
  };
  for (const FrameCase& c : cases) Run(c);
}

// A report that never comes is given up once its time is up on the link's clock, and its
// register is told so. The link writes the identify command as a fence and takes the next
// answer at once; a report that comes before the fence is answered is the given-up answer's,
// late: it is logged and raises nothing. A report forgotten by the request processing (its
// client has had its answer) is given up the same way, without an event.
struct LateReport {
  const char* name;
  bool forgotten;            // else given up by time
  std::vector<Step> after;   // once register 4's answer "8;" has gone out
  std::vector<std::string> events;  // raised after it
  const char* logLine;       // "" for none
};

const std::string kIdentifyAnswer = "NC0001\x01\x01\x0C\x01\x06\x00"s;

class NcLinkLateReports : public NcLinkFrames, public ::testing::WithParamInterface<LateReport> {};

TEST_P(NcLinkLateReports, AreTheGivenUpAnswersAndNeverTheNextOnes) {
  const LateReport& row = GetParam();
  nc_.SetSilent(true);
  nc_.SendRaw(Block(3, "12;7;0;;"));
  Sync();
  ASSERT_EQ(controller_.SendOnlAnswer(3, "7;"), 0);
  nc_.SendRaw(Block(4, "13;8;0;;"));
  ASSERT_TRUE(events_.WaitForCount(2, 5s));
  EXPECT_EQ(controller_.SendOnlAnswer(4, "8;"), TNetController::kReportDue);
  std::vector<std::string> expected = {"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0"};
  if (row.forgotten) {
    controller_.ForgetReport(3, 0x0D);
  } else {
    // Not before its time (with 3 s to spare for a slow machine) ...
    MoveClock(TNetController::kReportWaitMs - 3000);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(events_.Lines(), expected);
    EXPECT_EQ(controller_.SendOnlAnswer(4, "8;"), TNetController::kReportDue);
    // ... but once it is up.
    MoveClock(3000);
    ASSERT_TRUE(events_.WaitForCount(3, 5s));
    expected.push_back("Error 3 20 2");
    EXPECT_EQ(events_.Lines(), expected);
  }
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 1, 5s));
  // The reader ends the report once the handler of its event has returned.
  int result = TNetController::kReportDue;
  EXPECT_TRUE(WaitUntil([&] { return (result = controller_.SendOnlAnswer(4, "8;")) != TNetController::kReportDue; }, 5s));
  EXPECT_EQ(result, 0);
  Play(row.after);
  expected.insert(expected.end(), row.events.begin(), row.events.end());
  EXPECT_EQ(events_.Lines(), expected);
  if (*row.logLine != 0) {
    EXPECT_NE(LogText().find(row.logLine), std::string::npos) << LogText();
  } else {
    EXPECT_EQ(LogText().find("Late delivery report"), std::string::npos) << LogText();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Link, NcLinkLateReports,
    ::testing::Values(
        LateReport{"ReportBeforeTheFence", false, {Bytes(Frame(0x0D, 1)), Bytes(kIdentifyAnswer), Bytes(Frame(0x0D, 8, 0x15))},
                   {"Error 4 150 0"}, "Late delivery report. Ecr: 3 ACK 1"},
        LateReport{"RefusalBeforeTheFence", false, {Bytes(Frame(0x0D, 8, 0x15)), Bytes(Frame(0x0D, 1))},
                   {"OnlSended 4 0"}, "Late delivery report. Ecr: 3 NAK 8"},
        LateReport{"FenceAnsweredFirst", false, {Bytes(kIdentifyAnswer), Bytes(Frame(0x0D, 1))}, {"OnlSended 4 0"}, ""},
        // Without the fence's answer one report is swallowed, and no more.
        LateReport{"FenceNeverAnswered", false, {Bytes(Frame(0x0D, 1)), Bytes(Frame(0x0D, 8, 0x15))},
                   {"Error 4 150 0"}, "Late delivery report. Ecr: 3 ACK 1"},
        LateReport{"ForgottenReportBeforeTheFence", true, {Bytes(Frame(0x0D, 1)), Bytes(Frame(0x0D, 1))},
                   {"OnlSended 4 0"}, "Late delivery report. Ecr: 3 ACK 1"}),
    [](const ::testing::TestParamInfo<LateReport>& row) { return std::string(row.param.name); });

// InLine data given up, then its late delivery: nobody waits for it any more, and the
// register's next block is that data's answer, never a block of its own.
TEST_F(NcLinkFrames, TheAnswerAfterALateInLineReportIsAnAnswer) {
  nc_.SetSilent(true);
  nc_.SendRaw(Block(3, "1234567"));
  Sync();
  ASSERT_EQ(controller_.SendInlData(3, "R1;"), 0);
  MoveClock(TNetController::kReportWaitMs);
  ASSERT_TRUE(events_.WaitForCount(2, 5s));
  nc_.SendRaw(Frame(0x14, 1));
  nc_.SendRaw(Block(3, "AIX"));
  Sync();
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"EcrInLine 3 1234567 0", "Error 3 20 2", "InlReceived 3 AIX 0"}));
  EXPECT_NE(LogText().find("Late delivery report. Ecr: 3 ACK 1"), std::string::npos) << LogText();
}

// Two answers given up, each fenced: once the first one's fence is answered, it can report no
// more, and the report that comes is the second one's; the third answer's report is its own.
// (Found by the property test with InLine data: the second's report was taken for the
// first's, and the register's answer after it for another register's.)
TEST_F(NcLinkFrames, EachGivenUpWriteEndsAtItsOwnFence) {
  nc_.SetSilent(true);
  Play({Bytes(Block(3, "12;7;0;;")), AnswerOffer(3)});
  MoveClock(TNetController::kReportWaitMs);
  ASSERT_TRUE(events_.WaitForCount(2, 5s));
  ASSERT_TRUE(WaitUntil([&] { return controller_.ReportInHand() == 0; }, 5s));
  Play({Bytes(Block(4, "13;8;0;;")), AnswerOffer(4), Call([](TNetController& c) { c.ForgetReport(4, 0x0D); }),
        Bytes(kIdentifyAnswer), Bytes(Frame(0x0D, 1)), Bytes(Block(5, "14;9;0;;")), AnswerOffer(5),
        Bytes(Frame(0x0D, 8, 0x15))});
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"OnlReceived 3 12;7;0;; 0", "Error 3 20 2",
                                                        "OnlReceived 4 13;8;0;; 0", "OnlReceived 5 14;9;0;; 0",
                                                        "Error 5 150 0"}));
  EXPECT_NE(LogText().find("Late delivery report. Ecr: 4 ACK 1"), std::string::npos) << LogText();
}

// An identify answer lost on the line: once five seconds have passed without a byte from the
// controller, no fence waits for it any more, and a later give-up ends at its own fence.
TEST_F(NcLinkFrames, ALostIdentifyAnswerHoldsBackNoLaterFence) {
  nc_.SetSilent(true);
  controller_.SendIdentify();  // its answer never comes
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 1, 5s));
  // The keep-alive after five silent seconds; its answer comes.
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 2, 20s));
  Play({Bytes(kIdentifyAnswer), Bytes(Block(3, "12;7;0;;")), AnswerOffer(3)});
  MoveClock(TNetController::kReportWaitMs);
  ASSERT_TRUE(events_.WaitForCount(2, 5s));
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 3, 5s));
  ASSERT_TRUE(WaitUntil([&] { return controller_.ReportInHand() == 0; }, 5s));
  Play({Bytes(kIdentifyAnswer), Bytes(Block(4, "13;8;0;;")), AnswerOffer(4), Bytes(Frame(0x0D, 1))});
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"OnlReceived 3 12;7;0;; 0", "Error 3 20 2",
                                                        "OnlReceived 4 13;8;0;; 0", "OnlSended 4 0"}));
  EXPECT_EQ(LogText().find("Late delivery report"), std::string::npos) << LogText();
}

// A controller only slow, not losing anything: the keep-alive takes the fence's answer as
// lost, yet the given-up answer's report that comes after it is still that answer's, not
// the one's written after the keep-alive, whose own report ends it.
TEST_F(NcLinkFrames, AReportSlowerThanTheKeepAliveStaysItsOwnWrites) {
  nc_.SetSilent(true);
  Play({Bytes(Block(3, "12;7;0;;")), AnswerOffer(3)});
  MoveClock(TNetController::kReportWaitMs);
  ASSERT_TRUE(events_.WaitForCount(2, 5s));
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 1, 5s));  // the fence
  ASSERT_TRUE(nc_.WaitForCommands("IDENTIFY", 2, 20s));  // the keep-alive
  ASSERT_TRUE(WaitUntil([&] { return controller_.ReportInHand() == 0; }, 5s));
  // In order: 3's report, the fence's answer, the keep-alive's answer, 4's refusal.
  Play({Bytes(Block(4, "13;8;0;;")), AnswerOffer(4), Bytes(Frame(0x0D, 1)), Bytes(kIdentifyAnswer),
        Bytes(kIdentifyAnswer), Bytes(Frame(0x0D, 8, 0x15))});
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"OnlReceived 3 12;7;0;; 0", "Error 3 20 2",
                                                        "OnlReceived 4 13;8;0;; 0", "Error 4 150 0"}));
  EXPECT_NE(LogText().find("Late delivery report. Ecr: 3 ACK 1"), std::string::npos) << LogText();
}

// A report is done once the handler of its event says so: an answer written while the
// handler still works waits, so that it cannot slip between the report and what the handler
// makes of it.
class NcLinkReportHandled : public NcLinkFrames {
 protected:
  void AssignEvents() override {
    RecordEvents(controller_, events_);
    controller_.OnOnlSended = [this](TNetController& link, int ecr, std::uint8_t) {
      const int during = link.SendOnlAnswer(4, "8;");
      link.ReportHandled();
      const int after = link.SendOnlAnswer(4, "8;");
      events_.Add("OnlSended " + std::to_string(ecr) + ": " + std::to_string(during) + " then " + std::to_string(after));
    };
  }
};

TEST_F(NcLinkReportHandled, AnAnswerWaitsUntilTheReportIsHandled) {
  nc_.SetSilent(true);
  nc_.SendRaw(Block(3, "12;7;0;;"));
  Sync();
  ASSERT_EQ(controller_.SendOnlAnswer(3, "7;"), 0);
  nc_.SendRaw(Block(4, "13;8;0;;") + Frame(0x0D, 1));
  ASSERT_TRUE(events_.WaitForCount(3, 5s));
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"OnlReceived 3 12;7;0;; 0", "OnlReceived 4 13;8;0;; 0",
                                                        "OnlSended 3: 102 then 0"}));
  EXPECT_TRUE(nc_.WaitForCommands("ONL 8;", 1, 5s));
}

TEST_F(NcLinkFrames, ShortFramesAndAResetFlagMakeTheLinkReset) {
  nc_.SetSilent(true);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"an end byte alone", "\0"s},
      {"a frame of three bytes", "\x07\x01\x00"s},
      {"identification with the reset flag", "NC0001\xFF\x01\x0C\x01\x06\x00"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nc_.SendRaw(Block(3, "12;7;0;;"));
    Sync();
    nc_.ClearRecord();
    nc_.SendRaw(c.bytes);
    EXPECT_TRUE(nc_.WaitForCommands("RESET", 1, 5s));
    Sync();
    EXPECT_EQ(controller_.NcState(), 0);
    EXPECT_EQ(controller_.CurrentEcr(), 0);
  }
  // An identification without the flag asks for nothing.
  nc_.ClearRecord();
  nc_.SendRaw("NC0001\x01\x01\x0C\x01\x06\x00"s);
  Sync();
  EXPECT_EQ(nc_.ReceivedCommands(), std::vector<std::string>{});
}

TEST_F(NcLinkFrames, AFrameSplitOverTwoReadsWaitsForItsEnd) {
  const std::string frame = Block(7, "12;7;0;ABC;");
  nc_.SendRaw(frame.substr(0, 6));
  std::this_thread::sleep_for(300ms);  // the first part is read on its own
  EXPECT_EQ(events_.Lines(), std::vector<std::string>{});
  nc_.SendRaw(frame.substr(6));
  ASSERT_TRUE(events_.WaitForCount(1, 5s));
  EXPECT_EQ(events_.Lines(), std::vector<std::string>{"OnlReceived 7 12;7;0;ABC; 0"});
}

TEST_F(NcLinkFrames, NoiseBeforeFramesAndAFullBufferWithoutEndAreSkipped) {
  nc_.SendRaw(std::string(300, '\x55'));  // fills the buffer without an end byte
  nc_.SetNoise("\x41\x42\x0A\x43");
  nc_.SendEcrBlock(2, "12;7;0;X;");
  ASSERT_TRUE(events_.WaitForCount(1, 5s));
  EXPECT_EQ(events_.Lines(), std::vector<std::string>{"OnlReceived 2 12;7;0;X; 0"});
}

TEST_F(NcLinkFrames, SpeedFollowsOnlyAcknowledgedSpeedFrames) {
  nc_.SendFrame(0x02, 1, 0x15);
  nc_.SendFrame(0x07, 1);
  ASSERT_TRUE(WaitUntil([&] { return controller_.LinkState() == 0; }, 5s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(controller_.Speed(), 4800);
  EXPECT_EQ(controller_.SetSpeed(9600), 0);  // the emulator acknowledges
  EXPECT_TRUE(WaitUntil([&] { return controller_.Speed() == 9600; }, 5s));
}

TEST_F(NcLinkFrames, BlocksAndAnswersGoThroughTheCodeTable) {
  const CodeTableSet& tables = LontarosCodeTables();
  const CodeTable& table = tables.Table(tables.Count());
  controller_.SetCodeTable(table);
  std::string registerText;
  for (int c = 0x40; c < 0x80; ++c) registerText += static_cast<char>(c);
  registerText += ";";
  const std::string windowsText = ConvertFromEcr(table, registerText);
  nc_.SendEcrBlock(3, registerText);
  ASSERT_TRUE(events_.WaitForCount(1, 5s));
  EXPECT_EQ(events_.Lines(), std::vector<std::string>{"OnlReceived 3 " + windowsText + " 0"});

  const std::string answer = "\xC0\xE0\xD7;"s;
  EXPECT_EQ(controller_.SendOnlAnswer(3, answer), 0);
  ASSERT_TRUE(nc_.WaitFor([&] { return nc_.OnLineAnswers(3).size() == 1; }, 5s));
  EXPECT_EQ(nc_.OnLineAnswers(3)[0], ConvertToEcr(table, answer));
}

TEST(NcErrorTable, RefusalsMapOntoTheirNumbers) {
  struct Case {
    NcErrorCode (*map)(std::uint8_t);
    std::uint8_t status;
    NcErrorCode expected;
  };
  const Case cases[] = {
      {nc::OnlAnswerRefusal, 8, {150, 0}},   {nc::OnlAnswerRefusal, 17, {151, 1}},
      {nc::OnlAnswerRefusal, 24, {151, 8}},  {nc::OnlAnswerRefusal, 245, {152, 0}},
      {nc::OnlAnswerRefusal, 246, {153, 0}}, {nc::OnlAnswerRefusal, 254, {154, 0}},
      {nc::OnlAnswerRefusal, 244, {160, 0}}, {nc::OnlAnswerRefusal, 25, {167, 0}},
      {nc::InlDataRefusal, 8, {155, 0}},     {nc::InlDataRefusal, 20, {156, 4}},
      {nc::InlDataRefusal, 245, {157, 0}},   {nc::InlDataRefusal, 246, {158, 0}},
      {nc::InlDataRefusal, 254, {159, 0}},   {nc::InlDataRefusal, 244, {167, 0}},
      {nc::EcrBlockRefusal, 8, {161, 0}},    {nc::EcrBlockRefusal, 242, {162, 0}},
      {nc::EcrBlockRefusal, 247, {163, 0}},  {nc::EcrBlockRefusal, 248, {164, 0}},
      {nc::EcrBlockRefusal, 252, {165, 0}},  {nc::EcrBlockRefusal, 20, {167, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.status));
    EXPECT_EQ(c.map(c.status), c.expected);
  }
}

}  // namespace
}  // namespace ecr::test
