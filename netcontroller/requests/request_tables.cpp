#include "netcontroller/requests/request_tables.h"

#include <cstddef>

namespace ecr::nc {

namespace {

constexpr NcHandler Ign = NcHandler::IgnoreRequest;
constexpr NcHandler OpC = NcHandler::OpenClientSet;
constexpr NcHandler OpM = NcHandler::OpenMonitorSet;
constexpr NcHandler ClC = NcHandler::CloseClientSet;
constexpr NcHandler ClM = NcHandler::CloseMonitorSet;
constexpr NcHandler Can = NcHandler::CancelRequest;
constexpr NcHandler Sta = NcHandler::QueryRequestState;
constexpr NcHandler Hld = NcHandler::HoldExchange;
constexpr NcHandler Fin = NcHandler::FinishExchange;
constexpr NcHandler Que = NcHandler::QueueRequest;
constexpr NcHandler AnQ = NcHandler::AnswerWithQuantity;
constexpr NcHandler AnC = NcHandler::AnswerC;
constexpr NcHandler AnS = NcHandler::AnswerCSigned;
constexpr NcHandler Ltr = NcHandler::QueueLetterCommand;
constexpr NcHandler Cop = NcHandler::QueueCop;

}  // namespace

// clang-format off
const DispatchRows RequestDispatchTable = {{
  //  1    2    3    4    5    6    7    8    9   10   11   12
  {{OpC, ClC, Can, AnQ, Fin, Hld, Sta, AnC, Ign, Ign, Ign, Ign}},  // SET 1
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 2
  {{OpC, ClC, Can, Cop, Cop, Cop, Sta, Ign, Ign, Ign, Ign, Ign}},  // SET 3
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 4
  {{OpC, ClC, Can, Ltr, Ltr, Ltr, Sta, Ltr, Ltr, Ltr, Ign, Ign}},  // SET 5
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 6
  {{OpC, ClC, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 7
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 8
  {{OpC, ClC, Can, Que, Fin, Hld, Sta, AnS, Fin, Ign, Ign, Ign}},  // SET 9
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 10
  {{OpC, ClC, Can, Que, Fin, Hld, Sta, Ign, Ign, Ign, Ign, Ign}},  // SET 11
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 12
  {{OpC, ClC, Can, Cop, Cop, Cop, Sta, Cop, Cop, Cop, Cop, Cop}},  // SET 13
  {{OpM, ClM, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign, Ign}},  // SET 14
}};
// clang-format on

NcHandler DispatchHandler(int setNo, int command) {
  if (setNo < 1 || setNo > 14 || command < 1 || command > kDispatchCommandCount) return NcHandler::IgnoreRequest;
  return RequestDispatchTable[static_cast<std::size_t>(setNo - 1)][static_cast<std::size_t>(command - 1)];
}

bool SetsExclude(int setNo, int otherSetNo) { return SetsConflict(setNo, otherSetNo); }

char InLineLetter(int command) {
  switch (command) {
    case 4: return 'R';
    case 5: return 'P';
    case 6: return 'W';
    case 8: return 'T';
    case 9: return 'I';
    case 10: return 'C';
    default: return 0;
  }
}

}  // namespace ecr::nc
