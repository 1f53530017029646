#include "netcontroller/link/nc_commands.h"

namespace ecr::nc {

namespace {

std::string TextCommand(std::string_view registerText, std::uint8_t end) {
    std::string command;
    command.reserve(registerText.size() + 2);
    command += static_cast<char>(kNcTextStart);
    command += registerText;
    command += static_cast<char>(end);
    return command;
}

}  // namespace

std::string SetMaskCommand(std::uint16_t mask) {
    std::string command(3, '\0');
    command[0] = static_cast<char>(ncSetMask);
    command[1] = static_cast<char>(mask >> 8);
    command[2] = static_cast<char>(mask & 0xFF);
    return command;
}

std::string OnlAnswerCommand(std::string_view registerText) { return TextCommand(registerText, ncOnlAnswer); }

std::string InlDataCommand(std::string_view registerText) { return TextCommand(registerText, ncInlData); }

}  // namespace ecr::nc
