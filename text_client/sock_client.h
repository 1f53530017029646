#pragma once

// The selling client's connection to the register server: one non-blocking TCP socket,
// its events raised on the event loop's thread, the incoming stream cut into client frames
// (a length byte N, then N bytes of one message), and frames sent whole.
//
// Set-up and send failures throw ESockException with fixed texts; failures of a running
// connection come as OnError (an errno value) and OnDisconnect. The component never retries.
//
// Threads: every member, and every event, runs on the thread of the event loop that
// drives the SocketWatch (the main thread). An event handler may run a nested event loop:
// the frame state is reset before OnDataIn, so the next frame can be read meanwhile.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "server/sock_exception.h"
#include "text_client/socket_watch.h"

namespace ecr {

class TSockClient {
public:
    explicit TSockClient(SocketWatch& watch);
    ~TSockClient();
    TSockClient(const TSockClient&) = delete;
    TSockClient& operator=(const TSockClient&) = delete;

    std::string RemoteHost;  // a dotted IPv4 address; names are not looked up
    std::uint16_t RemotePort = 4999;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    // True from the connect event on. SetConnected(true) starts a connection (throws
    // "SockClient not enabled !", "SockClient already connected !", "Socket error: ...",
    // "SetSockOpt NODELAY error: ...", "SetSockOpt KEEPALIVE error: ...",
    // "Sock connect error: ..."); its outcome arrives as OnConnect or OnError. A connection
    // attempt still pending is abandoned by a new one. SetConnected(false) closes a
    // connected socket (throws "Sock disconnect error: ..." when close fails).
    bool Connected() const { return connected_; }
    void SetConnected(bool connected);

    // Drops a connection attempt that has not completed yet (no event follows).
    void AbandonConnect();

    // Sends the length byte and the message (cut to 255 bytes) in one send call.
    void SendData(std::string_view message);

    std::function<void()> OnConnect;
    std::function<void(const std::string& frame)> OnDataIn;  // one message, no length byte
    std::function<void()> OnDisconnect;
    std::function<void(int error)> OnError;
    std::function<void()> OnReadyToSend;
    // An exception thrown while an event was handled (by a handler included) goes here,
    // and the event counts as handled; unbound, it is dropped.
    std::function<void(const std::exception& error)> OnException;

    // The event loop calls these when the watched descriptor is ready.
    void HandleReadable();
    void HandleWritable();

    bool HasSocket() const { return socket_ >= 0; }
    int Descriptor() const { return socket_; }

private:
    void CloseSocket();
    void ReadLoop();
    template <typename Body>
    void Guarded(Body&& body);

    SocketWatch& watch_;
    bool enabled_ = false;
    bool connected_ = false;
    int socket_ = -1;
    int deferredConnectError_ = 0;  // a connect refused at once, reported as an event
    std::array<char, 256> buffer_{};
    std::uint8_t pending_ = 0;   // bytes of the current frame still missing; 0 = length byte next
    std::uint8_t received_ = 0;  // bytes of the current frame in the buffer
};

}  // namespace ecr
