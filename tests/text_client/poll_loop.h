#pragma once

// A small event loop for tests: poll() over the sockets a TSockClient watches, plus the one
// timer of the selling loop, all on the test's thread. Waits are bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "text_client/selling_loop_host.h"
#include "text_client/sock_client.h"

namespace ecr::testing_support {

class PollLoop : public SocketWatch {
public:
    using Clock = std::chrono::steady_clock;

    void Attach(TSockClient& client) { client_ = &client; }

    void WatchSocket(int fd, bool forRead, bool forWrite) override {
        watched_[fd] = {forRead, forWrite};
    }
    void UnwatchSocket(int fd) override { watched_.erase(fd); }

    void StartTimer(LoopTimer timer, int milliseconds, std::function<void(LoopTimer)> fire) {
        timer_ = timer;
        interval_ = std::chrono::milliseconds(milliseconds);
        due_ = Clock::now() + interval_;
        fire_ = std::move(fire);
    }
    void StopTimer() { timer_.reset(); }
    std::optional<LoopTimer> Timer() const { return timer_; }

    // Runs events until `done` holds or `timeoutMs` pass; true when `done` held.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (Clock::now() >= end) return false;
            RunOnce(10);
        }
        return true;
    }
    void RunFor(int milliseconds) {
        const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
        RunUntil([&] { return Clock::now() >= end; }, milliseconds + 1000);
    }

private:
    void RunOnce(int sliceMs) {
        if (timer_ && Clock::now() >= due_) {
            due_ += interval_;
            LoopTimer fired = *timer_;
            fire_(fired);
            return;
        }
        if (watched_.empty() || !client_) {
            ::poll(nullptr, 0, sliceMs);
            return;
        }
        auto [fd, interest] = *watched_.begin();
        pollfd entry{fd, static_cast<short>((interest.first ? POLLIN : 0) |
                                            (interest.second ? POLLOUT : 0)),
                     0};
        if (::poll(&entry, 1, sliceMs) <= 0) return;
        if (entry.revents & (POLLOUT | POLLERR | POLLHUP)) {
            if (interest.second) {
                client_->HandleWritable();
                return;
            }
        }
        if (entry.revents & (POLLIN | POLLERR | POLLHUP)) client_->HandleReadable();
    }

    TSockClient* client_ = nullptr;
    std::map<int, std::pair<bool, bool>> watched_;
    std::optional<LoopTimer> timer_;
    std::chrono::milliseconds interval_{0};
    Clock::time_point due_;
    std::function<void(LoopTimer)> fire_;
};

// A socket listening on a free port of 127.0.0.1 (`flags` go to socket(2) with the type);
// its port in `port`. Throws when it cannot listen.
inline int ListenOnLoopback(int flags, std::uint16_t& port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        ::close(listener);
        throw std::runtime_error("cannot listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

// A listening socket on 127.0.0.1 that accepts one client and speaks raw bytes.
class FakeServer {
public:
    FakeServer() : listener_(ListenOnLoopback(0, port_)) {}
    ~FakeServer() {
        DropClient();
        ::close(listener_);
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    std::uint16_t Port() const { return port_; }

    bool Accept(int timeoutMs = 5000) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) != 1) return false;
        DropClient();
        client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    bool HasClient() const { return client_ >= 0; }
    void DropClient() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
    }
    // Closes the connection with a reset, as a server that dies does: the client's next
    // read fails.
    void ResetClient() {
        if (client_ < 0) return;
        const linger abort{1, 0};
        ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        DropClient();
    }

    void SendRaw(const std::string& bytes) {
        if (::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("send failed");
        }
    }
    void SendMessage(const std::string& message) {
        SendRaw(std::string(1, static_cast<char>(message.size())) + message);
    }

    // The next whole message from the client, or nullopt after `timeoutMs`.
    std::optional<std::string> ReadMessage(int timeoutMs = 5000) {
        auto length = ReadBytes(1, timeoutMs);
        if (!length) return std::nullopt;
        return ReadBytes(static_cast<std::uint8_t>((*length)[0]), timeoutMs);
    }

    // True when the client closes its end within `timeoutMs` (whatever it sent before is
    // read and dropped).
    bool ClientClosed(int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd entry{client_, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) != 1) return false;
            char buffer[256];
            const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
            if (n <= 0) return true;
        }
    }

    // True when nothing arrives within `ms`.
    bool Silent(int ms) {
        pollfd entry{client_, POLLIN, 0};
        return ::poll(&entry, 1, ms) == 0;
    }

private:
    std::optional<std::string> ReadBytes(std::size_t count, int timeoutMs) {
        std::string bytes;
        while (bytes.size() < count) {
            pollfd entry{client_, POLLIN, 0};
            if (::poll(&entry, 1, timeoutMs) != 1) return std::nullopt;
            char buffer[256];
            ssize_t n = ::recv(client_, buffer, count - bytes.size(), 0);
            if (n <= 0) return std::nullopt;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    std::uint16_t port_ = 0;  // before the listener, which sets it
    int listener_ = -1;
    int client_ = -1;
};

}  // namespace ecr::testing_support
