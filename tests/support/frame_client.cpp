#include "tests/support/frame_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/wait_until.h"

namespace ecr {

FrameClient::FrameClient(std::uint16_t port, std::chrono::milliseconds timeout) {
  support::WaitUntil(
      [&] {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) return true;
        ::close(fd_);
        fd_ = -1;
        return false;
      },
      timeout);
}

FrameClient::~FrameClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool FrameClient::Send(const std::string& message) {
  std::string frame(1, static_cast<char>(message.size()));
  frame += message;
  return ::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

std::optional<std::string> FrameClient::Receive(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (!buffer_.empty() && buffer_.size() >= 1u + static_cast<unsigned char>(buffer_[0])) {
      const std::size_t length = static_cast<unsigned char>(buffer_[0]);
      std::string message = buffer_.substr(1, length);
      buffer_.erase(0, 1 + length);
      return message;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd readable{fd_, POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace ecr
