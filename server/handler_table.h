#pragma once
// Which handler serves which SET and command, and which SETs may not be held together on
// one register. Constant data; any thread may read it.

#include <array>
#include <cstdint>

namespace ecr {

enum class Handler : std::uint8_t {
  None,  // empty cell: the request is answered "Unknown command"
  OpenChannel,
  OpenMonitor,
  CloseChannel,
  CloseMonitor,
  CancelCommand,
  SendDataToEcr,
  SendDataToEcrC,
  FinishExchange,
  QueryChannelState,
  QueueCommand,
};

// HandlerTable[SetNo - 1][Command - 1] for SetNo 1..14 and Command 1..15.
using HandlerRows = std::array<std::array<Handler, 15>, 14>;
extern const HandlerRows HandlerTable;

// ConflictMatrix[s - 1][i - 1] is 1 when SET s cannot be opened while SET i of the same
// register has an owner (the diagonal included: a held SET cannot be opened again).
using ConflictRows = std::array<std::array<std::uint8_t, 14>, 14>;
extern const ConflictRows ConflictMatrix;

// Table lookups with the protocol's 1-based numbers; outside the table: Handler::None / 0.
Handler HandlerFor(int setNo, int command);
bool SetsConflict(int setNo, int otherSetNo);

}  // namespace ecr
