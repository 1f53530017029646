#pragma once
// Cuts one data block out of the bytes of the register link: LF, data, CR, CRC high, CRC
// low. Bytes before the LF (fill, keep-alive, a stray acknowledgement) are ignored; a second
// LF before the CR starts the block and its CRC again. The CRC register runs over data, CR
// and both CRC bytes; the block is good exactly when it ends at 0.
//
// Used by the PC's line and by the register emulator alike. Plain value type; one thread.

#include <cstdint>
#include <string>

namespace ecr {

class BlockReceiver {
 public:
  enum class Event {
    Ignored,    // a byte before the LF: not part of any block
    Started,    // the LF that opens a block
    Restarted,  // a further LF inside the block: the block begins again
    Byte,       // a data byte, the CR or the CRC high byte
    Complete,   // the CRC low byte: Good() and Text() tell the block; the receiver waits for an LF again
  };

  Event Feed(std::uint8_t byte);
  // Forgets a block under way and waits for an LF.
  void Reset();

  // Inside a block (an LF seen, the CRC low byte not yet).
  bool InBlock() const { return state_ != State::WaitLf; }
  // After Complete: whether the CRC register ended at 0.
  bool Good() const { return crc_ == 0; }
  // The data of the block (cut to 255 bytes; the CRC still covers every byte received).
  const std::string& Text() const { return text_; }

 private:
  enum class State { WaitLf, Data, CrcHigh, CrcLow };
  State state_ = State::WaitLf;
  std::uint16_t crc_ = 0;
  std::string text_;
};

}  // namespace ecr
