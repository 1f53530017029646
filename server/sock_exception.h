#pragma once
// The socket server's failures of Open and SendData.

#include <stdexcept>
#include <string>

namespace ecr {

class ESockException : public std::runtime_error {
 public:
  explicit ESockException(const std::string& message) : std::runtime_error(message) {}
};

// The code in decimal, CR LF, and the system's text for the error code (errno values).
std::string SocketErrorText(int code);

}  // namespace ecr
