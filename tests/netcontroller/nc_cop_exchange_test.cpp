// The sale, print and receipt exchanges of the network-controller server and the checks of
// the operations that clients queue for them.

#include <algorithm>

#include "netcontroller/requests/cop_payload_checks.h"
#include "tests/netcontroller/nc_request_fixture.h"

namespace ecr::test {
namespace {

struct CheckCase {
  std::string payload;
  bool valid;
  std::string after;  // the Payload after the check, passed or failed
};

TEST(NcCopPayloadChecks, SaleLine) {
  const CheckCase cases[] = {
      {"123;Bread;1.5;2;1;1;1;", true, "123;Bread;1.50;2.000;1;1;1;"},
      {";Bread;0.01;-0.001;9;99;8;", true, ";Bread;0.01;-0.001;9;99;8;"},
      {"999999999;x;99999.99;99999.999;+1;01;1;", true, "999999999;x;99999.99;99999.999;1;1;1;"},
      {"1000000000;x;1;1;1;1;1;", false, "1000000000;x;1;1;1;1;1;"},
      {"-1;x;1;1;1;1;1;", false, "-1;x;1;1;1;1;1;"},
      {"1;" + std::string(23, 'n') + ";1;1;1;1;1;", false, "1;" + std::string(23, 'n') + ";1;1;1;1;1;"},
      {"1;x;0;1;1;1;1;", false, "1;x;0;1;1;1;1;"},
      {"1;x;100000;1;1;1;1;", false, "1;x;100000;1;1;1;1;"},
      // The fields before the one that fails are normalised all the same.
      {"1;x;1;0.0004;1;1;1;", false, "1;x;1.00;0.0004;1;1;1;"},
      {"1;x;1.5;abc;1;1;1;", false, "1;x;1.50;abc;1;1;1;"},
      {"1;x;1;2;10;1;1;", false, "1;x;1.00;2.000;10;1;1;"},
      {"1;x;1;1;01;100;1;", false, "1;x;1.00;1.000;1;100;1;"},
      {"1;x;1;1;1;+1;9;", false, "1;x;1.00;1.000;1;1;9;"},
      {"1;x;1;1;1;1;", false, "1;x;1.00;1.000;1;1;"},
  };
  for (const CheckCase& c : cases) {
    std::string payload = c.payload;
    EXPECT_EQ(nc::SaleLineValid(payload), c.valid) << c.payload;
    EXPECT_EQ(payload, c.after) << c.payload;
  }
}

TEST(NcCopPayloadChecks, PaymentPercentAndAmount) {
  const struct {
    bool (*check)(std::string&);
    CheckCase c;
  } cases[] = {
      {nc::PaymentValid, {"1;12.5;", true, "1;12.50;"}},
      {nc::PaymentValid, {"4;99;", true, "4;;"}},
      {nc::PaymentValid, {"0;9999999.99;", true, "0;9999999.99;"}},
      {nc::PaymentValid, {"0;10000000;", false, "0;10000000;"}},
      {nc::PaymentValid, {"5;1;", false, "5;1;"}},
      {nc::PaymentValid, {"x;1;", false, "x;1;"}},
      {nc::PaymentValid, {"1;-0.01;", false, "1;-0.01;"}},
      {nc::PercentValid, {"1;5;", true, "1;5.00;"}},
      {nc::PercentValid, {"0;99.99;", true, "0;99.99;"}},
      {nc::PercentValid, {"1;100;", false, "1;100;"}},
      {nc::PercentValid, {"2;5;", false, "2;5;"}},
      {nc::AmountValid, {"0;250;", true, "0;250.00;"}},
      {nc::AmountValid, {"1;1000000;", false, "1;1000000;"}},
      {nc::AmountValid, {"1;;", false, "1;;"}},
  };
  for (const auto& [check, c] : cases) {
    std::string payload = c.payload;
    EXPECT_EQ(check(payload), c.valid) << c.payload;
    EXPECT_EQ(payload, c.after) << c.payload;
  }
  EXPECT_TRUE(nc::PrintLineValid("a;b;c;d;e;"));
  EXPECT_FALSE(nc::PrintLineValid("a;b;c;d;"));
  EXPECT_FALSE(nc::PrintLineValid("a;b;c;d;e;f;"));
}

// Client 5 holds SET 13 of register 2 (sequence 5, notification id 40), client 6 its monitor
// SET 14. The register's blocks carry serial 77 and exchange number 9.
class NcCopExchangeTest : public NcRequestTest {
 protected:
  NcCopExchangeTest() {
    Open(5, 13, 2);
    Open(6, 14, 2);
    SetCounters(2, 5, 40);
    engine.WithSettings([](nc::NcServerSettings& record) { record.NextNotifyId = 100; });
  }
};

struct CopCase {
  char type;
  int cop;
  std::string payload;
  std::string blockTail;  // fields 3.. of the working block
  Lines commands;
  std::string reply;      // to the client, now or after the delivery report
  bool handedOver;
  int sequenceAfter;
  int notifyIdAfter;
};

// Test names without ";", which would split them in the test runner's lists.
void PrintTo(const CopCase& c, std::ostream* out) {
  std::string text = std::string("type ") + c.type + " COP " + std::to_string(c.cop) + " " + c.payload + " block " +
                     c.blockTail;
  std::replace(text.begin(), text.end(), ';', ',');
  *out << text;
}

class NcCopCaseTest : public NcCopExchangeTest, public ::testing::WithParamInterface<CopCase> {};

TEST_P(NcCopCaseTest, ServesOrRefusesTheQueuedOperation) {
  const CopCase& c = GetParam();
  if (c.cop != 0) Send(5, 13, c.cop, 2, c.payload);
  EXPECT_EQ(Replies(), Lines{});
  engine.HandleOnlineBlock(2, std::string("77;9;") + c.type + ";" + c.blockTail);
  EXPECT_EQ(Commands(), c.commands);
  EXPECT_EQ(engine.PendingExchangeSnapshot(), (nc::PendingExchange{2, 13}));
  EXPECT_EQ(engine.ExchangeStateName(2), "esBuffRx");
  EXPECT_EQ(Counters(2).Mode, c.type == 'A' ? 2 : 3);
  if (c.handedOver) {
    EXPECT_EQ(Replies(), Lines{});
    EXPECT_EQ(Slot(2, 13).State, nc::kSlotQueued);
    engine.HandleOnlSended(2, 0);
    EXPECT_EQ(Commands(), Lines{"RESET"});
  }
  if (c.reply.empty()) {
    EXPECT_EQ(Replies(), Lines{});
  } else {
    EXPECT_EQ(Replies(), (Lines{"to 5: " + c.reply, "to 6: " + c.reply}));
    EXPECT_EQ(Slot(2, 13).Command, 0);
  }
  EXPECT_EQ(Counters(2).Sequence, c.sequenceAfter);
  EXPECT_EQ(Counters(2).NotifyId, c.notifyIdAfter);
}

const std::string kSale = "123;Bread;1.5;2;1;1;1;";

INSTANTIATE_TEST_SUITE_P(
    Sale, NcCopCaseTest,
    ::testing::Values(
        CopCase{'5', 4, kSale, "x;", {"ONL 123;Bread;1.50;2.000;1;1;1;0;0;"},
                "13/4/2 err 0 [123;Bread;1.50;2.000;1;1;1;77;9;5;40;]", true, 6, 40},
        // A refused sale line has used a sequence number all the same.
        CopCase{'5', 4, "123;Bread;0;2;1;1;1;", "x;", {"RESET"}, "13/4/2 err 5 [77;9;]", false, 6, 40},
        CopCase{'5', 6, "", "x;", {"ONL 0;;;;;;2;0;0;"}, "13/6/2 err 0 [0;;77;9;5;40;]", true, 1, 100},
        CopCase{'5', 10, "", "x;", {"RESET"}, "13/10/2 err 0 [77;9;5;40;]", false, 5, 40},
        CopCase{'5', 8, "1;5;", "x;", {"RESET"}, "13/8/2 err 5 [77;9;5;40;]", false, 5, 40},
        CopCase{'5', 12, "", "x;", {"RESET"}, "13/12/2 err 5 [77;9;5;40;]", false, 5, 40},
        CopCase{'5', 5, "a;b;c;d;e;", "x;", {"RESET"}, "", false, 5, 40},
        CopCase{'5', 0, "", "x;", {"RESET"}, "", false, 5, 40}));

INSTANTIATE_TEST_SUITE_P(
    Print, NcCopCaseTest,
    ::testing::Values(CopCase{'6', 5, "a;b;c;d;e;", "x;", {"ONL a;b;c;d;e;"}, "13/5/2 err 0 [a;b;c;d;e;77;9;5;40;]",
                              true, 6, 40},
                      CopCase{'6', 5, "a;b;c;d;", "x;", {"RESET"}, "13/5/2 err 5 [77;9;5;40;]", false, 5, 40},
                      CopCase{'6', 10, "", "x;", {"RESET"}, "13/10/2 err 0 [77;9;5;40;]", false, 5, 40},
                      CopCase{'6', 9, "1;2;", "x;", {"RESET"}, "13/9/2 err 5 [77;9;5;40;]", false, 5, 40},
                      CopCase{'6', 4, kSale, "x;", {"RESET"}, "", false, 5, 40},
                      CopCase{'6', 6, "", "x;", {"RESET"}, "", false, 5, 40}));

INSTANTIATE_TEST_SUITE_P(
    Receipt, NcCopCaseTest,
    ::testing::Values(
        CopCase{'A', 4, kSale, "x;", {"ONL L;123;Bread;1.50;2.000;1;1;1;0;0;"},
                "13/4/2 err 0 [123;Bread;1.50;2.000;1;1;1;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 4, "123;Bread;0;2;1;1;1;", "x;", {"RESET"}, "13/4/2 err 5 [123;Bread;0;2;1;1;1;77;9;5;40;]",
                false, 5, 40},
        // The refusal shows the line as far as its check had normalised it.
        CopCase{'A', 4, "123;Bread;1.5;2;10;1;1;", "x;", {"RESET"},
                "13/4/2 err 5 [123;Bread;1.50;2.000;10;1;1;77;9;5;40;]", false, 5, 40},
        CopCase{'A', 5, "a;b;c;d;e;", "x;", {"ONL X;a;b;c;d;e;"}, "13/5/2 err 0 [a;b;c;d;e;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 6, "0;;", "x;", {"ONL E;0;;;;;"}, "13/6/2 err 0 [0;;77;9;5;40;]", true, 1, 100},
        CopCase{'A', 6, "1;12.5;", "x;", {"ONL E;1;12.50;;;;"}, "13/6/2 err 0 [1;12.50;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 6, "4;99;", "x;", {"ONL E;4;;;;;"}, "13/6/2 err 0 [4;;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 6, "7;1;", "x;", {"RESET"}, "13/6/2 err 5 [7;1;77;9;5;40;]", false, 5, 40},
        CopCase{'A', 8, "1;5;", "x;", {"ONL C;1;5.00;;;;"}, "13/8/2 err 0 [1;5.00;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 8, "1;100;", "x;", {"RESET"}, "13/8/2 err 5 [1;100;77;9;5;40;]", false, 5, 40},
        CopCase{'A', 9, "0;250;", "x;", {"ONL I;0;250.00;;;;"}, "13/9/2 err 0 [0;250.00;77;9;5;40;]", true, 6, 40},
        CopCase{'A', 10, "", "x;", {"ONL H;;;;;;"}, "13/10/2 err 0 [77;9;5;40;]", true, 5, 40},
        CopCase{'A', 11, "", "x;", {"ONL F;;;;;;"}, "13/11/2 err 0 [77;9;5;40;]", true, 5, 40},
        CopCase{'A', 12, "", "0;y;", {"ONL F;;;;;;"}, "13/12/2 err 0 [77;9;0;y;5;40;]", true, 5, 40},
        CopCase{'A', 12, "", "+3;y;", {"ONL H;;;;;;"}, "13/12/2 err 0 [77;9;3;y;5;40;]", true, 5, 40},
        CopCase{'A', 12, "", "256;y;", {"ONL H;;;;;;"}, "13/12/2 err 0 [77;9;256;y;5;40;]", true, 5, 40},
        CopCase{'A', 12, "", "no;y;", {"ONL F;;;;;;"}, "13/12/2 err 0 [77;9;0;y;5;40;]", true, 5, 40},
        CopCase{'A', 12, "", "", {"ONL F;;;;;;"}, "13/12/2 err 0 [77;9;0;5;40;]", true, 5, 40},
        CopCase{'A', 0, "", "x;", {"RESET"}, "", false, 5, 40}));

TEST_F(NcCopExchangeTest, AReceiptHandOverTakesTheExchangeNumber) {
  Send(5, 13, 10, 2);
  engine.HandleOnlineBlock(2, "77;300;A;x;");
  EXPECT_EQ(engine.SessionSnapshot(2).ExchangeNo, 300);
  EXPECT_EQ(Commands(), Lines{"ONL H;;;;;;"});
}

TEST_F(NcCopExchangeTest, WithSet3HeldRepliesCarrySetNo3AndTheirCopyGoesToSet14) {
  engine.ClientDisconnected(5);
  Open(7, 3, 2);
  Open(8, 4, 2);  // the monitor of SET 3 sees none of the operations' replies
  Clear();
  // A refusal at once, and a hand-over answered on delivery.
  Send(7, 3, 5, 2, "a;b;c;d;");
  engine.HandleOnlineBlock(2, "77;9;6;x;");
  EXPECT_EQ(Replies(), (Lines{"to 7: 3/5/2 err 5 [77;9;5;40;]", "to 6: 3/5/2 err 5 [77;9;5;40;]"}));
  Send(7, 3, 4, 2, kSale);
  engine.HandleOnlineBlock(2, "77;9;5;x;");
  EXPECT_EQ(Replies(), Lines{});
  engine.HandleOnlSended(2, 0);
  EXPECT_EQ(Replies(), (Lines{"to 7: 3/4/2 err 0 [123;Bread;1.50;2.000;1;1;1;77;9;5;40;]",
                              "to 6: 3/4/2 err 0 [123;Bread;1.50;2.000;1;1;1;77;9;5;40;]"}));
  EXPECT_EQ(Slot(2, 13).Command, 0);
}

TEST_F(NcCopExchangeTest, AFailedDeliveryAnswersTheOperationsClient) {
  Send(5, 13, 5, 2, "a;b;c;d;e;");
  engine.HandleOnlineBlock(2, "77;9;6;x;");
  Clear();
  engine.HandleControllerError(2, 152, 0);
  EXPECT_EQ(Replies(), (Lines{"to 5: 13/5/2 err 9 [a;b;c;d;e;77;9;5;40;]", "to 6: 13/5/2 err 9 [a;b;c;d;e;77;9;5;40;]"}));
  EXPECT_EQ(engine.PendingExchangeSnapshot(), nc::PendingExchange{});
}

}  // namespace
}  // namespace ecr::test
