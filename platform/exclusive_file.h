#pragma once
// A file opened for this process alone: the descriptor carries an exclusive advisory lock
// (flock LOCK_EX | LOCK_NB) for as long as it is open. A second open of the same file -
// from another process or from another ExclusiveFile of this one - finds the lock taken
// and fails as if the file could not be opened. The lock is advisory: programs that do
// not take it are not kept out.
//
// Thread safety: one object belongs to one owner; distinct objects may be used from
// different threads. Move-only; the destructor closes the descriptor and so drops the lock.

#include <string>

namespace ecr {

class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  // Opens `path` with open(2) `flags` (O_CLOEXEC is always added) and `mode` for created
  // files, then takes the lock. On any failure the object is not open and LastError()
  // holds the errno of the failing step (EWOULDBLOCK when another holder has the lock).
  ExclusiveFile(const std::string& path, int flags, unsigned mode = 0644);
  ~ExclusiveFile();

  ExclusiveFile(ExclusiveFile&& other) noexcept;
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  int LastError() const { return error_; }
  // Closes the descriptor (dropping the lock); returns false when close(2) reported an error.
  bool Close();
  // True when `path` names the open file itself (same device and inode, symbolic links
  // followed): false when the name was removed, or now holds another file, since it was
  // opened.
  bool IsAt(const std::string& path) const;

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace ecr
