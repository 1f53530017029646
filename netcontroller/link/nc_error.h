#pragma once

// The error numbers the controller link raises through its error event, and how the
// refusals (NAK) the controller reports map onto them. A delivery report of an OnLine
// answer ends with 0D, of InLine data with 14; a register's block carries 81..90.
//
// Pure functions: any thread may call them.

#include <cstdint>

namespace ecr::nc {

inline constexpr std::uint8_t kNcAck = 0x06;

// Error numbers that do not come from the refusal tables below.
inline constexpr std::uint8_t kNcErrorUnknownCode = 166;     // a frame with a code of no meaning
inline constexpr std::uint8_t kNcErrorUnknownStatus = 167;   // a refusal with a status of no meaning
// A delivery report out of step with the link: ExtErr 1, an InLine delivery nobody waited
// for; ExtErr 2, the report of an answer or data that never came and was given up.
inline constexpr std::uint8_t kNcErrorUnexpectedReport = 20;
inline constexpr int kNcExtErrUnexpectedReport = 1;
inline constexpr int kNcExtErrReportGivenUp = 2;

struct NcErrorCode {
    std::uint8_t ErrC = 0;
    int ExtErr = 0;  // 1..8 for the "extended" statuses 17..24, else 0
    bool operator==(const NcErrorCode&) const = default;
};

// A refused delivery report of an OnLine answer (code 0D).
NcErrorCode OnlAnswerRefusal(std::uint8_t status);
// A refused delivery report of InLine data (code 14).
NcErrorCode InlDataRefusal(std::uint8_t status);
// A register's block that the controller reports as refused.
NcErrorCode EcrBlockRefusal(std::uint8_t status);

}  // namespace ecr::nc
