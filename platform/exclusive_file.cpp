#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ecr {

ExclusiveFile::ExclusiveFile(const std::string& path, int flags, unsigned mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    error_ = errno;
    ::close(fd);
    return;
  }
  fd_ = fd;
}

ExclusiveFile::~ExclusiveFile() { Close(); }

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

bool ExclusiveFile::Close() {
  if (fd_ < 0) return true;
  // close(2) must not be retried on EINTR on Linux: the descriptor is gone either way.
  const int result = ::close(std::exchange(fd_, -1));
  if (result != 0) error_ = errno;
  return result == 0;
}

bool ExclusiveFile::IsAt(const std::string& path) const {
  if (fd_ < 0) return false;
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd_, &opened) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace ecr
