#include "tests/support/demo_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <thread>
#include <utility>

#include "tests/support/demo_message_text.h"

namespace ecr::support {

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this a wait no longer fits poll's millisecond timeout safely.
constexpr long kLongestWaitSeconds = 600;

}  // namespace

std::optional<DemoClientSettings> ParseDemoClientSettings(int argc, char** argv, std::string_view inputOption,
                                                          int maxLogNo) {
  long port = 0;
  long logNo = 0;
  long waitSeconds = 20;
  std::string emulatorInput;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--port") {
      port = std::strtol(value, nullptr, 10);
    } else if (option == "--register") {
      logNo = std::strtol(value, nullptr, 10);
    } else if (option == inputOption) {
      emulatorInput = value;
    } else if (option == "--wait-seconds") {
      waitSeconds = std::strtol(value, nullptr, 10);
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || port < 1 || port > 65535 || logNo < 1 || logNo > maxLogNo || emulatorInput.empty() ||
      waitSeconds < 1 || waitSeconds > kLongestWaitSeconds) {
    return std::nullopt;
  }
  return DemoClientSettings{static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(logNo),
                            std::move(emulatorInput), std::chrono::seconds(waitSeconds)};
}

DemoSession::DemoSession(const DemoClientSettings& settings, EmulatorWords words, Meaning meaning)
    : settings_(settings), words_(std::move(words)), meaning_(std::move(meaning)) {
  const auto deadline = Clock::now() + settings_.wait;
  while (true) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(settings_.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (Clock::now() >= deadline) {
      throw DemoFailure("no server answers on 127.0.0.1:" + std::to_string(settings_.port));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::cout << "client: connected to 127.0.0.1:" << settings_.port << std::endl;
}

DemoSession::~DemoSession() {
  if (fd_ >= 0) ::close(fd_);
}

void DemoSession::Send(std::uint8_t setNo, std::uint8_t command, std::string_view payload, std::string_view meaning) {
  const std::string message = BuildClientMessage(setNo, command, settings_.logNo, 0, {}, payload);
  std::string frame(1, static_cast<char>(message.size()));
  frame += message;
  std::cout << "client -> server: " << DescribeAddress(ParseClientRequest(message)) << " (" << meaning << ")"
            << QuotedField("payload", payload) << std::endl;
  if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) {
    throw DemoFailure("the connection to the server broke while sending");
  }
}

ClientMessage DemoSession::AwaitMessage(const std::function<bool(const ClientMessage&)>& wanted,
                                        const std::string& what) {
  const auto deadline = Clock::now() + settings_.wait;
  while (std::optional<ClientMessage> message = NextMessage(deadline)) {
    Print(*message);
    if (wanted(*message)) return *message;
  }
  throw DemoFailure("no " + what + " within " + std::to_string(settings_.wait.count()) + " s");
}

void DemoSession::HandToEmulator(std::string_view block) {
  const int fd = ::open(settings_.emulatorInput.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw DemoFailure("cannot reach the " + words_.emulator + " through " + settings_.emulatorInput);
  const std::string line = std::to_string(settings_.logNo) + " " + std::string(block) + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  if (!written) throw DemoFailure("cannot hand the " + words_.emulator + " " + words_.handed);
}

std::optional<ClientMessage> DemoSession::NextMessage(Clock::time_point deadline) {
  while (true) {
    if (!buffer_.empty() && buffer_.size() >= 1u + static_cast<unsigned char>(buffer_[0])) {
      const std::size_t length = static_cast<unsigned char>(buffer_[0]);
      const std::string message = buffer_.substr(1, length);
      buffer_.erase(0, 1 + length);
      return ParseClientMessage(message);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) throw DemoFailure("the server closed the connection");
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void DemoSession::Print(const ClientMessage& message) const {
  std::cout << "server -> client: " << DescribeAddress(message) << ", " << meaning_(message)
            << QuotedField("payload", message.Payload) << std::endl;
}

int RunDemoSession(const DemoClientSettings& settings, EmulatorWords words, DemoSession::Meaning meaning,
                   const std::function<void(DemoSession&)>& steps) {
  try {
    DemoSession session(settings, std::move(words), std::move(meaning));
    steps(session);
  } catch (const DemoFailure& failure) {
    std::cout << "client: FAILED: " << failure.what() << std::endl;
    return 1;
  }
  std::cout << "\nclient: every step got the reply it expects" << std::endl;
  return 0;
}

}  // namespace ecr::support
