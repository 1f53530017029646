#pragma once
// What the request processing does with the controller link's six events: an InLine
// announcement takes the request that SET 5 queued, an OnLine block is forwarded to the
// clients, offered to the client of SET 1, 9 or 11 for an answer, or handed to the sale,
// print and receipt exchanges; delivery reports and controller errors answer the client whose
// request was under way.
//
// Called by NcRequestEngine under its lock, on the controller link's reader thread. ecr is
// the event's register number; anything outside 1..16 only resets the controller's exchange.

#include <cstdint>
#include <string>

#include "netcontroller/requests/nc_exchange_context.h"

namespace ecr::nc {

// controller_events.cpp
void HandleEcrInLine(NcExchangeContext& context, int ecr, const std::string& block);
void HandleInlSended(NcExchangeContext& context, int ecr);
void HandleInlReceived(NcExchangeContext& context, int ecr, const std::string& answer);
void HandleOnlSended(NcExchangeContext& context, int ecr);
void HandleControllerError(NcExchangeContext& context, int ecr, std::uint8_t errC, int extErr);

// online_blocks.cpp
void HandleOnlineBlock(NcExchangeContext& context, int ecr, std::string block);

}  // namespace ecr::nc
