#include "netcontroller/nc_message_header.h"

namespace ecr::nc {
namespace {
constexpr std::size_t kMaxShortString = 255;
constexpr std::size_t kHeaderLength = 5;
}  // namespace

std::string PackReplyHeader(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t BlockLen,
                            std::uint8_t LogNo, std::uint8_t ErrorCode,
                            std::string_view Payload) {
    std::string message;
    message.reserve(kMaxShortString);
    for (std::uint8_t byte : {SetNo, Command, BlockLen, LogNo, ErrorCode}) {
        message.push_back(static_cast<char>(byte));
    }
    message.append(Payload.substr(0, kMaxShortString - kHeaderLength));
    return message;
}

RequestHeader UnpackRequestHeader(std::string_view Message) {
    Message = Message.substr(0, kMaxShortString);
    auto byteAt = [&](std::size_t i) -> std::uint8_t {
        return i < Message.size() ? static_cast<std::uint8_t>(Message[i]) : 0;
    };
    RequestHeader header;
    header.SetNo = byteAt(0);
    header.Command = byteAt(1);
    header.BlockLen = byteAt(2);
    header.LogNo = byteAt(3);
    header.Fifth = byteAt(4);
    if (Message.size() > kHeaderLength) header.Body = std::string(Message.substr(kHeaderLength));
    return header;
}

}  // namespace ecr::nc
