#pragma once

// Server versions as texts ("v1.0.20.0", "1.0.20.0") and as comparable numbers: four 16-bit
// parts, compared as major * 2^48 + minor * 2^32 + release * 2^16 + build.
//
// Pure functions: any thread may call them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

using VersionParts = std::array<std::uint16_t, 4>;

bool IsDigitChar(unsigned char b);
// The digits of `text`, in their order, read as a decimal number; 0 when there are none or
// they do not fit 32 bits.
std::int32_t DigitsToInt(std::string_view text);
// The pieces between separators (empty ones included) and the rest when it is not empty.
std::vector<std::string> SplitString(std::string_view text, char separator);
// Upper case, every "V" removed, split at "."; four pieces give the parts (a part above
// 65535 counts as 65535), any other number of pieces 0.0.0.0.
VersionParts ParseVersionString(std::string_view text);
std::uint64_t VersionToInt64(const VersionParts& parts);
std::uint64_t VersionStringToInt64(std::string_view text);

}  // namespace ecr
