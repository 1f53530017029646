#include "tests/support/pc_frame_parser.h"

#include <cstdio>

#include "line/link_frames.h"

namespace ecr {

namespace {

std::string Printable(const std::string& data) {
  std::string out;
  for (const char c : data) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

PcFrame Stray(std::uint8_t byte) { return PcFrame{PcFrame::Kind::Stray, 0, std::string(1, static_cast<char>(byte))}; }

}  // namespace

std::string PcFrame::Describe() const {
  switch (kind) {
    case Kind::Take: {
      char text[16];
      std::snprintf(text, sizeof text, "TAKE %02d", ecr);
      return text;
    }
    case Kind::Free: return "FREE";
    case Kind::Ack: return "ACK";
    case Kind::Nak: return "NAK";
    case Kind::KeepAlive: return "NOISE";
    case Kind::Block: return "BLOCK " + Printable(data);
    case Kind::BadBlock: return "BAD BLOCK " + Printable(data);
    case Kind::Stray: {
      char text[16];
      std::snprintf(text, sizeof text, "STRAY %02X", data.empty() ? 0u : static_cast<unsigned char>(data[0]));
      return text;
    }
  }
  return {};
}

std::optional<PcFrame> PcFrameParser::FeedIdle(std::uint8_t byte) {
  switch (static_cast<char>(byte)) {
    case kLinkFill: return std::nullopt;
    case kLinkDc1: state_ = State::Dc1; return std::nullopt;
    case kLinkDc3: state_ = State::Dc3; return std::nullopt;
    case kLinkKeepAlive: state_ = State::KeepAlive; return std::nullopt;
    case kLinkAck: return PcFrame{PcFrame::Kind::Ack, 0, {}};
    case kLinkNak: return PcFrame{PcFrame::Kind::Nak, 0, {}};
    case kLinkLf:
      block_.Reset();
      block_.Feed(byte);
      state_ = State::Block;
      return std::nullopt;
    default: return Stray(byte);
  }
}

void PcFrameParser::Feed(std::uint8_t byte, std::vector<PcFrame>& out) {
  std::optional<PcFrame> broken;
  std::optional<PcFrame> frame = FeedFrame(byte, broken);
  if (broken) out.push_back(std::move(*broken));
  if (frame) out.push_back(std::move(*frame));
}

std::optional<PcFrame> PcFrameParser::FeedFrame(std::uint8_t byte, std::optional<PcFrame>& broken) {
  // A frame broken off by `byte`: its first byte is reported stray, `byte` starts afresh.
  const auto restart = [&](char first) {
    broken = Stray(static_cast<std::uint8_t>(first));
    state_ = State::Idle;
    return FeedIdle(byte);
  };
  switch (state_) {
    case State::Idle: return FeedIdle(byte);
    case State::Dc1:
      if (byte == static_cast<std::uint8_t>(kLinkDc1)) {
        state_ = State::Dc1Dc1;
        return std::nullopt;
      }
      return restart(kLinkDc1);
    case State::Dc1Dc1:
      if (byte >= '0' && byte <= '9') {
        tens_ = byte - '0';
        state_ = State::TakeTens;
        return std::nullopt;
      }
      return restart(kLinkDc1);
    case State::TakeTens:
      if (byte >= '0' && byte <= '9') {
        state_ = State::Idle;
        return PcFrame{PcFrame::Kind::Take, tens_ * 10 + (byte - '0'), {}};
      }
      return restart(kLinkDc1);
    case State::Dc3:
    case State::Dc3Dc3:
      if (byte == static_cast<std::uint8_t>(kLinkDc3)) {
        if (state_ == State::Dc3) {
          state_ = State::Dc3Dc3;
          return std::nullopt;
        }
        state_ = State::Idle;
        return PcFrame{PcFrame::Kind::Free, 0, {}};
      }
      return restart(kLinkDc3);
    case State::KeepAlive:
      if (byte == static_cast<std::uint8_t>(kLinkKeepAlive)) {
        state_ = State::Idle;
        return PcFrame{PcFrame::Kind::KeepAlive, 0, {}};
      }
      return restart(kLinkKeepAlive);
    case State::Block:
      if (block_.Feed(byte) == BlockReceiver::Event::Complete) {
        state_ = State::Idle;
        return PcFrame{block_.Good() ? PcFrame::Kind::Block : PcFrame::Kind::BadBlock, 0, block_.Text()};
      }
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace ecr
