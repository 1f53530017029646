#include "text_client/version_compare.h"

#include <limits>

namespace ecr {

bool IsDigitChar(unsigned char b) { return b > 47 && b < 58; }

std::int32_t DigitsToInt(std::string_view text) {
    std::int64_t value = 0;
    bool any = false;
    for (char c : text) {
        if (!IsDigitChar(static_cast<unsigned char>(c))) continue;
        any = true;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) return 0;
    }
    return any ? static_cast<std::int32_t>(value) : 0;
}

std::vector<std::string> SplitString(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator)) {
        pieces.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    if (!text.empty()) pieces.emplace_back(text);
    return pieces;
}

VersionParts ParseVersionString(std::string_view text) {
    std::string cleaned;
    for (char c : text) {
        char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != 'V') cleaned += upper;
    }
    std::vector<std::string> pieces = SplitString(cleaned, '.');
    VersionParts parts{};
    if (pieces.size() != parts.size()) return parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::int32_t value = DigitsToInt(pieces[i]);
        parts[i] = static_cast<std::uint16_t>(value > 65535 ? 65535 : value);
    }
    return parts;
}

std::uint64_t VersionToInt64(const VersionParts& parts) {
    return (std::uint64_t{parts[0]} << 48) | (std::uint64_t{parts[1]} << 32) |
           (std::uint64_t{parts[2]} << 16) | std::uint64_t{parts[3]};
}

std::uint64_t VersionStringToInt64(std::string_view text) {
    return VersionToInt64(ParseVersionString(text));
}

}  // namespace ecr
