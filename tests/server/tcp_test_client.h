#pragma once
// A plain TCP client on 127.0.0.1 for tests of the socket server, and the event-loop
// pumping that lets the server (on this same thread) run while the test waits.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <cerrno>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "server/frame_cutter.h"

namespace ecr::testing_support {

// Generous: the machine is shared by several builds at once.
inline constexpr std::chrono::milliseconds kWaitLimit{20000};

inline QCoreApplication& EnsureApplication() {
  static int argc = 1;
  static char name[] = "server_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app =
      QCoreApplication::instance() != nullptr ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
  return *app;
}

// Runs the event loop until done() holds or the limit passes; returns done().
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit) {
  EnsureApplication();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::sendPostedEvents(nullptr, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Runs the event loop for a while (to show that something does not happen).
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

// Lifts the descriptor limit to its hard maximum (500 connections need two ends each).
inline void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

class TcpClient {
 public:
  // receiveBuffer > 0 shrinks the socket's receive buffer before connecting.
  explicit TcpClient(std::uint16_t port, int receiveBuffer = 0) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) throw std::runtime_error("socket failed");
    if (receiveBuffer > 0) setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The kernel completes the handshake before the server accepts.
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      ::close(socket_);
      throw std::runtime_error("connect failed: " + std::to_string(errno));
    }
    const int on = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fcntl(socket_, F_SETFL, fcntl(socket_, F_GETFL) | O_NONBLOCK);
  }
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  void SendRaw(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      } else {
        throw std::runtime_error("send failed: " + std::to_string(errno));
      }
    }
  }
  void SendMessage(std::string_view message) { SendRaw(MakeClientFrame(message)); }

  // The next whole message from the server, pumping the event loop meanwhile.
  std::optional<std::string> ReadMessage(std::chrono::milliseconds limit = kWaitLimit) {
    PumpUntil([this] { return ReceiveSome() || !messages_.empty(); }, limit);
    if (messages_.empty()) return std::nullopt;
    std::string message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }
  // True when nothing arrives within span.
  bool NothingArrives(std::chrono::milliseconds span) {
    PumpUntil([this] { return ReceiveSome() || !messages_.empty(); }, span);
    return messages_.empty();
  }
  // Reads (and drops) until the server ends the connection.
  bool WaitClosed(std::chrono::milliseconds limit = kWaitLimit) {
    return PumpUntil([this] { return ReceiveSome(); }, limit);
  }

  // Ends the connection with a reset instead of the orderly close.
  void Abort() {
    linger hard{1, 0};
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Close();
  }
  void Close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
  }

 private:
  // Takes what has arrived; true once the peer has closed.
  bool ReceiveSome() {
    char buffer[8192];
    for (;;) {
      const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
      if (n > 0) {
        for (std::string& message : cutter_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)))) {
          messages_.push_back(std::move(message));
        }
        continue;
      }
      if (n == 0) return true;
      if (errno == EINTR) continue;
      return errno != EAGAIN && errno != EWOULDBLOCK;
    }
  }

  int socket_ = -1;
  ClientFrameCutter cutter_;
  std::deque<std::string> messages_;
};

}  // namespace ecr::testing_support
