// Sequences of client requests and controller events played against the request processing
// of the network-controller server: every owed reply, pending offer and queued request
// belongs to one register, one SET, one client and one request, and an event answers or
// clears only what is its own. Each row plays one request through its phases (queued, out,
// delivered, answered) against one interrupting event (a cancel, a close, a refusal, another
// register's block or report).

#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

// One request or event; its text names it in a failure.
struct Event {
  std::string text;
  std::function<void(NcRequestRig&)> run;
};

Event Client(int client, int setNo, int command, int ecr, std::string payload = {}) {
  return {"client " + std::to_string(client) + " " + std::to_string(setNo) + "/" + std::to_string(command) + "/" +
              std::to_string(ecr) + " [" + payload + "]",
          [=](NcRequestRig& rig) { rig.Send(client, setNo, command, ecr, payload); }};
}
Event Announce(int ecr) {
  return {"announcement of " + std::to_string(ecr),
          [=](NcRequestRig& rig) { rig.engine.HandleEcrInLine(ecr, "1234567"); }};
}
Event InlDelivered(int ecr) {
  return {"InLine data delivered to " + std::to_string(ecr),
          [=](NcRequestRig& rig) { rig.engine.HandleInlSended(ecr, 0); }};
}
Event InlAnswer(int ecr, std::string answer) {
  return {"InLine answer of " + std::to_string(ecr) + " " + answer,
          [=](NcRequestRig& rig) { rig.engine.HandleInlReceived(ecr, answer); }};
}
Event Block(int ecr, std::string block) {
  return {"block of " + std::to_string(ecr) + " " + block,
          [=](NcRequestRig& rig) { rig.engine.HandleOnlineBlock(ecr, block); }};
}
Event OnlDelivered(int ecr) {
  return {"OnLine answer delivered to " + std::to_string(ecr),
          [=](NcRequestRig& rig) { rig.engine.HandleOnlSended(ecr, 0); }};
}
Event Error(int ecr, int code) {
  return {"error " + std::to_string(code) + " of " + std::to_string(ecr),
          [=](NcRequestRig& rig) { rig.engine.HandleControllerError(ecr, static_cast<std::uint8_t>(code), 0); }};
}
// The delivery report of register ecr's write (an OnLine answer, or InLine data) refused with
// the error number code (or given up: 20, 2).
Event ReportError(int ecr, nc::WriteKind kind, int code, int ext = 0) {
  return {"report of " + std::to_string(ecr) + (kind == nc::WriteKind::OnLine ? "'s answer" : "'s InLine data") +
              " error " + std::to_string(code) + "/" + std::to_string(ext),
          [=](NcRequestRig& rig) {
            rig.commands.reportInHand = nc::ReportCode(kind);
            rig.engine.HandleControllerError(ecr, static_cast<std::uint8_t>(code), ext);
          }};
}
Event GivenUp(int ecr, nc::WriteKind kind = nc::WriteKind::OnLine) { return ReportError(ecr, kind, 20, 2); }
// While busy the link takes no answer and no InLine data: another report is due.
Event LinkBusy(bool busy) {
  return {busy ? "link busy" : "link free", [=](NcRequestRig& rig) {
            rig.commands.onlResult = busy ? 102 : 0;
            rig.commands.inlResult = busy ? 102 : 0;
          }};
}
Event Numbering(int ecr, int sequence, int notifyId) {
  return {"numbering", [=](NcRequestRig& rig) { rig.SetCounters(ecr, sequence, notifyId); }};
}

struct Sequence {
  const char* id;
  const char* what;
  std::vector<Event> before;  // what these send is not looked at
  std::vector<Event> events;
  Lines replies;
  Lines commands;
};

void PrintTo(const Sequence& s, std::ostream* out) { *out << s.what; }

class NcRequestSequence : public ::testing::TestWithParam<Sequence> {};

TEST_P(NcRequestSequence, EachEventAnswersAndClearsOnlyWhatIsItsOwn) {
  const Sequence& s = GetParam();
  NcRequestRig rig;
  for (const Event& event : s.before) event.run(rig);
  rig.Clear();
  std::string played;
  for (const Event& event : s.events) {
    event.run(rig);
    played += event.text + "\n";
  }
  EXPECT_EQ(rig.Replies(), s.replies) << played;
  EXPECT_EQ(rig.Commands(), s.commands) << played;
}

