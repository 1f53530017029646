#include "netcontroller/requests/cop_payload_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "netcontroller/nc_fields.h"
#include "netcontroller/nc_numbers.h"
#include "netcontroller/requests/block_fields.h"

namespace ecr::nc {

namespace {

void ReplaceField(std::string& text, std::size_t n, const std::string& value) {
  CutField(text, n);
  InsertField(text, value, n);
}

// Field n as an integer within [low, high], written back in decimal.
bool IntegerField(std::string& text, std::size_t n, std::int64_t fallback, std::int64_t low, std::int64_t high,
                  bool rewrite) {
  const std::int64_t value = IntegerOr(GetField(text, n), fallback);
  if (value < low || value > high) return false;
  if (rewrite) ReplaceField(text, n, std::to_string(value));
  return true;
}

// Field n as an amount within [low, high], written back with `decimals` decimals.
bool AmountField(std::string& text, std::size_t n, long double fallback, long double low, long double high,
                 int decimals) {
  const long double value = StrToAmountDef(GetField(text, n), fallback);
  if (value < low || value > high) return false;
  ReplaceField(text, n, FormatFixed(value, decimals));
  return true;
}

// Field 1 a kind 0..1 (no number is 5), field 2 an amount 0..high.
bool KindAndAmount(std::string& payload, long double high) {
  return IntegerField(payload, 1, 5, 0, 1, false) && AmountField(payload, 2, -1, 0, high, 2);
}

}  // namespace

bool SaleLineValid(std::string& payload) {
  if (!IntegerField(payload, 1, 0, 0, 999'999'999, false)) return false;
  if (GetField(payload, 2).size() > 22) return false;
  if (!AmountField(payload, 3, 0, 0.01L, 99'999.99L, 2)) return false;
  const long double quantity = StrToAmountDef(GetField(payload, 4), 0.0005L);
  if (std::fabs(quantity) < 0.001L || std::fabs(quantity) > 99'999.999L) return false;
  ReplaceField(payload, 4, FormatFixed(quantity, 3));
  return IntegerField(payload, 5, 0, 1, 9, true) && IntegerField(payload, 6, 0, 1, 99, true) &&
         IntegerField(payload, 7, 0, 1, 8, true);
}

bool PrintLineValid(const std::string& payload) { return std::count(payload.begin(), payload.end(), ';') == 5; }

bool PaymentValid(std::string& payload) {
  const std::int64_t kind = IntegerOr(GetField(payload, 1), 5);
  if (kind < 0 || kind > 4) return false;
  if (kind == 4) {
    payload = "4;;";
    return true;
  }
  return AmountField(payload, 2, -1, 0, 9'999'999.99L, 2);
}

bool PercentValid(std::string& payload) { return KindAndAmount(payload, 99.99L); }

bool AmountValid(std::string& payload) { return KindAndAmount(payload, 999'999.99L); }

}  // namespace ecr::nc
