#pragma once
// The plain-text log that every program keeps beside its executable. Each call appends
// one line: time stamp "%2d.%.2d.%.4d %.2d:%.2d:%.2d" (day, month, year, hour, minute,
// second), " ", the module name, ": ", the caller's text, CR LF. A log that has reached
// 5,242,880 bytes is moved aside to the same path with extension ".LO0" (one old
// generation) before the next line. A line that cannot be written whole (a full disk) is
// cut off again, so the file keeps whole lines only. Failures are never raised: every
// operation returns a LogResult that callers may ignore.
//
// LogFile is the log as an object (tests drive it on temporary paths). The process's own
// log is reached through LogWrite / LogException: it is opened at the program's path with
// extension ".log" when the program starts (OpenProcessLog, else at the first use) and
// closed when the process exits; a program whose log cannot be opened then runs without a
// log (every LogWrite returns NotOpen). A rotation whose new log cannot be opened leaves
// the log closed: that line returns WriteFailed, every later one NotOpen.
//
// Thread safety: every member of LogFile and every free function may be called from any
// thread; one mutex per log serialises whole lines, so lines never interleave.

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/local_time.h"

namespace ecr {

// The unit's result codes (one byte); 3 and 9 are not used.
enum class LogResult : std::uint8_t {
  Done = 0,
  NotOpen = 1,
  AlreadyOpen = 2,
  CannotOpen = 4,
  CloseFailed = 5,
  WriteFailed = 6,
  RotateFailed = 7,
  NoFileName = 8,
  Filtered = 10,
};

// A set of up to eight level bits. A line with the empty set passes whatever the mask; a
// line with a non-empty set passes when it shares a bit with the mask.
class LogLevels {
 public:
  constexpr LogLevels() = default;
  constexpr explicit LogLevels(std::uint8_t bits) : bits_(bits) {}
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Intersects(LogLevels other) const { return (bits_ & other.bits_) != 0; }
  friend constexpr bool operator==(LogLevels, LogLevels) = default;

 private:
  std::uint8_t bits_ = 0;
};

class LogFile {
 public:
  static constexpr std::int32_t kSizeLimit = 5'242'880;

  // Does not open the file. The module name is the file name of `path` cut before its
  // first "."; an empty path makes Open return NoFileName.
  explicit LogFile(std::string path);
  ~LogFile();  // closes
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Opens for appending (creating the file when missing); the size counter starts at the
  // file's size on disk.
  LogResult Open();
  LogResult Close();
  // Writes one line; rotates first when the counter has reached kSizeLimit.
  LogResult Write(std::string_view text, LogLevels level = {});
  // Writes "EXCEPTION in " + where + " - " + class name of e + ":\r\n" + e.what() + "\r\n"
  // + extra as one line (three physical lines).
  LogResult WriteException(std::string_view where, const std::exception& e, std::string_view extra = {},
                           LogLevels level = {});

  void SetMask(LogLevels mask);
  LogLevels Mask() const;
  bool IsOpen() const;
  std::int32_t SizeCounter() const;
  const std::string& Path() const { return path_; }
  const std::string& RotatedPath() const { return rotated_path_; }
  const std::string& ModuleName() const { return module_; }

 private:
  LogResult OpenLocked();
  LogResult CloseLocked();
  LogResult RotateLocked();

  const std::string path_;
  const std::string rotated_path_;
  const std::string module_;
  const std::string prefix_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  std::int32_t size_ = 0;
  LogLevels mask_;
};

// The time-stamp piece of a log line for `when` ("%2d.%.2d.%.4d %.2d:%.2d:%.2d").
std::string LogTimestamp(const LocalTime& when);
// The same for the current local time.
std::string LogTimestamp();
// Size in bytes of the file at `path`, 0 when it cannot be opened for reading.
std::int32_t LogFileSize(const std::string& path);
// The class name that LogException writes for `e` (demangled, without namespaces).
std::string ExceptionClassName(const std::exception& e);

// The process's own log (the program's path with extension ".log").
LogFile& ProcessLog();
// Opens the process's log now; every program calls it first in main, so that a run that
// writes no line still leaves its log. Later calls change nothing.
void OpenProcessLog();
LogResult LogWrite(std::string_view text, LogLevels level = {});
LogResult LogException(std::string_view where, const std::exception& e, std::string_view extra = {},
                       LogLevels level = {});
// The process log's mask; empty at start.
void SetLogMask(LogLevels mask);
LogLevels LogMask();

}  // namespace ecr
