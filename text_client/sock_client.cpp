#include "text_client/sock_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ecr {
namespace {

constexpr char kClassName[] = "TSockClient";
constexpr std::size_t kMaxMessage = 255;

// Errors that the original system delivered as a connect event rather than at the call.
bool IsLateConnectError(int error) {
    return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH ||
           error == EHOSTUNREACH;
}

}  // namespace

TSockClient::TSockClient(SocketWatch& watch) : watch_(watch) {}

TSockClient::~TSockClient() {
    CloseSocket();
}

void TSockClient::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled) {
        CloseSocket();
        connected_ = false;
    }
}

void TSockClient::CloseSocket() {
    if (socket_ < 0) return;
    watch_.UnwatchSocket(socket_);
    ::close(socket_);
    socket_ = -1;
    deferredConnectError_ = 0;
    pending_ = 0;
    received_ = 0;
}

void TSockClient::SetConnected(bool connected) {
    if (!connected) {
        if (!connected_ || socket_ < 0) return;
        connected_ = false;
        watch_.UnwatchSocket(socket_);
        int result = ::close(socket_);
        int error = errno;
        socket_ = -1;
        pending_ = 0;
        received_ = 0;
        if (result != 0) throw ESockException("Sock disconnect error: " + SocketErrorText(error));
        return;
    }
    if (!enabled_) throw ESockException("SockClient not enabled !");
    if (connected_) throw ESockException("SockClient already connected !");
    CloseSocket();  // an attempt still pending

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw ESockException("Socket error: " + SocketErrorText(errno));
    auto fail = [fd](const char* head, int error) {
        ::close(fd);
        throw ESockException(std::string(head) + SocketErrorText(error));
    };
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        fail("SetSockOpt NODELAY error: ", errno);
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
        fail("SetSockOpt KEEPALIVE error: ", errno);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(RemotePort);
    if (::inet_pton(AF_INET, RemoteHost.c_str(), &address.sin_addr) != 1) {
        fail("Sock connect error: ", EADDRNOTAVAIL);
    }
    int deferred = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        if (IsLateConnectError(error)) {
            deferred = error;
        } else if (error != EINPROGRESS && error != EAGAIN) {
            fail("Sock connect error: ", error);
        }
    }
    socket_ = fd;
    deferredConnectError_ = deferred;
    pending_ = 0;
    received_ = 0;
    // Connect completion (or its failure) shows as writability.
    watch_.WatchSocket(socket_, false, true);
}

void TSockClient::AbandonConnect() {
    if (!connected_) CloseSocket();
}

void TSockClient::SendData(std::string_view message) {
    if (socket_ < 0) {
        throw ESockException(std::string(kClassName) + " - SendData: Socket is NOT assigned !");
    }
    message = message.substr(0, kMaxMessage);
    std::string frame;
    frame.reserve(message.size() + 1);
    frame.push_back(static_cast<char>(message.size()));
    frame.append(message);
    ssize_t sent;
    do {
        sent = ::send(socket_, frame.data(), frame.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        throw ESockException(std::string(kClassName) + " SendData error: " + SocketErrorText(errno));
    }
    if (static_cast<std::size_t>(sent) < frame.size()) {
        throw ESockException(std::string(kClassName) + " - Not all bytes sended");
    }
}

template <typename Body>
void TSockClient::Guarded(Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        if (OnException) OnException(error);
    }
}

void TSockClient::HandleWritable() {
    Guarded([this] {
        if (socket_ < 0) return;
        if (connected_) {
            watch_.WatchSocket(socket_, true, false);
            if (OnReadyToSend) OnReadyToSend();
            return;
        }
        int error = deferredConnectError_;
        if (error == 0) {
            socklen_t length = sizeof error;
            if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        }
        if (error != 0) {
            CloseSocket();  // a failed attempt leaves no socket behind
            if (OnError) OnError(error);
            return;
        }
        connected_ = true;
        watch_.WatchSocket(socket_, true, false);
        if (OnConnect) OnConnect();
        if (connected_ && OnReadyToSend) OnReadyToSend();
    });
}

void TSockClient::HandleReadable() {
    Guarded([this] { ReadLoop(); });
}

void TSockClient::ReadLoop() {
    for (;;) {
        if (!connected_ || socket_ < 0) return;
        char* into = pending_ == 0 ? buffer_.data() + 255 : buffer_.data() + received_;
        std::size_t want = pending_ == 0 ? 1 : pending_;
        ssize_t n = ::recv(socket_, into, want, 0);
        if (n < 0) {
            int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN || error == EWOULDBLOCK) return;
            if (OnError) OnError(error);
            return;
        }
        if (n == 0) {
            // The peer has closed: the close event.
            struct AfterClose {
                TSockClient& client;
                int closedSocket;
                ~AfterClose() {
                    if (client.socket_ != closedSocket) return;  // the handler dealt with it
                    client.connected_ = false;
                    client.CloseSocket();
                }
            } afterClose{*this, socket_};
            if (OnDisconnect) OnDisconnect();
            return;
        }
        if (pending_ == 0) {
            pending_ = static_cast<std::uint8_t>(buffer_[255]);  // 0 starts no frame
            received_ = 0;
            continue;
        }
        received_ = static_cast<std::uint8_t>(received_ + n);
        pending_ = static_cast<std::uint8_t>(pending_ - n);
        if (pending_ == 0) {
            std::string frame(buffer_.data(), received_);
            received_ = 0;
            if (OnDataIn) OnDataIn(frame);
        }
    }
}

}  // namespace ecr
