#include "tests/support/demo_message_text.h"

#include "tests/support/printable_bytes.h"

namespace ecr::support {

std::string DescribeAddress(const ClientMessage& message) {
  return "SET " + std::to_string(message.SetNo) + ", command " + std::to_string(message.Command) + ", register " +
         std::to_string(message.LogNo);
}

std::string DescribeErrorCode(std::uint8_t errorCode) {
  return "error " + std::to_string(errorCode) + " (" + ReplyErrorText(errorCode) + ")";
}

std::string QuotedField(std::string_view name, std::string_view bytes) {
  if (bytes.empty()) return {};
  return ", " + std::string(name) + " \"" + Printable(bytes) + "\"";
}

}  // namespace ecr::support
