#pragma once

// The five-byte message header as the network-controller server packs and unpacks it.
// That server never writes a Block (BlockLen is always 0 in its replies) and reads
// everything after a request's header, Block bytes included, as the request's body.
//
// Pure functions without state: any thread may call them.

#include <cstdint>
#include <string>
#include <string_view>

namespace ecr::nc {

// SetNo, Command, BlockLen, LogNo, ErrorCode in this order, then Payload; cut to 255 bytes.
std::string PackReplyHeader(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t BlockLen,
                            std::uint8_t LogNo, std::uint8_t ErrorCode, std::string_view Payload);

struct RequestHeader {
    std::uint8_t SetNo = 0;
    std::uint8_t Command = 0;
    std::uint8_t BlockLen = 0;
    std::uint8_t LogNo = 0;
    std::uint8_t Fifth = 0;  // the ErrorCode position; requests carry 0 there
    std::string Body;        // everything after the five header bytes, cut to 255
};

// The first five bytes as the header (0 for each byte a shorter message lacks), the rest as
// Body.
RequestHeader UnpackRequestHeader(std::string_view Message);

}  // namespace ecr::nc
