// A client application's session with the network-controller server, for the
// demonstration: it connects over TCP on 127.0.0.1, opens SETs 1 and 13 of a register
// behind the controller, and then, making the emulated register send its blocks at the
// right moments, receives a plain notification, answers a question that the register asks,
// and sells one item that the register fetches with its sale block. Every message that
// crosses the connection is printed in readable form as it goes.
//
//   nc_demo_client --port P --register N --controller-input PATH [--wait-seconds S]
//
//   --register N             the register behind the controller, 1..16
//   --controller-input PATH  where the controller emulator reads "N BLOCK" lines (a FIFO)
//   --wait-seconds S         how long to wait for each expected reply (default 20, at most 600)
//
// Exits 0 when every step got the reply it expects, 1 with a line saying which did not.

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

#include "server/client_message.h"
#include "server/commands.h"
#include "tests/support/demo_message_text.h"
#include "tests/support/demo_session.h"
#include "tests/support/printable_bytes.h"

namespace {

using ecr::support::DemoFailure;
using ecr::support::DemoSession;

constexpr int kRegistersBehindController = 16;
constexpr std::uint8_t kSaleSet = 13;
constexpr std::uint8_t kCopSell = 4;
constexpr std::uint8_t kQuestionCommand = 129;

// The error byte of a reply; a state request carries the SET's state in it instead.
std::string DescribeErrorByte(const ecr::ClientMessage& m) {
  if (m.Command == ecr::cmdState && m.SetNo % 2 == 1) {
    return "state " + std::to_string(m.ErrorCode) +
           (m.ErrorCode == ecr::kStateQueued ? " (a request is queued)"
            : m.ErrorCode == ecr::kStateNone ? " (nothing queued)"
                                              : "");
  }
  return ecr::support::DescribeErrorCode(m.ErrorCode);
}

// What a message from the server means to this client: its error byte, then its block.
std::string Meaning(const ecr::ClientMessage& m) {
  std::string text = DescribeErrorByte(m);
  if (m.Command >= ecr::EcrNotification) text += ", a notification of the register's block";
  return text + ecr::support::QuotedField("block", m.Block);
}

// Waits for the message on setNo with command for the session's register, and checks its
// error byte.
ecr::ClientMessage AwaitReply(DemoSession& session, std::uint8_t setNo, std::uint8_t command,
                              std::uint8_t errorCode = ecr::erNoError) {
  const ecr::ClientMessage reply = session.AwaitMessage(
      [&](const ecr::ClientMessage& m) {
        return m.SetNo == setNo && m.Command == command && m.LogNo == session.LogNo();
      },
      "message on SET " + std::to_string(setNo) + " with command " + std::to_string(command));
  if (reply.ErrorCode != errorCode) {
    throw DemoFailure("SET " + std::to_string(setNo) + " command " + std::to_string(command) + " came with " +
                      DescribeErrorByte(reply) + " where " + std::to_string(errorCode) + " was expected");
  }
  return reply;
}

// Makes the emulated register send a block to the server through the controller.
void RegisterSends(DemoSession& session, std::string_view block, std::string_view meaning) {
  session.HandToEmulator(block);
  std::cout << "register " << static_cast<int>(session.LogNo()) << " sends " << meaning << ": \""
            << ecr::support::Printable(block) << "\"" << std::endl;
}

void Expect(bool holds, const std::string& what) {
  if (!holds) throw DemoFailure(what);
}

void RunSession(DemoSession& session) {
  std::cout << "\n== Opening SETs (empty passwords): the register joins the controller's mask" << std::endl;
  session.Send(1, ecr::cmdOpen, "", "open SET 1, the register's messages and questions");
  AwaitReply(session, 1, ecr::cmdOpen);
  session.Send(kSaleSet, ecr::cmdOpen, "", "open SET 13, sales");
  AwaitReply(session, kSaleSet, ecr::cmdOpen);

  std::cout << "\n== A plain notification: a type 0 block reaches SET 1 with its sequence number and id"
            << std::endl;
  RegisterSends(session, "123456;1;0;HELLO;", "a message (serial number, exchange 1, type 0, text)");
  const ecr::ClientMessage note = AwaitReply(session, 1, ecr::EcrNotification);
  Expect(note.Payload.rfind("123456;1;HELLO;", 0) == 0, "the notification does not carry the register's block");

  std::cout << "\n== A question: a type 1 block is offered to SET 1, and the client's answer goes to the register"
            << std::endl;
  RegisterSends(session, "123456;2;1;42;ITEM;1;", "a question (exchange 2, type 1, item 42, quantity 1)");
  AwaitReply(session, 1, kQuestionCommand);
  session.Send(1, ecr::cmdAnswer, "42;BREAD;1.20;", "the answer: item 42 is BREAD at 1.20");
  const ecr::ClientMessage answered = AwaitReply(session, 1, ecr::cmdAnswer);
  Expect(answered.Payload.rfind("42;BREAD;1.20;1.000;", 0) == 0,
         "the reply does not carry the answer the register received");

  std::cout << "\n== A sale: a line queued on SET 13 is fetched by the register's type 5 block" << std::endl;
  session.Send(kSaleSet, kCopSell, "1;X;1.5;2;1;1;1;",
               "COP 4: sell item 1 \"X\", price 1.5, quantity 2, department 1, group 1, tax group 1");
  session.Send(kSaleSet, ecr::cmdState, "", "is the sale queued?");
  AwaitReply(session, kSaleSet, ecr::cmdState, ecr::kStateQueued);
  RegisterSends(session, "123456;3;5;", "its sale block (exchange 3, type 5)");
  const ecr::ClientMessage sold = AwaitReply(session, kSaleSet, kCopSell);
  Expect(sold.Payload.rfind("1;X;1.50;2.000;1;1;1;123456;3;", 0) == 0,
         "the sale's reply does not carry the line, the serial number and the exchange number");

  std::cout << "\n== Closing the SETs: the register leaves the mask, the controller is stopped" << std::endl;
  for (const std::uint8_t setNo : {kSaleSet, std::uint8_t{1}}) {
    session.Send(setNo, ecr::cmdClose, "", "close SET " + std::to_string(setNo));
    AwaitReply(session, setNo, ecr::cmdClose);
  }
}

int Usage() {
  std::cerr << "usage: nc_demo_client --port P --register N --controller-input PATH [--wait-seconds S]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const auto settings =
      ecr::support::ParseDemoClientSettings(argc, argv, "--controller-input", kRegistersBehindController);
  if (!settings) return Usage();
  return ecr::support::RunDemoSession(*settings, {"controller emulator", "the register's block"}, Meaning,
                                      RunSession);
}
