#pragma once
// The handlers of client requests to the network-controller server: open and close SETs,
// queue a request until the register asks for it, send a client's answer at once to a
// register that waits for it, hold and finish an OnLine exchange, cancel a queued request
// and report its state. Also what a client's disconnect frees.
//
// Called by NcRequestEngine under its lock.

#include <cstdint>
#include <string>

#include "netcontroller/requests/nc_exchange_context.h"
#include "netcontroller/requests/request_tables.h"

namespace ecr::nc {

// A request that passed the dispatcher's checks: LogNo 1..16, SetNo 1..14, Command 1..12,
// ClientId above 0.
struct ClientRequest {
  std::int16_t ClientId = 0;
  std::string Payload;
  std::uint8_t LogNo = 0;
  std::uint8_t Command = 0;
  std::uint8_t SetNo = 0;
};

// The longest Payload that a client may queue or send as an answer.
inline constexpr std::size_t kMaxAnswerLength = 120;

void RunClientHandler(NcHandler handler, NcExchangeContext& context, ClientRequest& request);

// Frees every slot of the client; each working SET it held gives its use back once (the
// slot 13 entry that comes with SET 3 included in SET 3's).
void FreeClientSlots(NcExchangeContext& context, std::int16_t clientId);

}  // namespace ecr::nc
