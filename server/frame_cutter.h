#pragma once
// Cuts one connection's byte stream into client frames: a length byte N, then N bytes of
// message. A frame may arrive in any number of pieces; a length byte 0 is an empty frame
// and is skipped. One cutter per connection; not thread-safe (the socket server uses it on
// the main thread only).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

class ClientFrameCutter {
 public:
  // Takes the next bytes of the stream and returns the messages they complete, in order.
  std::vector<std::string> Feed(std::string_view bytes);
  // Back to waiting for a length byte; a partial frame is dropped.
  void Reset();
  // True between frames (no partial frame held).
  bool AtFrameStart() const { return remaining_ == 0; }

 private:
  std::array<char, 255> buffer_{};
  std::uint8_t remaining_ = 0;  // bytes still missing from the frame; 0 = expect a length byte
  std::uint8_t received_ = 0;   // bytes of the frame already held
};

// One message as it goes on the stream: its length byte, then the message cut to 255 bytes.
std::string MakeClientFrame(std::string_view message);

}  // namespace ecr
