#include "text_client/client_startup.h"

namespace ecr {

std::string ClientTitle(std::string_view versionText) {
    const std::size_t lastDot = versionText.rfind('.');
    if (lastDot != std::string_view::npos) versionText = versionText.substr(0, lastDot);
    return std::string(kClientCaption) + " " + std::string(versionText);
}

std::optional<std::string> QuitRequestPassword(const TParamList& parameters) {
    std::string value;
    if (parameters.FindParam("Q", value)) return value;
    if (parameters.FindParam("QUIT", value)) return value;
    return std::nullopt;
}

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes so that the cut falls before a whole character.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

}  // namespace ecr
