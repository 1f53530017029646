#pragma once
// The ErrorCode that a client's reply carries for the result of a line exchange: what the
// register-side callbacks report when a command or answer could not be sent or read.
//
// Pure function: any thread.

#include <cstdint>

#include "server/client_message.h"

namespace ecr {

// 0 OK, 1 NAK, 2 a wrong byte, 3 and 4 time-outs; every other result (a bad CRC, a refused
// block, no result at all as the byte 255) is erOther.
constexpr std::uint8_t ErrorCodeOfLinkResult(std::uint8_t result) {
  switch (result) {
    case 0: return erNoError;
    case 1: return erBadLine;
    case 2: return erInvalidByte;
    case 3:
    case 4: return erTimeOut;
    default: return erOther;
  }
}

}  // namespace ecr
