#pragma once
// Normalise the sale, payment and percent lines that an application queued for a fiscal
// question before they go to a register that expects fixed decimals (the old
// fiscal-printer option): amounts are rewritten with two or three decimals and the line
// gets the empty fields the register's older form ends with. Amounts are read with the
// decimal separator ".".
//
// Each check rewrites `text` in place and returns true, or, when a field it needs is
// missing or is no amount, leaves `text` as it was, writes the failure to `log` (as an
// exception line of its place with "Block=" and the text) and returns false.
//
// Pure apart from the log: any thread.

#include <string>

#include "server/exchange_context.h"

namespace ecr {

// Field 3 with two decimals, field 4 with three, then ";;".
bool CheckSell(std::string& text, const EngineLog& log);
// "4;;;;;" when field 1 is the integer 4; otherwise field 2 with two decimals, then ";;;".
bool CheckPay(std::string& text, const EngineLog& log);
// Field 2 with two decimals, then ";;;".
bool CheckPercRopo(std::string& text, const EngineLog& log);

}  // namespace ecr
