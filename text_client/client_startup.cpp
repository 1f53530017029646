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


}  // namespace ecr
