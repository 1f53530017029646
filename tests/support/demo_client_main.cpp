// A client application's session with the register server, for the demonstration: it
// connects over TCP on 127.0.0.1, asks for the server's identification, joins a register's
// subscriber queue, opens SETs 1, 5 and 13 of the register, waits for a message that the
// register started by itself, sends a SET 5 command and waits for the register's answer,
// and sells one item through the register's sale question with its two-step reply. Every
// message that crosses the connection is printed in readable form as it goes.
//
//   demo_client --port P --register N --register-input PATH [--wait-seconds S]
//
//   --register-input PATH  where the register emulator reads "N TEXT" lines (a FIFO): the
//                          session tells the emulated register when to ask for the sale
//   --wait-seconds S       how long to wait for each expected reply (default 20, at most 600)
//
// Exits 0 when every step got the reply it expects, 1 with a line saying which did not.

#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/receipt_ref.h"
#include "tests/support/demo_message_text.h"
#include "tests/support/demo_session.h"
#include "tests/support/printable_bytes.h"

namespace {

using ecr::support::DemoFailure;
using ecr::support::DemoSession;
using ecr::support::Printable;

// The 13-byte receipt reference of a sale reply.
std::string DescribeReceiptRef(const ecr::ReceiptRef& ref) {
  return "receipt reference: notification id " + std::to_string(ref.NotifyId) + ", sequence " +
         std::to_string(ref.Sequence) + ", serial number " + std::to_string(ref.SerialNumber) +
         ", message number " + std::to_string(ref.MessageNumber);
}

// What a message from the server means to this client, after its error code.
std::string Meaning(const ecr::ClientMessage& m) {
  std::string text = ecr::support::DescribeErrorCode(m.ErrorCode);
  if (m.SetNo == ecr::SubscriberSet && m.Command == ecr::EcrNotification) {
    text += ", a subscriber's copy of the notification to SET;command " + Printable(m.Block);
  } else if (const auto ref = ecr::ReceiptRef::Decode(m.Block); ref && m.Command == ecr::cmdAnswerSent) {
    text += ", the answer went to the register; " + DescribeReceiptRef(*ref);
  } else if (ref && m.SetNo == 13) {
    text += ", confirmed; " + DescribeReceiptRef(*ref);
  } else if (m.Command >= ecr::EcrNotification && m.Command < ecr::cmdAnswerSent) {
    text += ", a notification of the register's own message";
  } else {
    text += ecr::support::QuotedField("block", m.Block);
  }
  return text;
}

// Waits for the reply to a request on setNo with command, and checks its error code.
ecr::ClientMessage AwaitReply(DemoSession& session, std::uint8_t setNo, std::uint8_t command,
                              std::uint8_t errorCode = ecr::erNoError) {
  const ecr::ClientMessage reply = session.AwaitMessage(
      [&](const ecr::ClientMessage& m) { return m.SetNo == setNo && m.Command == command; },
      "reply on SET " + std::to_string(setNo) + " to command " + std::to_string(command));
  if (reply.ErrorCode != errorCode) {
    throw DemoFailure("SET " + std::to_string(setNo) + " command " + std::to_string(command) +
                      " was answered with " + ecr::support::DescribeErrorCode(reply.ErrorCode));
  }
  return reply;
}

// Hands the emulated register a message to start by itself.
void RegisterStarts(DemoSession& session, std::string_view block) {
  session.HandToEmulator(block);
  std::cout << "register " << static_cast<int>(session.LogNo()) << " starts a message of its own: \""
            << Printable(block) << "\"" << std::endl;
}

void RunSession(DemoSession& session) {
  std::cout << "\n== The server identifies itself" << std::endl;
  session.Send(ecr::ServerSet, ecr::cmdIdentify, "", "identification");
  AwaitReply(session, ecr::ServerSet, ecr::cmdIdentify);

  std::cout << "\n== Opening SETs (empty passwords)" << std::endl;
  session.Send(ecr::SubscriberSet, ecr::cmdOpen, "", "join the register's subscriber queue");
  AwaitReply(session, ecr::SubscriberSet, ecr::cmdOpen);
  session.Send(1, ecr::cmdOpen, "", "open SET 1, the register's messages");
  AwaitReply(session, 1, ecr::cmdOpen);

  std::cout << "\n== A message the register started by itself (it waited until SET 1 was open)" << std::endl;
  session.AwaitMessage([](const ecr::ClientMessage& m) { return m.SetNo == 1 && m.Command >= ecr::EcrNotification; },
                       "notification on SET 1");
  session.AwaitMessage(
      [](const ecr::ClientMessage& m) { return m.SetNo == ecr::SubscriberSet && m.Command == ecr::EcrNotification; },
      "subscriber's copy of the notification");

  std::cout << "\n== A SET 5 command goes to the register at its next status, and its answer comes back"
            << std::endl;
  session.Send(5, ecr::cmdOpen, "", "open SET 5, commands to the register");
  AwaitReply(session, 5, ecr::cmdOpen);
  session.Send(5, 9, "ABC", "command 9: the register gets the letter I and the payload");
  AwaitReply(session, 5, 9);

  std::cout << "\n== A sale: the register asks, the queued request answers it, the reply comes in two steps"
            << std::endl;
  session.Send(13, ecr::cmdOpen, "", "open SET 13, sales");
  AwaitReply(session, 13, ecr::cmdOpen);
  session.Send(13, 4, "1;X;1.5;2;", "command 4: sell item 1 \"X\", price 1.5, quantity 2");
  RegisterStarts(session, "123456;5;5;");
  AwaitReply(session, 13, ecr::cmdAnswerSent);
  RegisterStarts(session, "123456;6;A;");
  AwaitReply(session, 13, 4);

  std::cout << "\n== Closing the SETs" << std::endl;
  for (const std::uint8_t setNo : {13, 5, 1}) {
    session.Send(setNo, ecr::cmdClose, "", "close SET " + std::to_string(setNo));
    AwaitReply(session, setNo, ecr::cmdClose);
  }
}

int Usage() {
  std::cerr << "usage: demo_client --port P --register N --register-input PATH [--wait-seconds S]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const auto settings = ecr::support::ParseDemoClientSettings(argc, argv, "--register-input", ecr::kMaxLogNo);
  if (!settings) return Usage();
  return ecr::support::RunDemoSession(*settings, {"register emulator", "its message"}, Meaning, RunSession);
}
