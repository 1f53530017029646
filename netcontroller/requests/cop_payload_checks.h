#pragma once
// The checks of the operations (COPs) that a client queues for a register's sale, print and
// receipt exchanges. Each reads the Payload's ";"-terminated fields (a numeric field that is
// no number takes the check's default), and when every field passes, writes the Payload back
// normalised and returns true; on failure the Payload stays as it was.
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
