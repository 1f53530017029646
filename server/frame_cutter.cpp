#include "server/frame_cutter.h"

#include <algorithm>
#include <cstring>

namespace ecr {

std::vector<std::string> ClientFrameCutter::Feed(std::string_view bytes) {
  std::vector<std::string> messages;
  while (!bytes.empty()) {
    if (remaining_ == 0) {
      remaining_ = static_cast<std::uint8_t>(bytes.front());
      received_ = 0;
      bytes.remove_prefix(1);
      if (remaining_ == 0 && emptyFrames_ == EmptyFrames::Report) messages.emplace_back();
      continue;
    }
    const std::size_t take = std::min<std::size_t>(remaining_, bytes.size());
    std::memcpy(buffer_.data() + received_, bytes.data(), take);
    received_ = static_cast<std::uint8_t>(received_ + take);
    remaining_ = static_cast<std::uint8_t>(remaining_ - take);
    bytes.remove_prefix(take);
    if (remaining_ == 0) messages.emplace_back(buffer_.data(), received_);
  }
  return messages;
}

void ClientFrameCutter::Reset() {
  remaining_ = 0;
  received_ = 0;
}

std::string MakeClientFrame(std::string_view message) {
  const std::size_t length = std::min<std::size_t>(message.size(), 255);
  std::string frame;
  frame.reserve(length + 1);
  frame.push_back(static_cast<char>(static_cast<std::uint8_t>(length)));
  frame.append(message.substr(0, length));
  return frame;
}

}  // namespace ecr
