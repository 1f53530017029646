#pragma once
// Reads the PC's side of the register link as frames: take, free, ACK, NAK, keep-alive and
// data blocks (with their CRC checked). Fill bytes between frames are skipped; any other
// byte outside a frame is reported as stray. The register emulator uses it both to play its
// registers and to keep a readable record of what the PC sent.
//
// Plain value type; one thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line/block_receiver.h"

namespace ecr {

struct PcFrame {
  enum class Kind { Take, Free, Ack, Nak, KeepAlive, Block, BadBlock, Stray };
  Kind kind = Kind::Stray;
  int ecr = 0;       // Take: the logical number
  std::string data;  // Block, BadBlock: the data; Stray: the byte

  // "TAKE 07", "FREE", "ACK", "NAK", "NOISE", "BLOCK <data>", "BAD BLOCK <data>", "STRAY 3F"
  // (bytes outside printable ASCII in data are written as \xHH).
  std::string Describe() const;
};

class PcFrameParser {
 public:
  // Appends to `out` the frames that this byte completes (two when it breaks a frame begun
  // before it and is a frame of its own).
  void Feed(std::uint8_t byte, std::vector<PcFrame>& out);

 private:
  enum class State { Idle, Dc1, Dc1Dc1, TakeTens, Dc3, Dc3Dc3, KeepAlive, Block };
  std::optional<PcFrame> FeedIdle(std::uint8_t byte);
  std::optional<PcFrame> FeedFrame(std::uint8_t byte, std::optional<PcFrame>& broken);

  State state_ = State::Idle;
  int tens_ = 0;
  BlockReceiver block_;
};

}  // namespace ecr
