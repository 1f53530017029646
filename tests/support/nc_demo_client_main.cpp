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
//   --wait-seconds S         how long to wait for each expected reply (default 20)
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

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRegistersBehindController = 16;
constexpr std::uint8_t kSaleSet = 13;
constexpr std::uint8_t kCopSell = 4;
constexpr std::uint8_t kQuestionCommand = 129;

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

std::string Describe(const ecr::ClientMessage& m) {
  return "SET " + std::to_string(m.SetNo) + ", command " + std::to_string(m.Command) + ", register " +
         std::to_string(m.LogNo);
}

// The error byte of a reply; a state request carries the SET's state in it instead.
std::string DescribeErrorByte(const ecr::ClientMessage& m) {
  if (m.Command == ecr::cmdState && m.SetNo % 2 == 1) {
    return "state " + std::to_string(m.ErrorCode) +
           (m.ErrorCode == ecr::kStateQueued ? " (a request is queued)"
            : m.ErrorCode == ecr::kStateNone ? " (nothing queued)"
                                              : "");
  }
  return "error " + std::to_string(m.ErrorCode) + " (" + ecr::ReplyErrorText(m.ErrorCode) + ")";
}

class Session {
 public:
  Session(std::uint16_t port, int logNo, std::string controllerInput, std::chrono::seconds wait)
      : logNo_(static_cast<std::uint8_t>(logNo)), controllerInput_(std::move(controllerInput)), wait_(wait) {
    const auto deadline = Clock::now() + wait_;
    while (true) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
      if (fd_ >= 0) ::close(fd_);
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
    while (std::optional<ecr::ClientMessage> message = NextMessage(deadline)) {
      Print(*message);
      if (wanted(*message)) return *message;
    }
    throw Failure("no " + what + " within " + std::to_string(wait_.count()) + " s");
  }

  // Waits for the message on setNo with command, and checks its error byte.
  ecr::ClientMessage AwaitReply(std::uint8_t setNo, std::uint8_t command, std::uint8_t errorCode = ecr::erNoError) {
    const ecr::ClientMessage reply = AwaitMessage(
        [&](const ecr::ClientMessage& m) { return m.SetNo == setNo && m.Command == command && m.LogNo == logNo_; },
        "message on SET " + std::to_string(setNo) + " with command " + std::to_string(command));
    if (reply.ErrorCode != errorCode) {
      throw Failure("SET " + std::to_string(setNo) + " command " + std::to_string(command) + " came with " +
                    DescribeErrorByte(reply) + " where " + std::to_string(errorCode) + " was expected");
    }
    return reply;
  }

  // Makes the emulated register send a block to the server through the controller.
  void RegisterSends(std::string_view block, std::string_view meaning) {
    const int fd = ::open(controllerInput_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw Failure("cannot reach the controller emulator through " + controllerInput_);
    const std::string line = std::to_string(logNo_) + " " + std::string(block) + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!written) throw Failure("cannot hand the controller emulator the register's block");
    std::cout << "register " << static_cast<int>(logNo_) << " sends " << meaning << ": \"" << Printable(block)
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
    std::string text = "server -> client: " + Describe(m) + ", " + DescribeErrorByte(m);
    if (m.Command >= ecr::EcrNotification) text += ", a notification of the register's block";
    if (!m.Block.empty()) text += ", block \"" + Printable(m.Block) + "\"";
    if (!m.Payload.empty()) text += ", payload \"" + Printable(m.Payload) + "\"";
    std::cout << text << std::endl;
  }

  const std::uint8_t logNo_;
  const std::string controllerInput_;
  const std::chrono::seconds wait_;
  int fd_ = -1;
  std::string buffer_;
};

void Expect(bool holds, const std::string& what) {
  if (!holds) throw Failure(what);
}

