#pragma once

// The commands the PC writes to the network controller. Each is written whole, with one
// write call: a single command byte, the mask command with its two mask bytes, or a text
// for the register between LF and its end byte.
//
// Pure values and functions: any thread may use them.

#include <cstdint>
#include <string>
#include <string_view>

namespace ecr::nc {

enum NcCommand : std::uint8_t {
    ncSpeed4800 = 0x01,
    ncSpeed9600 = 0x02,
    ncSetMask = 0x07,
    ncStart = 0x08,
    ncStop = 0x09,
    ncOnlAnswer = 0x0D,  // end byte of an OnLine answer (the text starts with LF)
    ncInlData = 0x14,    // end byte of InLine data (the text starts with LF)
    ncReset = 0x0B,
    ncIdentify = 0x0C,
};

inline constexpr std::uint8_t kNcTextStart = 0x0A;

// 07, high byte, low byte.
std::string SetMaskCommand(std::uint16_t mask);
// 0A, the text as given (already in the register's character set), 0D.
std::string OnlAnswerCommand(std::string_view registerText);
// 0A, the text as given (already in the register's character set), 14.
std::string InlDataCommand(std::string_view registerText);

}  // namespace ecr::nc
