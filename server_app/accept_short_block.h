#pragma once
// The block-accept hook of the register search and the line test: a register's status is
// short, a message of its own is longer than 7 characters. Taking a register with this
// hook acknowledges its status but refuses its own message, which stays unacknowledged
// for the real server. Plain C++; runs on the thread that takes the register.

#include <cstddef>
#include <cstdint>
#include <string>

#include "line/basic_communication_object.h"

namespace ecr {

// The length from which a block is a register's own message.
inline constexpr std::size_t kShortBlockLimit = 8;

// Accepts the block only when it is shorter than kShortBlockLimit.
void AcceptShortBlock(TBasicCommunicationObject& sender, std::uint8_t ecrNo, const std::string& block, bool& accept);

}  // namespace ecr
