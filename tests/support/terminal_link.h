#pragma once
// A symbolic link to an emulator's pseudo-terminal at a path the user chose, so that
// settings can name a stable path; it is removed again when the object goes. One thread
// uses an object.

#include <string>

namespace ecr::support {

class TerminalLink {
 public:
  // An empty path makes no link. A file at path is replaced. When the link cannot be
  // made, says so on standard error and holds none.
  TerminalLink(std::string path, const std::string& terminal);
  ~TerminalLink();
  TerminalLink(const TerminalLink&) = delete;
  TerminalLink& operator=(const TerminalLink&) = delete;

  // The link's path while it stands, else empty.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ecr::support
