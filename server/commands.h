#pragma once
// SET numbers and command numbers of the client protocol.

#include <cstdint>

namespace ecr {

inline constexpr std::uint8_t kSetCount = 14;        // SETs 1..14 per register
inline constexpr std::uint8_t SubscriberSet = 254;   // joins the subscriber queue
inline constexpr std::uint8_t ServerSet = 255;       // requests to the server itself
inline constexpr int kMaxLogNo = 99;                 // registers 1..99
inline constexpr std::uint8_t kMaxRequestCommand = 15;

inline constexpr std::uint8_t cmdOpen = 1;
inline constexpr std::uint8_t cmdIdentify = 1;  // cmdOpen on ServerSet
inline constexpr std::uint8_t cmdClose = 2;
inline constexpr std::uint8_t cmdCancel = 3;
inline constexpr std::uint8_t cmdAnswer = 4;
inline constexpr std::uint8_t cmdFinish = 5;
inline constexpr std::uint8_t cmdState = 7;
inline constexpr std::uint8_t cmdAnswerC = 8;
inline constexpr std::uint8_t cmdAnswerSent = 160;

// First command number of the notifications that a register's own messages become.
inline constexpr std::uint8_t EcrNotification = 128;

// States of a SET's pending command, reported by cmdState in the ErrorCode byte.
inline constexpr std::uint8_t kStateNone = 0;
inline constexpr std::uint8_t kStateQueued = 101;
inline constexpr std::uint8_t kStateSent = 102;

constexpr bool IsLogNo(int logNo) { return logNo >= 1 && logNo <= kMaxLogNo; }
constexpr bool IsWorkingSet(int setNo) { return setNo >= 1 && setNo <= kSetCount && setNo % 2 == 1; }

}  // namespace ecr