// Register 2: client 5 works on it, client 8 watches the monitor SET; client 9 holds another
// SET, so that closing one SET never takes the register out of the controller's mask.
const std::vector<Event> kSet5 = {Client(9, 1, 1, 2), Client(5, 5, 1, 2), Client(8, 6, 1, 2)};
const std::vector<Event> kSet13 = {Client(9, 1, 1, 2), Client(5, 13, 1, 2), Client(8, 14, 1, 2), Numbering(2, 5, 40)};
const std::vector<Event> kSet3 = {Client(9, 5, 1, 2), Client(5, 3, 1, 2), Client(8, 14, 1, 2), Numbering(2, 5, 40)};

std::vector<Event> Then(std::vector<Event> first, const std::vector<Event>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}
Lines Then(Lines first, const Lines& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

// The command that SET 5 queued next goes to the register at its next announcement, once,
// and its client hears its own reply.
const std::vector<Event> kNextCommandGoesOnce = {Announce(2), InlDelivered(2), InlAnswer(2, "A;"), Announce(2)};
const Lines kNextCommandReplies = {"to 5: 5/4/2 err 0 [A;]", "to 8: 5/4/2 err 0 [A;]"};
const Lines kNextCommandCommands = {"INL Rq;", "RESET", "RESET"};

// Register 3: client 5 works on SET 1, client 8 watches it; register 4: client 6 on SET 1.
// Register 3's answer is out, its delivery report due.
const std::vector<Event> kThreeAnswerOut = {Client(5, 1, 1, 3),         Client(8, 2, 1, 3),
                                            Client(6, 1, 1, 4),         Numbering(3, 5, 40),
                                            Numbering(4, 7, 50),        Block(3, "55;7;1;a;b;2;"),
                                            Client(5, 1, 4, 3, "ok;")};
const std::string kFourOffer = "to 6: 1/129/4 err 0 [66;8;c;d;3;7;50;]";
const Lines kThreeDelivered = {"to 5: 1/4/3 err 0 [ok;2.000;;]", "to 8: 1/4/3 err 0 [ok;2.000;;]"};

const std::string kOne = "1;One;1.00;1.000;1;1;1;";
const std::string kTwo = "2;Two;2.00;1.000;1;1;1;";

std::vector<Sequence> Sequences() {
  return {
      // 1. A request queued after a cancel or a close and reopen is not lost.
      {"Set5CancelWhileOut", "SET 5: cancel while the command is out, another command queued",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Announce(2)}),
       Then({Client(5, 5, 3, 2), Client(5, 5, 4, 2, "q;"), InlDelivered(2), InlAnswer(2, "OK;")},
            kNextCommandGoesOnce),
       Then({"to 5: 5/3/2 err 0 []", "to 8: 5/3/2 err 0 []", "to 5: 5/9/2 err 0 [OK;]", "to 8: 5/9/2 err 0 [OK;]"},
            kNextCommandReplies),
       Then({"RESET"}, kNextCommandCommands)},
      {"Set5CancelWhenDelivered", "SET 5: cancel once the command was delivered, another command queued",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Announce(2), InlDelivered(2)}),
       Then({Client(5, 5, 3, 2), Client(5, 5, 4, 2, "q;"), InlAnswer(2, "OK;")}, kNextCommandGoesOnce),
       Then({"to 5: 5/3/2 err 0 []", "to 8: 5/3/2 err 0 []", "to 5: 5/9/2 err 0 [OK;]", "to 8: 5/9/2 err 0 [OK;]"},
            kNextCommandReplies),
       Then({"RESET"}, kNextCommandCommands)},
      {"Set5CloseAndReopen", "SET 5: closed and opened again while the command is out, another command queued",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Announce(2), InlDelivered(2)}),
       Then({Client(5, 5, 2, 2), Client(5, 5, 1, 2), Client(5, 5, 4, 2, "q;"), InlAnswer(2, "OK;")},
            kNextCommandGoesOnce),
       Then({"to 5: 5/2/2 err 0 []", "to 8: 5/2/2 err 0 []", "to 5: 5/1/2 err 0 []", "to 8: 5/1/2 err 0 []",
             "to 5: 5/9/2 err 0 [OK;]", "to 8: 5/9/2 err 0 [OK;]"},
            kNextCommandReplies),
       Then({"RESET"}, kNextCommandCommands)},
      {"Set13CancelWhileOut", "SET 13: cancel while the sale line is out, another line queued",
       Then(kSet13, {Client(5, 13, 4, 2, "1;One;1;1;1;1;1;"), Block(2, "77;9;5;x;")}),
       {Client(5, 13, 3, 2), Client(5, 13, 4, 2, "2;Two;2;1;1;1;1;"), OnlDelivered(2), Block(2, "77;10;5;x;"),
        OnlDelivered(2), Block(2, "77;11;5;x;")},
       {"to 5: 13/3/2 err 0 []", "to 8: 13/3/2 err 0 []", "to 5: 13/4/2 err 0 [" + kOne + "77;9;5;40;]",
        "to 8: 13/4/2 err 0 [" + kOne + "77;9;5;40;]", "to 5: 13/4/2 err 0 [" + kTwo + "77;10;6;40;]",
        "to 8: 13/4/2 err 0 [" + kTwo + "77;10;6;40;]"},
       {"RESET", "ONL " + kTwo + "0;0;", "RESET", "RESET"}},
      {"Set3ClosedThenSet13", "SET 3 closed and SET 13 opened while the sale line is out, another line queued",
       Then(kSet3, {Client(5, 3, 4, 2, "1;One;1;1;1;1;1;"), Block(2, "77;9;5;x;")}),
       {Client(5, 3, 2, 2), Client(5, 13, 1, 2), Client(5, 13, 4, 2, "2;Two;2;1;1;1;1;"), OnlDelivered(2),
        Block(2, "77;10;5;x;"), OnlDelivered(2)},
       {"to 5: 3/2/2 err 0 []", "to 5: 13/1/2 err 0 []", "to 8: 13/1/2 err 0 []",
        "to 5: 13/4/2 err 0 [" + kOne + "77;9;5;40;]", "to 8: 13/4/2 err 0 [" + kOne + "77;9;5;40;]",
        "to 5: 13/4/2 err 0 [" + kTwo + "77;10;6;40;]", "to 8: 13/4/2 err 0 [" + kTwo + "77;10;6;40;]"},
       {"RESET", "ONL " + kTwo + "0;0;", "RESET"}},

      // 2. A failure is never reported as success, nor another register's failure as this one's.
      {"HoldAfterARefusedAnswer", "SET 1: an answer refused with an unknown status, then a hold delivered",
       {Client(5, 1, 1, 2), Client(8, 2, 1, 2), Numbering(2, 5, 40), Block(2, "77;9;1;a;b;2;"),
        Client(5, 1, 4, 2, "ok;"), ReportError(2, nc::WriteKind::OnLine, 167)},
       {Block(2, "77;9;1;a;b;2;"), Client(5, 1, 6, 2), OnlDelivered(2)},
       {"to 5: 1/129/2 err 0 [77;9;a;b;2;6;40;]", "to 8: 1/129/2 err 0 [77;9;a;b;2;6;40;]", "to 5: 1/6/2 err 0 []",
        "to 8: 1/6/2 err 0 []"},
       {"ONL \x1F;;;;", "RESET"}},
      {"InLineRefusedThen165", "SET 5: InLine data refused (155), then another register's 165",
       Then(kSet5, {Client(5, 5, 4, 2, "q;"), Announce(2), Error(2, 155), Client(6, 1, 1, 3),
                    Block(3, "77;9;1;a;b;2;")}),
       {Error(3, 165), Announce(2), InlDelivered(2), InlAnswer(2, "OK;")},
       {"to 5: 5/4/2 err 0 [OK;]", "to 8: 5/4/2 err 0 [OK;]"},
       {"RESET", "INL Rq;", "RESET"}},
      {"InLineRefusedThenHold", "SET 5: InLine data refused (156), then another register's hold delivered",
       Then(kSet5, {Client(5, 5, 4, 2, "q;"), Announce(2), Error(2, 156), Client(6, 1, 1, 3),
                    Block(3, "77;9;1;a;b;2;")}),
       {Client(6, 1, 6, 3), OnlDelivered(3), Announce(2), InlDelivered(2), InlAnswer(2, "OK;")},
       {"to 6: 1/6/3 err 0 []", "to 5: 5/4/2 err 0 [OK;]", "to 8: 5/4/2 err 0 [OK;]"},
       {"ONL \x1F;;;;", "RESET", "INL Rq;", "RESET"}},
      {"InLineAnswerLostThenHold", "SET 5: no answer after the delivered InLine data (165), then a hold delivered",
       Then(kSet5, {Client(5, 5, 4, 2, "q;"), Announce(2), InlDelivered(2), Error(2, 165), Client(6, 1, 1, 3),
                    Block(3, "77;9;1;a;b;2;")}),
       {Client(6, 1, 6, 3), OnlDelivered(3)},
       {"to 6: 1/6/3 err 0 []"},
       {"ONL \x1F;;;;", "RESET"}},

      // 3. Another register's block ends the offer: nothing meant for it reaches the other
      //    register's exchange, and it waits for the register's repeat.
      {"FinishAfterAnotherAnnouncement", "SET 1: a finish after another register announced InLine",
       {Client(5, 1, 1, 3), Block(3, "77;9;1;a;b;2;"), Client(6, 5, 1, 2), Client(6, 5, 4, 2, "q;")},
       {Announce(2), Client(5, 1, 5, 3), InlDelivered(2), InlAnswer(2, "OK;"), Block(3, "77;9;1;a;b;2;")},
       {"to 6: 5/4/2 err 0 [OK;]", "to 5: 1/5/3 err 0 []"},
       {"INL Rq;", "RESET", "RESET"}},
      {"AnswerAfterAnotherAnnouncement", "SET 1: an answer after another register announced InLine",
       {Client(5, 1, 1, 3), Block(3, "77;9;1;a;b;2;"), Client(6, 5, 1, 2), Client(6, 5, 4, 2, "q;")},
       {Announce(2), Client(5, 1, 4, 3, "ok;"), InlDelivered(2), InlAnswer(2, "OK;"), Block(3, "77;9;1;a;b;2;"),
        OnlDelivered(3)},
       {"to 6: 5/4/2 err 0 [OK;]", "to 5: 1/4/3 err 0 [ok;2.000;;]"},
       {"INL Rq;", "RESET", "ONL ok;2.000;;", "RESET"}},
      {"HoldAfterAnotherAnnouncement", "SET 1: a hold after another register announced InLine",
       {Client(5, 1, 1, 3), Block(3, "77;9;1;a;b;2;"), Client(6, 5, 1, 2)},
       {Announce(2), Client(5, 1, 6, 3)},
       {"to 5: 1/6/3 err 12 []"},
       {"RESET"}},

      // 4. Use counts and quantities.
      {"CloseSet13ThroughSet3", "the holder of SET 3 closes SET 13, then SET 3, while SET 5 is held",
       {Client(5, 3, 1, 2), Client(6, 5, 1, 2), Client(6, 5, 4, 2, "q;")},
       {Client(5, 13, 2, 2), Client(5, 3, 2, 2), Announce(2)},
       {"to 5: 13/2/2 err 4 []", "to 5: 3/2/2 err 0 []"},
       {"INL Rq;"}},
      {"QuantityOfARefusedAnswer", "SET 1: another client's refused answer leaves the quantity",
       {Client(5, 1, 1, 2), Block(2, "77;9;1;a;b;3;")},
       {Client(6, 1, 4, 2, "f1;f2;f3;x;f5;f6;f7;99;"), Client(5, 1, 4, 2, "f1;f2;f3;x;")},
       {"to 6: 1/4/2 err 4 []"},
       {"ONL f1;f2;f3;3.000;x;;"}},

      // 5. A report of one register answers that register's client only.
      {"AnotherRegistersReport", "SET 1: another register's delivery report, then this register's refusal",
       {Client(5, 1, 1, 3), Block(3, "77;9;1;a;b;2;"), Client(5, 1, 4, 3, "ok;")},
       {OnlDelivered(4), Error(3, 150)},
       {"to 5: 1/4/3 err 17 [ok;2.000;;]"},
       {"RESET", "RESET"}},
      {"EachReportAnswersItsOwnRegister", "SET 1: another register's answer goes out before this one's report",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), Client(6, 1, 4, 4, "no;"), OnlDelivered(3), OnlDelivered(4)},
       Then({kFourOffer}, Then(kThreeDelivered, {"to 6: 1/4/4 err 0 [no;3.000;;]"})),
       {"ONL no;3.000;;", "RESET", "RESET"}},
      {"InLineAnswerAfterAnotherRegistersAnswer",
       "SET 5: the command delivered, another register's answer delivered, then the register's answer",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Client(6, 1, 1, 4), Numbering(4, 7, 50), Announce(2)}),
       {InlDelivered(2), Block(4, "66;8;1;c;d;3;"), Client(6, 1, 4, 4, "no;"), OnlDelivered(4), InlAnswer(2, "OK;"),
        Announce(2)},
       {kFourOffer, "to 6: 1/4/4 err 0 [no;3.000;;]", "to 5: 5/9/2 err 0 [OK;]", "to 8: 5/9/2 err 0 [OK;]"},
       {"ONL no;3.000;;", "RESET", "RESET", "RESET"}},

      // 6. An answer or hold that the link cannot take while another report is due waits with
      //    the register's offer open, and goes out once that report is done; a report that
      //    never comes is given up and its client told so.
      {"AnswerWaitsForAnotherRegistersReport", "SET 1: an answer while another register's report is due",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), LinkBusy(true), Client(6, 1, 4, 4, "no;"), LinkBusy(false), OnlDelivered(3),
        OnlDelivered(4)},
       Then({kFourOffer}, Then(kThreeDelivered, {"to 6: 1/4/4 err 0 [no;3.000;;]"})),
       {"ONL no;3.000;;", "RESET", "ONL no;3.000;;", "RESET"}},
      {"HoldWaitsForAnotherRegistersReport", "SET 1: a hold while another register's report is due",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), LinkBusy(true), Client(6, 1, 6, 4), LinkBusy(false), OnlDelivered(3),
        OnlDelivered(4)},
       Then({kFourOffer, "to 6: 1/6/4 err 0 []"}, kThreeDelivered),
       {"ONL \x1F;;;;", "RESET", "ONL \x1F;;;;", "RESET"}},
      {"NextExchangeAnswerWaitsForTheReportBefore",
       "SET 1: the register's next offer is answered before the report of its answer before, and refused",
       kThreeAnswerOut,
       {Block(4, "66;8;0;x;"), Block(3, "55;8;1;a;b;4;"), LinkBusy(true), Client(5, 1, 4, 3, "ok2;"),
        LinkBusy(false), OnlDelivered(3), Error(3, 150)},
       Then({"to 6: 1/128/4 err 0 [66;8;x;7;50;]", "to 5: 1/129/3 err 0 [55;8;a;b;4;6;40;]",
             "to 8: 1/129/3 err 0 [55;8;a;b;4;6;40;]"},
            Then(kThreeDelivered, {"to 5: 1/4/3 err 17 [ok2;4.000;;]", "to 8: 1/4/3 err 17 [ok2;4.000;;]"})),
       {"RESET", "ONL ok2;4.000;;", "ONL ok2;4.000;;", "RESET"}},
      {"FinishWhileTheHoldWaits", "SET 1: a finish queued while the hold waits for another register's report",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), LinkBusy(true), Client(6, 1, 6, 4), Client(6, 1, 5, 4), LinkBusy(false),
        OnlDelivered(3)},
       Then({kFourOffer, "to 6: 1/6/4 err 0 []"}, Then(kThreeDelivered, {"to 6: 1/5/4 err 0 []"})),
       {"ONL \x1F;;;;", "RESET", "RESET"}},
      {"FinishAfterTheWaitingAnswerIsCancelled",
       "SET 1: the answer waiting for another register's report cancelled, then a finish queued",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), LinkBusy(true), Client(6, 1, 4, 4, "no;"), Client(6, 1, 3, 4),
        Client(6, 1, 5, 4), LinkBusy(false), OnlDelivered(3)},
       Then({kFourOffer, "to 6: 1/3/4 err 0 []"}, Then(kThreeDelivered, {"to 6: 1/5/4 err 0 []"})),
       {"ONL no;3.000;;", "RESET", "RESET"}},
      {"SaleWaitsForAnotherRegistersReport", "SET 13: a sale line while another register's answer awaits its report",
       Then(kThreeAnswerOut, {Client(7, 13, 1, 2), Numbering(2, 5, 40), Client(7, 13, 4, 2, "1;One;1;1;1;1;1;")}),
       {LinkBusy(true), Block(2, "77;9;5;x;"), LinkBusy(false), OnlDelivered(3), OnlDelivered(2)},
       Then(kThreeDelivered, {"to 7: 13/4/2 err 0 [" + kOne + "77;9;5;40;]"}),
       {"ONL " + kOne + "0;0;", "RESET", "ONL " + kOne + "0;0;", "RESET"}},
      {"GivenUpWhileAnotherAnswerWaits", "SET 1: a report never comes while another register's answer waits",
       kThreeAnswerOut,
       {Block(4, "66;8;1;c;d;3;"), LinkBusy(true), Client(6, 1, 4, 4, "no;"), LinkBusy(false), GivenUp(3)},
       {kFourOffer, "to 5: 1/4/3 err 15 [ok;2.000;;]", "to 8: 1/4/3 err 15 [ok;2.000;;]"},
       {"ONL no;3.000;;", "RESET", "ONL no;3.000;;"}},
      {"GivenUpInLineData", "SET 5: the report of the command never comes",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Announce(2)}),
       {GivenUp(2, nc::WriteKind::InLine), Announce(2)},
       {"to 5: 5/9/2 err 15 [x;]", "to 8: 5/9/2 err 15 [x;]"},
       {"RESET", "RESET"}},
      // 7. Found by the property test: an InLine answer belongs only to data whose delivery was
      //    reported, and an announcement never overwrites the reply owed for data still out.
      {"InLineAnswerBeforeTheNewerDatasReport",
       "SET 5: the register's block refused, the next command out, then an answer before its report",
       Then(kSet5, {Client(5, 5, 4, 2, "q;"), Announce(2), Error(2, 165), Client(5, 5, 9, 2, "r;"), Announce(2)}),
       {InlAnswer(2, "A1;"), InlDelivered(2), InlAnswer(2, "OK;")},
       {"to 5: 5/9/2 err 0 [OK;]", "to 8: 5/9/2 err 0 [OK;]"},
       {"RESET", "RESET"}},
      {"AnnouncementWhileCancelledDataIsOut",
       "SET 5: a command out and cancelled, another queued, the register announces before the first's report",
       Then(kSet5, {Client(5, 5, 9, 2, "x;"), Announce(2), Client(5, 5, 3, 2), Client(5, 5, 4, 2, "q;")}),
       {Announce(2), InlDelivered(2), InlAnswer(2, "A1;"), Announce(2)},
       {"to 5: 5/9/2 err 0 [A1;]", "to 8: 5/9/2 err 0 [A1;]"},
       {"RESET", "RESET", "INL Rq;"}},
      {"RefusedBlockEndsTheOffer", "SET 1: the register's block refused while its offer waits, then a hold",
       {Client(5, 1, 1, 3), Block(3, "77;9;1;a;b;2;")},
       {Error(3, 161), Client(5, 1, 6, 3)},
       {"to 5: 1/6/3 err 12 []"},
       {"RESET"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Table, NcRequestSequence, ::testing::ValuesIn(Sequences()),
                         [](const ::testing::TestParamInfo<Sequence>& sequence) {
                           return std::string(sequence.param.id);
                         });

}  // namespace
}  // namespace ecr::test
