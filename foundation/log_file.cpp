#include "foundation/log_file.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "platform/program_path.h"

namespace ecr {

namespace {

std::string ModuleNameOf(const std::string& path) {
  const std::string_view name = FileNameOf(path);
  return std::string(name.substr(0, name.find('.')));
}

off_t FileSizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

// Writes the whole line, or leaves the file as it was: a line cut short (a full disk, a
// file-size limit) is cut off again, so that the next line does not join its fragment. The
// fragment is removed only while it is the end of the file, so a line that another
// process appended meanwhile stays.
bool WriteLine(int fd, const std::string& line) {
  const off_t before = FileSizeOf(fd);
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (done > 0 && before >= 0 && FileSizeOf(fd) == before + static_cast<off_t>(done))
        (void)!::ftruncate(fd, before);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

LogFile::LogFile(std::string path)
    : path_(std::move(path)),
      rotated_path_(path_.empty() ? std::string() : PathWithExtension(path_, ".LO0")),
      module_(ModuleNameOf(path_)),
      prefix_(" " + module_ + ": ") {}

LogFile::~LogFile() {
  const std::lock_guard lock(mutex_);
  CloseLocked();
}

LogResult LogFile::Open() {
  const std::lock_guard lock(mutex_);
  return OpenLocked();
}

LogResult LogFile::OpenLocked() {
  if (fd_ >= 0) return LogResult::AlreadyOpen;
  if (path_.empty() || FileNameOf(path_).empty()) return LogResult::NoFileName;
  size_ = LogFileSize(path_);
  // One write(2) per line on an O_APPEND descriptor keeps lines whole even when several
  // processes share a log file.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return LogResult::CannotOpen;
  fd_ = fd;
  return LogResult::Done;
}

LogResult LogFile::Close() {
  const std::lock_guard lock(mutex_);
  return CloseLocked();
}

LogResult LogFile::CloseLocked() {
  if (fd_ < 0) return LogResult::NotOpen;
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is released even when close reports an error (Linux semantics).
  return ::close(fd) == 0 ? LogResult::Done : LogResult::CloseFailed;
}

LogResult LogFile::RotateLocked() {
  if (::unlink(rotated_path_.c_str()) != 0 && errno != ENOENT) return LogResult::RotateFailed;
  CloseLocked();
  // A failed rename is not reported: the reopened log then carries its full size, so the
  // next line tries again.
  (void)::rename(path_.c_str(), rotated_path_.c_str());
  return OpenLocked();
}

LogResult LogFile::Write(std::string_view text, LogLevels level) {
  const std::lock_guard lock(mutex_);
  if (fd_ < 0) return LogResult::NotOpen;
  if (!level.Empty() && !level.Intersects(mask_)) return LogResult::Filtered;
  if (size_ >= kSizeLimit) RotateLocked();
  if (fd_ < 0) return LogResult::WriteFailed;
  std::string line = LogTimestamp();
  line += prefix_;
  line += text;
  line += "\r\n";
  if (!WriteLine(fd_, line)) return LogResult::WriteFailed;
  // Saturates: a log that cannot be moved aside keeps growing, and a counter that wrapped
  // would stop the rotation from being tried again.
  const auto grown = static_cast<std::int64_t>(size_) + static_cast<std::int64_t>(line.size());
  size_ = grown > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(grown);
  return LogResult::Done;
}

LogResult LogFile::WriteException(std::string_view where, const std::exception& e, std::string_view extra,
                                  LogLevels level) {
  std::string text = "EXCEPTION in ";
  text += where;
  text += " - ";
  text += ExceptionClassName(e);
  text += ":\r\n";
  text += e.what();
  text += "\r\n";
  text += extra;
  return Write(text, level);
}

void LogFile::SetMask(LogLevels mask) {
  const std::lock_guard lock(mutex_);
  mask_ = mask;
}

LogLevels LogFile::Mask() const {
  const std::lock_guard lock(mutex_);
  return mask_;
}

bool LogFile::IsOpen() const {
  const std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

std::int32_t LogFile::SizeCounter() const {
  const std::lock_guard lock(mutex_);
  return size_;
}

std::string LogTimestamp(const LocalTime& when) {
  char text[64];
  std::snprintf(text, sizeof text, "%2d.%.2d.%.4d %.2d:%.2d:%.2d", when.Day, when.Month, when.Year, when.Hour,
                when.Minute, when.Second);
  return text;
}

std::string LogTimestamp() { return LogTimestamp(LocalTimeNow()); }

std::int32_t LogFileSize(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!ok || st.st_size < 0) return 0;
  // Larger files than the counter can hold count as full: they are rotated at once.
  return st.st_size > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(st.st_size);
}

std::string ExceptionClassName(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                        &std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : mangled;
  // Keep the class's own name: the part after the last "::" outside template arguments.
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '<') ++depth;
    if (name[i] == '>') --depth;
    if (depth == 0 && name[i] == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
  }
  return name.substr(start);
}

LogFile& ProcessLog() {
  // Never destroyed, so that lines written from other objects' destructors or from threads
  // still running at exit find a valid (by then closed) log; the file is closed at exit.
  static LogFile* const log = [] {
    auto* created = new LogFile(ProgramSidePath(".log"));
    created->Open();
    std::atexit([] { ProcessLog().Close(); });
    return created;
  }();
  return *log;
}

void OpenProcessLog() { ProcessLog(); }

LogResult LogWrite(std::string_view text, LogLevels level) { return ProcessLog().Write(text, level); }

LogResult LogException(std::string_view where, const std::exception& e, std::string_view extra, LogLevels level) {
  return ProcessLog().WriteException(where, e, extra, level);
}

void SetLogMask(LogLevels mask) { ProcessLog().SetMask(mask); }
LogLevels LogMask() { return ProcessLog().Mask(); }

}  // namespace ecr
