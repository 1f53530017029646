#include "server/handler_table.h"

namespace ecr {

namespace {

constexpr Handler _ = Handler::None;
constexpr Handler OpC = Handler::OpenChannel;
constexpr Handler OpM = Handler::OpenMonitor;
constexpr Handler ClC = Handler::CloseChannel;
constexpr Handler ClM = Handler::CloseMonitor;
constexpr Handler Can = Handler::CancelCommand;
constexpr Handler Ans = Handler::SendDataToEcr;
constexpr Handler AnC = Handler::SendDataToEcrC;
constexpr Handler Fin = Handler::FinishExchange;
constexpr Handler Sta = Handler::QueryChannelState;
constexpr Handler Que = Handler::QueueCommand;

}  // namespace

// clang-format off
const HandlerRows HandlerTable = {{
  //  1    2    3    4    5    6    7    8    9   10   11   12   13   14   15
  {{OpC, ClC, Can, Ans, Fin,  _,  Sta, AnC,  _,   _,   _,   _,   _,   _,   _}},  // SET 1
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 2
  {{OpC, ClC,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 3
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 4
  {{OpC, ClC, Can, Que, Que, Que, Sta, Que, Que, Que, Que, Que, Que,   _,   _}},  // SET 5
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 6
  {{OpC, ClC,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 7
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 8
  {{OpC, ClC, Can, Ans, Fin,  _,  Sta, AnC, Fin,   _,   _,   _,   _,   _,   _}},  // SET 9
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 10
  {{OpC, ClC, Can, Ans, Fin,  _,  Sta,  _,   _,   _,   _,   _,   _,   _,   _}},  // SET 11
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 12
  {{OpC, ClC, Can, Que, Que, Que, Sta, Que, Que, Que, Que, Que, Que, Que, Que}},  // SET 13
  {{OpM, ClM,  _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _,   _}},  // SET 14
}};

const ConflictRows ConflictMatrix = {{
  // 1  2  3  4  5  6  7  8  9 10 11 12 13 14
  {{1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},  // SET 1
  {{0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},  // SET 2
  {{1, 0, 1, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0}},  // SET 3
  {{0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},  // SET 4
  {{0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}},  // SET 5
  {{0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}},  // SET 6
  {{1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0}},  // SET 7
  {{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},  // SET 8
  {{0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0}},  // SET 9
  {{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},  // SET 10
  {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},  // SET 11
  {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},  // SET 12
  {{0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}},  // SET 13
  {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},  // SET 14
}};
// clang-format on

Handler HandlerFor(int setNo, int command) {
  if (setNo < 1 || setNo > 14 || command < 1 || command > 15) return Handler::None;
  return HandlerTable[static_cast<std::size_t>(setNo - 1)][static_cast<std::size_t>(command - 1)];
}

bool SetsConflict(int setNo, int otherSetNo) {
  if (setNo < 1 || setNo > 14 || otherSetNo < 1 || otherSetNo > 14) return false;
  return ConflictMatrix[static_cast<std::size_t>(setNo - 1)][static_cast<std::size_t>(otherSetNo - 1)] != 0;
}

}  // namespace ecr
