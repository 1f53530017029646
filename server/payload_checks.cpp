#include "server/payload_checks.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "foundation/fields.h"
#include "foundation/log_file.h"
#include "foundation/number_parsing.h"
#include "server/decimal_integer.h"

namespace ecr {

namespace {

std::size_t FieldCount(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'));
}

// Field n of text written again with `decimals` decimals; throws ConversionError when the
// field is missing or is no amount.
void RewriteAmount(std::string& text, int n, int decimals) {
  if (FieldCount(text) < static_cast<std::size_t>(n)) {
    throw ConversionError("Field " + std::to_string(n) + " is missing");
  }
  const std::string field = CutField(text, n);
  long double amount = 0;
  if (!TryTextToFloat(field, '.', amount)) {
    throw ConversionError("'" + field + "' is not a valid floating point value");
  }
  // Room for every double in fixed notation (up to 309 integer digits): a long amount is
  // written whole, never cut to a number of another size.
  char formatted[400];
  std::snprintf(formatted, sizeof formatted, "%.*f", decimals, static_cast<double>(amount));
  InsertField(text, formatted, n);
}

bool RunCheck(std::string& text, const EngineLog& log, const char* place,
              const std::function<void(std::string&)>& rewrite) {
  std::string work = text;
  try {
    rewrite(work);
  } catch (const std::exception& error) {
    if (log) {
      log(std::string("EXCEPTION in ") + place + " - " + ExceptionClassName(error) + ":\r\n" + error.what() +
          "\r\nBlock=" + text);
    }
    return false;
  }
  if (work.size() > kShortStringMax) work.resize(kShortStringMax);
  text = std::move(work);
  return true;
}

}  // namespace

bool CheckSell(std::string& text, const EngineLog& log) {
  return RunCheck(text, log, "CheckSell", [](std::string& work) {
    RewriteAmount(work, 3, 2);
    RewriteAmount(work, 4, 3);
    work += ";;";
  });
}

bool CheckPay(std::string& text, const EngineLog& log) {
  return RunCheck(text, log, "CheckPay", [](std::string& work) {
    if (DecimalInteger(GetField(work, 1)) == 4) {
      work = "4;;;;;";
      return;
    }
    RewriteAmount(work, 2, 2);
    work += ";;;";
  });
}

bool CheckPercRopo(std::string& text, const EngineLog& log) {
  return RunCheck(text, log, "CheckPercRopo", [](std::string& work) {
    RewriteAmount(work, 2, 2);
    work += ";;;";
  });
}

}  // namespace ecr
