#pragma once
// A client application on one TCP connection to a server on 127.0.0.1, sending and
// receiving whole frames (a length byte, then up to 255 bytes). Calls block, each for a
// bounded time. One thread uses an object.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace ecr {

class FrameClient {
 public:
  // Connects to 127.0.0.1:port, retrying until timeout (the server may still be starting).
  explicit FrameClient(std::uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  ~FrameClient();
  FrameClient(const FrameClient&) = delete;
  FrameClient& operator=(const FrameClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Sends message (at most 255 bytes) as one frame; false when it did not go out whole.
  bool Send(const std::string& message);
  // The next whole message, or nullopt when none arrived within timeout or the server
  // closed the connection.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace ecr
