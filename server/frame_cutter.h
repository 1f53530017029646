#pragma once
// Cuts one connection's byte stream into client frames: a length byte N, then N bytes of
// message. A frame may arrive in any number of pieces; a length byte 0 is an empty frame,
// skipped unless the cutter is made to report it as an empty message. One cutter per
// connection; not thread-safe (the socket servers use it on the main thread only).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

class ClientFrameCutter {
 public:
  enum class EmptyFrames { Skip, Report };

  ClientFrameCutter() = default;
  explicit ClientFrameCutter(EmptyFrames emptyFrames) : emptyFrames_(emptyFrames) {}

  // Takes the next bytes of the stream and returns the messages they complete, in order.
  std::vector<std::string> Feed(std::string_view bytes);
  // Back to waiting for a length byte; a partial frame is dropped.
  void Reset();
  // True between frames (no partial frame held).
  bool AtFrameStart() const { return remaining_ == 0; }
  // Bytes still missing from the partial frame held; 0 between frames.
  std::size_t MissingBytes() const { return remaining_; }

 private:
  EmptyFrames emptyFrames_ = EmptyFrames::Skip;
  std::array<char, 255> buffer_{};
  std::uint8_t remaining_ = 0;  // bytes still missing from the frame; 0 = expect a length byte
  std::uint8_t received_ = 0;   // bytes of the frame already held
};

// One message as it goes on the stream: its length byte, then the message cut to 255 bytes.
std::string MakeClientFrame(std::string_view message);

}  // namespace ecr