void RunSession(Session& session) {
  std::cout << "\n== Opening SETs (empty passwords): the register joins the controller's mask" << std::endl;
  session.Send(1, ecr::cmdOpen, "", "open SET 1, the register's messages and questions");
  session.AwaitReply(1, ecr::cmdOpen);
  session.Send(kSaleSet, ecr::cmdOpen, "", "open SET 13, sales");
  session.AwaitReply(kSaleSet, ecr::cmdOpen);

  std::cout << "\n== A plain notification: a type 0 block reaches SET 1 with its sequence number and id"
            << std::endl;
  session.RegisterSends("123456;1;0;HELLO;", "a message (serial number, exchange 1, type 0, text)");
  const ecr::ClientMessage note = session.AwaitReply(1, ecr::EcrNotification);
  Expect(note.Payload.rfind("123456;1;HELLO;", 0) == 0, "the notification does not carry the register's block");

  std::cout << "\n== A question: a type 1 block is offered to SET 1, and the client's answer goes to the register"
            << std::endl;
  session.RegisterSends("123456;2;1;42;ITEM;1;", "a question (exchange 2, type 1, item 42, quantity 1)");
  session.AwaitReply(1, kQuestionCommand);
  session.Send(1, ecr::cmdAnswer, "42;BREAD;1.20;", "the answer: item 42 is BREAD at 1.20");
  const ecr::ClientMessage answered = session.AwaitReply(1, ecr::cmdAnswer);
  Expect(answered.Payload.rfind("42;BREAD;1.20;1.000;", 0) == 0,
         "the reply does not carry the answer the register received");

  std::cout << "\n== A sale: a line queued on SET 13 is fetched by the register's type 5 block" << std::endl;
  session.Send(kSaleSet, kCopSell, "1;X;1.5;2;1;1;1;",
               "COP 4: sell item 1 \"X\", price 1.5, quantity 2, department 1, group 1, tax group 1");
  session.Send(kSaleSet, ecr::cmdState, "", "is the sale queued?");
  session.AwaitReply(kSaleSet, ecr::cmdState, ecr::kStateQueued);
  session.RegisterSends("123456;3;5;", "its sale block (exchange 3, type 5)");
  const ecr::ClientMessage sold = session.AwaitReply(kSaleSet, kCopSell);
  Expect(sold.Payload.rfind("1;X;1.50;2.000;1;1;1;123456;3;", 0) == 0,
         "the sale's reply does not carry the line, the serial number and the exchange number");

  std::cout << "\n== Closing the SETs: the register leaves the mask, the controller is stopped" << std::endl;
  for (const std::uint8_t setNo : {kSaleSet, std::uint8_t{1}}) {
    session.Send(setNo, ecr::cmdClose, "", "close SET " + std::to_string(setNo));
    session.AwaitReply(setNo, ecr::cmdClose);
  }
}

int Usage() {
  std::cerr << "usage: nc_demo_client --port P --register N --controller-input PATH [--wait-seconds S]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0;
  long logNo = 0;
  long waitSeconds = 20;
  std::string controllerInput;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--port") {
      port = std::strtol(value, nullptr, 10);
    } else if (option == "--register") {
      logNo = std::strtol(value, nullptr, 10);
    } else if (option == "--controller-input") {
      controllerInput = value;
    } else if (option == "--wait-seconds") {
      waitSeconds = std::strtol(value, nullptr, 10);
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || port < 1 || port > 65535 || logNo < 1 || logNo > kRegistersBehindController ||
      controllerInput.empty() || waitSeconds < 1 || waitSeconds > 600) {
    return Usage();
  }
  try {
    Session session(static_cast<std::uint16_t>(port), static_cast<int>(logNo), controllerInput,
                    std::chrono::seconds(waitSeconds));
    RunSession(session);
  } catch (const Failure& failure) {
    std::cout << "client: FAILED: " << failure.what() << std::endl;
    return 1;
  }
  std::cout << "\nclient: every step got the reply it expects" << std::endl;
  return 0;
}
