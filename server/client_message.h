#pragma once
// The message format that client applications and the servers exchange over TCP.
//
// On the stream a message travels as one frame: a length byte N (1..255) followed by the
// N bytes of the message (see server/frame_cutter.h). A message is a five-byte header,
// a binary Block of BlockLen bytes and a text Payload whose fields each end with ";".
//
// Pure functions without state: any thread may call them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ecr {

// The longest message a frame can carry, and the longest short string of the system.
inline constexpr std::size_t kMaxMessageLength = 255;
inline constexpr std::size_t kMessageHeaderLength = 5;

// Error codes carried in ErrorCode of every reply (0 is success).
inline constexpr std::uint8_t erNoError = 0;
inline constexpr std::uint8_t erWrongMode = 1;
inline constexpr std::uint8_t erSetTaken = 2;
inline constexpr std::uint8_t erEcrBusy = 3;
inline constexpr std::uint8_t erSetNotYours = 4;
inline constexpr std::uint8_t erSyntax = 5;
inline constexpr std::uint8_t erTooLate = 6;
inline constexpr std::uint8_t erNoRequest = 7;
inline constexpr std::uint8_t erWrongSetPassword = 8;
inline constexpr std::uint8_t erOverrun = 9;
inline constexpr std::uint8_t erTimeOut = 10;
inline constexpr std::uint8_t erTimer = 11;
inline constexpr std::uint8_t erEcrInSession = 12;
inline constexpr std::uint8_t erEcrError = 13;
inline constexpr std::uint8_t erUnknownCommand = 14;
inline constexpr std::uint8_t erNoAckNak = 15;
inline constexpr std::uint8_t erNoBegAfterNak = 16;
inline constexpr std::uint8_t erBadLine = 17;
inline constexpr std::uint8_t erBufferOverflow = 18;
inline constexpr std::uint8_t erUnknownSet = 19;
inline constexpr std::uint8_t erWrongEcrNumber = 20;
inline constexpr std::uint8_t erInvalidByte = 21;
inline constexpr std::uint8_t erNotExecuted = 22;
inline constexpr std::uint8_t erOther = 255;

// One message, request or reply; Block and Payload hold raw bytes.
struct ClientMessage {
  std::uint8_t SetNo = 0;
  std::uint8_t Command = 0;
  // As the header states it; may exceed Block.size() when the message was cut.
  std::uint8_t BlockLen = 0;
  std::uint8_t LogNo = 0;
  std::uint8_t ErrorCode = 0;
  std::string Block;
  std::string Payload;
};

// Header, Block and Payload, cut as a whole to its first 255 bytes. BlockLen is always
// the length of Block (Block and Payload are first cut to 255 bytes each), so a Block of
// 251 bytes or more leaves no room for the Payload.
std::string BuildClientMessage(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t LogNo,
                               std::uint8_t ErrorCode, std::string_view Block,
                               std::string_view Payload);

// Splits a message. Block is the BlockLen bytes after the header, fewer when the message
// ends first; Payload is the rest. A message shorter than five bytes yields 0 for the
// header bytes it lacks and empty Block and Payload. Input beyond 255 bytes is ignored.
ClientMessage ParseClientMessage(std::string_view message);

// The request form: as ParseClientMessage, with Block left empty (BlockLen still moves
// the start of the Payload).
ClientMessage ParseClientRequest(std::string_view message);

// The text a client shows for an error code; codes without a text of their own give
// "Unknown error", CR LF, "code:" and the code in decimal.
std::string ReplyErrorText(int code);

// Unchanged when text holds a "."; otherwise "." put before its last n characters (at
// the front when it has n or fewer). The result is cut to 255 bytes.
std::string InsertDecimalPoint(std::string_view text, std::size_t n);

// text with its first "." removed; unchanged when it has none.
std::string RemoveDecimalPoint(std::string_view text);

}  // namespace ecr
