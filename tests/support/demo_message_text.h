#pragma once
// The parts of a client message's readable line that the demonstration clients print the
// same way. Pure functions without state: any thread may call them.

#include <cstdint>
#include <string>
#include <string_view>

#include "server/client_message.h"

namespace ecr::support {

// "SET 1, command 128, register 7"
std::string DescribeAddress(const ClientMessage& message);

// "error 0 (No error)"
std::string DescribeErrorCode(std::uint8_t errorCode);

// ", payload \"...\"" with the bytes made printable; empty when bytes is empty.
std::string QuotedField(std::string_view name, std::string_view bytes);

}  // namespace ecr::support
