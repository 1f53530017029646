#pragma once
// Which handler serves which SET and command of the network-controller server, and which
// SETs may not be held together on one register. Constant data; any thread may read it.

#include <array>
#include <cstdint>

#include "server/handler_table.h"

namespace ecr::nc {

inline constexpr int kDispatchCommandCount = 12;

enum class NcHandler : std::uint8_t {
  IgnoreRequest,  // empty cell: no answer at all
  OpenClientSet,
  OpenMonitorSet,
  CloseClientSet,
  CloseMonitorSet,
  CancelRequest,
  QueryRequestState,
  HoldExchange,
  FinishExchange,
  QueueRequest,
  AnswerWithQuantity,
  AnswerC,
  AnswerCSigned,
  QueueLetterCommand,
  QueueCop,
};

// RequestDispatchTable[SetNo - 1][Command - 1] for SetNo 1..14 and Command 1..12.
using DispatchRows = std::array<std::array<NcHandler, kDispatchCommandCount>, 14>;
extern const DispatchRows RequestDispatchTable;

// SetExclusionTable[s - 1][i - 1] is 1 when SET s cannot be opened while SET i of the same
// register has an owner (the diagonal included). The SETs exclude each other as they do on
// the register server: it is that server's table.
using ExclusionRows = ConflictRows;
inline const ExclusionRows& SetExclusionTable = ConflictMatrix;

// Lookups with the protocol's 1-based numbers; outside the tables IgnoreRequest / false.
NcHandler DispatchHandler(int setNo, int command);
bool SetsExclude(int setNo, int otherSetNo);

// The InLine letter sent before a SET 5 request's Payload ('R', 'P', 'W', 'T', 'I', 'C' for
// Commands 4, 5, 6, 8, 9, 10), or 0 for any other command.
char InLineLetter(int command);

}  // namespace ecr::nc
