#pragma once
// The exception of the register line's port operations (open, configure) and of every
// exchange on a closed line. Its texts carry the port name as the settings give it.

#include <stdexcept>
#include <string>
#include <string_view>

namespace ecr {

class ECommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  static ECommError AlreadyTaken(std::string_view port) { return Make("Port ", port, " already taken!"); }
  static ECommError UnableToOpen(std::string_view port) { return Make("Unable to open port ", port, "!"); }
  static ECommError UnableToConfigure(std::string_view port) {
    return Make("Unable to configure port ", port, "!");
  }
  static ECommError NotOpen(std::string_view port) { return Make("Port not open ", port, "!"); }

 private:
  static ECommError Make(std::string_view head, std::string_view port, std::string_view tail) {
    std::string text(head);
    text += port;
    text += tail;
    return ECommError(text);
  }
};

}  // namespace ecr
