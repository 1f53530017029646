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
//   --wait-seconds S       how long to wait for each expected reply (default 20)
//
// Exits 0 when every step got the reply it expects, 1 with a line saying which did not.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/receipt_ref.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Bytes outside printable ASCII are shown as \xNN.
std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      text.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  return text;
}

// The 13-byte receipt reference of a sale reply.
std::string DescribeReceiptRef(const ecr::ReceiptRef& ref) {
  return "receipt reference: notification id " + std::to_string(ref.NotifyId) + ", sequence " +
         std::to_string(ref.Sequence) + ", serial number " + std::to_string(ref.SerialNumber) +
         ", message number " + std::to_string(ref.MessageNumber);
}

std::string Describe(const ecr::ClientMessage& m) {
  return "SET " + std::to_string(m.SetNo) + ", command " + std::to_string(m.Command) + ", register " +
         std::to_string(m.LogNo);
}

class Session {
 public:
  Session(std::uint16_t port, int logNo, std::string registerInput, std::chrono::seconds wait)
      : logNo_(static_cast<std::uint8_t>(logNo)), registerInput_(std::move(registerInput)), wait_(wait) {
    const auto deadline = Clock::now() + wait_;
    while (true) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
      ::close(fd_);
      fd_ = -1;
      if (Clock::now() >= deadline) throw Failure("no server answers on 127.0.0.1:" + std::to_string(port));
      std::this_thread::sleep_for(100ms);
    }
    std::cout << "client: connected to 127.0.0.1:" << port << std::endl;
  }
  ~Session() {
    if (fd_ >= 0) ::close(fd_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Send(std::uint8_t setNo, std::uint8_t command, std::string_view payload, std::string_view meaning) {
    const std::string message = ecr::BuildClientMessage(setNo, command, logNo_, 0, {}, payload);
    std::string frame(1, static_cast<char>(message.size()));
    frame += message;
    std::cout << "client -> server: " << Describe(ecr::ParseClientRequest(message)) << " (" << meaning << ")"
              << (payload.empty() ? "" : ", payload \"" + Printable(payload) + "\"") << std::endl;
    if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
      throw Failure("the connection to the server broke while sending");
    }
  }

  // Reads messages, printing each, until one satisfies wanted; fails after the wait.
  ecr::ClientMessage AwaitMessage(const std::function<bool(const ecr::ClientMessage&)>& wanted,
                                  const std::string& what) {
    const auto deadline = Clock::now() + wait_;
    while (true) {
      if (std::optional<ecr::ClientMessage> message = NextMessage(deadline)) {
        Print(*message);
        if (wanted(*message)) return *message;
        continue;
      }
      throw Failure("no " + what + " within " + std::to_string(wait_.count()) + " s");
    }
  }

  // Waits for the reply to a request on setNo with command, and checks its error code.
  ecr::ClientMessage AwaitReply(std::uint8_t setNo, std::uint8_t command, std::uint8_t errorCode = ecr::erNoError) {
    const ecr::ClientMessage reply = AwaitMessage(
        [&](const ecr::ClientMessage& m) { return m.SetNo == setNo && m.Command == command; },
        "reply on SET " + std::to_string(setNo) + " to command " + std::to_string(command));
    if (reply.ErrorCode != errorCode) {
      throw Failure("SET " + std::to_string(setNo) + " command " + std::to_string(command) +
                    " was answered with error " + std::to_string(reply.ErrorCode) + " (" +
                    ecr::ReplyErrorText(reply.ErrorCode) + ")");
    }
    return reply;
  }

  // Hands the emulated register a message to start by itself.
  void RegisterStarts(std::string_view block) {
    const int fd = ::open(registerInput_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Failure("cannot reach the register emulator through " + registerInput_);
    const std::string line = std::to_string(logNo_) + " " + std::string(block) + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!written) throw Failure("cannot hand the register emulator its message");
    std::cout << "register " << static_cast<int>(logNo_) << " starts a message of its own: \"" << Printable(block)
              << "\"" << std::endl;
  }

 private:
  std::optional<ecr::ClientMessage> NextMessage(Clock::time_point deadline) {
    while (true) {
      if (!buffer_.empty() && buffer_.size() >= 1u + static_cast<unsigned char>(buffer_[0])) {
        const std::size_t length = static_cast<unsigned char>(buffer_[0]);
        const std::string message = buffer_.substr(1, length);
        buffer_.erase(0, 1 + length);
        return ecr::ParseClientMessage(message);
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[512];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) throw Failure("the server closed the connection");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  static void Print(const ecr::ClientMessage& m) {
    std::string text = "server -> client: " + Describe(m) + ", error " + std::to_string(m.ErrorCode) + " (" +
                       ecr::ReplyErrorText(m.ErrorCode) + ")";
    if (m.SetNo == ecr::SubscriberSet && m.Command == ecr::EcrNotification) {
      text += ", a subscriber's copy of the notification to SET;command " + Printable(m.Block);
    } else if (const auto ref = ecr::ReceiptRef::Decode(m.Block); ref && m.Command == ecr::cmdAnswerSent) {
      text += ", the answer went to the register; " + DescribeReceiptRef(*ref);
    } else if (ref && m.SetNo == 13) {
      text += ", confirmed; " + DescribeReceiptRef(*ref);
    } else if (m.Command >= ecr::EcrNotification && m.Command < ecr::cmdAnswerSent) {
      text += ", a notification of the register's own message";
    } else if (!m.Block.empty()) {
      text += ", block \"" + Printable(m.Block) + "\"";
    }
    if (!m.Payload.empty()) text += ", payload \"" + Printable(m.Payload) + "\"";
    std::cout << text << std::endl;
  }

  const std::uint8_t logNo_;
  const std::string registerInput_;
  const std::chrono::seconds wait_;
  int fd_ = -1;
  std::string buffer_;
};

void RunSession(Session& session) {
  std::cout << "\n== The server identifies itself" << std::endl;
  session.Send(ecr::ServerSet, ecr::cmdIdentify, "", "identification");
  session.AwaitReply(ecr::ServerSet, ecr::cmdIdentify);

  std::cout << "\n== Opening SETs (empty passwords)" << std::endl;
  session.Send(ecr::SubscriberSet, ecr::cmdOpen, "", "join the register's subscriber queue");
  session.AwaitReply(ecr::SubscriberSet, ecr::cmdOpen);
  session.Send(1, ecr::cmdOpen, "", "open SET 1, the register's messages");
  session.AwaitReply(1, ecr::cmdOpen);

  std::cout << "\n== A message the register started by itself (it waited until SET 1 was open)" << std::endl;
  session.AwaitMessage([](const ecr::ClientMessage& m) { return m.SetNo == 1 && m.Command >= ecr::EcrNotification; },
                       "notification on SET 1");
  session.AwaitMessage(
      [](const ecr::ClientMessage& m) { return m.SetNo == ecr::SubscriberSet && m.Command == ecr::EcrNotification; },
      "subscriber's copy of the notification");

  std::cout << "\n== A SET 5 command goes to the register at its next status, and its answer comes back"
            << std::endl;
  session.Send(5, ecr::cmdOpen, "", "open SET 5, commands to the register");
  session.AwaitReply(5, ecr::cmdOpen);
  session.Send(5, 9, "ABC", "command 9: the register gets the letter I and the payload");
  session.AwaitReply(5, 9);

  std::cout << "\n== A sale: the register asks, the queued request answers it, the reply comes in two steps"
            << std::endl;
  session.Send(13, ecr::cmdOpen, "", "open SET 13, sales");
  session.AwaitReply(13, ecr::cmdOpen);
  session.Send(13, 4, "1;X;1.5;2;", "command 4: sell item 1 \"X\", price 1.5, quantity 2");
  session.RegisterStarts("123456;5;5;");
  session.AwaitReply(13, ecr::cmdAnswerSent);
  session.RegisterStarts("123456;6;A;");
  session.AwaitReply(13, 4);

  std::cout << "\n== Closing the SETs" << std::endl;
  for (const std::uint8_t setNo : {13, 5, 1}) {
    session.Send(setNo, ecr::cmdClose, "", "close SET " + std::to_string(setNo));
    session.AwaitReply(setNo, ecr::cmdClose);
  }
}

int Usage() {
  std::cerr << "usage: demo_client --port P --register N --register-input PATH [--wait-seconds S]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0;
  long logNo = 0;
  long waitSeconds = 20;
  std::string registerInput;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--port") {
      port = std::strtol(value, nullptr, 10);
    } else if (option == "--register") {
      logNo = std::strtol(value, nullptr, 10);
    } else if (option == "--register-input") {
      registerInput = value;
    } else if (option == "--wait-seconds") {
      waitSeconds = std::strtol(value, nullptr, 10);
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || port < 1 || port > 65535 || logNo < 1 || logNo > ecr::kMaxLogNo || registerInput.empty() ||
      waitSeconds < 1) {
    return Usage();
  }
  try {
    Session session(static_cast<std::uint16_t>(port), static_cast<int>(logNo), registerInput,
                    std::chrono::seconds(waitSeconds));
    RunSession(session);
  } catch (const Failure& failure) {
    std::cout << "client: FAILED: " << failure.what() << std::endl;
    return 1;
  }
  std::cout << "\nclient: every step got the reply it expects" << std::endl;
  return 0;
}
