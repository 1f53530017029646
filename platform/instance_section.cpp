#include "platform/instance_section.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace ecr {
namespace {

// Byte ranges of the section file used as locks (beyond its data, which is allowed).
constexpr off_t kPresenceLockByte = static_cast<off_t>(InstanceSection::kSize);
constexpr off_t kTextLockByte = kPresenceLockByte + 1;

// Bounds the retries when the section is removed by its last user while we open it.
constexpr int kOpenAttempts = 50;

// A link, a fifo or a device in the section's place is never followed nor waited on.
constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Open-file-description locks: held per descriptor, so two sections of one process
// exclude each other exactly as two processes do.
bool SetLock(int fd, short type, off_t byte, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// Releases the text lock on every exit path.
class TextLock {
 public:
  TextLock(int fd, short type) : fd_(fd) { locked_ = SetLock(fd_, type, kTextLockByte, true); }
  ~TextLock() {
    if (locked_) SetLock(fd_, F_UNLCK, kTextLockByte, false);
  }
  TextLock(const TextLock&) = delete;
  TextLock& operator=(const TextLock&) = delete;

 private:
  int fd_;
  bool locked_ = false;
};

// Closes a descriptor on every exit path unless it is released.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// 0 when `fd` is a regular file of this user, else why it may not serve as a section.
int SectionRefusal(int fd, struct stat& info) {
  if (fstat(fd, &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EINVAL;
  if (info.st_uid != geteuid()) return EACCES;
  return 0;
}

// True when `path` still names the file that `fd` holds.
bool StillNamed(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

std::unique_ptr<InstanceSection> InstanceSection::Open(const std::string& path, int& error) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    ScopedFd fd(open(path.c_str(), kOpenFlags | O_CREAT, 0600));
    if (fd.Get() < 0) {
      error = errno;
      return nullptr;
    }
    struct stat info {};
    if (const int refusal = SectionRefusal(fd.Get(), info); refusal != 0) {
      error = refusal;
      return nullptr;
    }
    // Waits only while the section's last user removes it.
    if (!SetLock(fd.Get(), F_RDLCK, kPresenceLockByte, true)) {
      error = errno;
      return nullptr;
    }
    // The last user may have removed the file between our open and our lock; then this
    // one is an orphan and the path must be opened afresh.
    if (!StillNamed(fd.Get(), path)) continue;
    // From here on a failure leaves the file as any user's close does.
    std::unique_ptr<InstanceSection> section(new InstanceSection(path, fd.Release(), nullptr));
    if (const int failed = posix_fallocate(section->fd_, 0, static_cast<off_t>(kSize)); failed != 0) {
      error = failed;
      return nullptr;
    }
    void* view = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, section->fd_, 0);
    if (view == MAP_FAILED) {
      error = errno;
      return nullptr;
    }
    section->view_ = static_cast<unsigned char*>(view);
    return section;
  }
  error = EAGAIN;
  return nullptr;
}

InstanceSection::InstanceSection(std::string path, int fd, unsigned char* view)
    : path_(std::move(path)), fd_(fd), view_(view) {}

InstanceSection::~InstanceSection() {
  if (view_ != nullptr) munmap(view_, kSize);
  // Turning our read lock into a write lock succeeds only when no other user holds the
  // section: then we are its last user and remove it, unless its folder went away and the
  // name now holds another section (made in the folder made anew).
  if (SetLock(fd_, F_WRLCK, kPresenceLockByte, false) && StillNamed(fd_, path_)) unlink(path_.c_str());
  close(fd_);
}

bool InstanceSection::AtItsPath() const { return StillNamed(fd_, path_); }

void InstanceSection::Write(std::string_view text) {
  TextLock lock(fd_, F_WRLCK);
  const std::size_t length = std::min(text.size(), kMaxTextLength);
  std::memcpy(view_, text.data(), length);
  view_[length] = 0;
}

std::string InstanceSection::Read(std::size_t maxLength) const {
  TextLock lock(fd_, F_RDLCK);
  const std::size_t limit = std::min(maxLength, kSize);
  const void* end = std::memchr(view_, 0, limit);
  const std::size_t length = end != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(end) - view_) : limit;
  return std::string(reinterpret_cast<const char*>(view_), length);
}

// Safe against sections being opened meanwhile: the write lock excludes every user, and a
// user that opened the file just before checks the name again once it holds its lock.
void RemoveAbandonedSections(const std::string& folder, std::string_view prefix, const std::string& keepPath) {
  std::error_code failed;
  for (std::filesystem::directory_iterator entry(folder, failed), end; !failed && entry != end;
       entry.increment(failed)) {
    const std::string file = entry->path().filename().string();
    if (!file.starts_with(prefix) || !file.ends_with(InstanceSection::kFileEnding)) continue;
    const std::string path = folder + "/" + file;
    if (path == keepPath) continue;
    const ScopedFd fd(open(path.c_str(), kOpenFlags));
    if (fd.Get() < 0) continue;
    struct stat info {};
    if (SectionRefusal(fd.Get(), info) == 0 && SetLock(fd.Get(), F_WRLCK, kPresenceLockByte, false) &&
        StillNamed(fd.Get(), path))
      unlink(path.c_str());
  }
}

}  // namespace ecr
