#include "line/block_receiver.h"

#include "line/link_crc.h"
#include "line/link_frames.h"

namespace ecr {

BlockReceiver::Event BlockReceiver::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::WaitLf:
      if (byte != static_cast<std::uint8_t>(kLinkLf)) return Event::Ignored;
      state_ = State::Data;
      text_.clear();
      crc_ = 0;
      return Event::Started;
    case State::Data:
      if (byte == static_cast<std::uint8_t>(kLinkLf)) {
        text_.clear();
        crc_ = 0;
        return Event::Restarted;
      }
      crc_ = LinkCrcStep(crc_, byte);
      if (byte == static_cast<std::uint8_t>(kLinkCr)) {
        state_ = State::CrcHigh;
      } else if (text_.size() < kLinkBlockMax) {
        text_ += static_cast<char>(byte);
      }
      return Event::Byte;
    case State::CrcHigh:
      crc_ = LinkCrcStep(crc_, byte);
      state_ = State::CrcLow;
      return Event::Byte;
    case State::CrcLow:
      crc_ = LinkCrcStep(crc_, byte);
      state_ = State::WaitLf;
      return Event::Complete;
  }
  return Event::Ignored;
}

void BlockReceiver::Reset() {
  state_ = State::WaitLf;
  crc_ = 0;
  text_.clear();
}

}  // namespace ecr
