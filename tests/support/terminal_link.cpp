#include "tests/support/terminal_link.h"

#include <unistd.h>

#include <iostream>
#include <utility>

namespace ecr::support {

TerminalLink::TerminalLink(std::string path, const std::string& terminal) : path_(std::move(path)) {
  if (path_.empty()) return;
  ::unlink(path_.c_str());
  if (::symlink(terminal.c_str(), path_.c_str()) != 0) {
    std::cerr << "cannot create the link " << path_ << "\n";
    path_.clear();
  }
}

TerminalLink::~TerminalLink() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace ecr::support
