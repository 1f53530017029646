#pragma once
// The checks of the operations (COPs) that a client queues for a register's sale, print and
// receipt exchanges. Each works on the Payload in place, field by field (";"-terminated; a
// numeric field that is no number takes the check's default): a field that passes is
// rewritten in its format at once, so when a later field fails, the Payload that the refusal
// shows is normalised up to that field ("1.5;2;x;" has become "1.50;2.000;x;").
//
// Pure functions: any thread.

#include <string>

namespace ecr::nc {

// COP 4: code 0..999,999,999; name of at most 22 characters; price 0.01..99,999.99 ("%.2f");
// quantity of absolute value 0.001..99,999.999 ("%.3f", sign kept); then three integers
// 1..9, 1..99 and 1..8.
bool SaleLineValid(std::string& payload);
// COP 5: exactly five ";".
bool PrintLineValid(const std::string& payload);
// COP 6 on a receipt: kind 0..4; kind 4 makes the whole Payload "4;;", any other kind needs
// an amount 0..9,999,999.99 ("%.2f").
bool PaymentValid(std::string& payload);
// COP 8: kind 0..1 and a percentage 0..99.99 ("%.2f").
bool PercentValid(std::string& payload);
// COP 9: kind 0..1 and an amount 0..999,999.99 ("%.2f").
bool AmountValid(std::string& payload);

}  // namespace ecr::nc
