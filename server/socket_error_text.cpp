#include <cstring>
#include <string>

#include "server/sock_exception.h"

namespace ecr {

namespace {

// strerror_r comes in two forms; either way the text ends up in the buffer or is returned.
[[maybe_unused]] const char* ErrorTextResult(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}
[[maybe_unused]] const char* ErrorTextResult(const char* result, const char* /*buffer*/) {
  return result != nullptr ? result : "";
}

}  // namespace

std::string SocketErrorText(int code) {
  char buffer[1025] = {};
  const char* text = ErrorTextResult(strerror_r(code, buffer, sizeof buffer - 1), buffer);
  std::string message(text, strnlen(text, 1024));
  return std::to_string(code) + "\r\n" + message;
}

}  // namespace ecr
