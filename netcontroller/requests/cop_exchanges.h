#pragma once
// The sale (type '5'), print (type '6') and receipt (type 'A') exchanges: the register asks
// for the operation (COP) that a client queued on SET 13, or on SET 3 which shares slot 13;
// the operation either goes to the register as the OnLine answer, in the register's own text
// format, with the client's reply deferred until the controller reports the delivery, or is
// refused to the client at once. An operation that the block type neither serves nor refuses
// stays queued and only the register's exchange is reset.
//
// Called from HandleOnlineBlock under the engine's lock, with the working block (the block
// without its type field) of register ecr (1..16).

#include <string>

#include "netcontroller/requests/nc_exchange_context.h"

namespace ecr::nc {

void ServeSale(NcExchangeContext& context, int ecr, std::string block);
void ServePrint(NcExchangeContext& context, int ecr, std::string block);
void ServeReceipt(NcExchangeContext& context, int ecr, std::string block);

}  // namespace ecr::nc
