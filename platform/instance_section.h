#pragma once
// The text of instance messages: a file of 65,535 bytes that every channel using one socket
// folder maps shared. It lives in the user's private socket folder (mode 0700, the user's
// own, see PrivateSocketFolder), where no other user can make a file, so nobody can take
// its name first and cut a program off its other starts, as a name in a folder open to
// everyone (the system's shared-memory folder) would allow.
//
// The file lives as long as one of its users is open: each holds a read lock on a byte
// past the data, and the one that closes last (its lock can become a write lock) removes
// it. Writes and reads of the text lock another byte, so a reader never sees half of a
// text. The file's blocks are reserved when it is opened, so a full disk fails the open,
// never a later write into the mapping.
//
// Thread safety: one section object belongs to one thread. Distinct objects, of one file
// or of several, in one process or several, may be used from different threads at once.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace ecr {

class InstanceSection {
 public:
  static constexpr std::size_t kSize = 65'535;
  // The longest text Write stores: the section less its terminating zero.
  static constexpr std::size_t kMaxTextLength = kSize - 1;
  // How the names of section files end.
  static constexpr std::string_view kFileEnding = ".section";

  // Opens the section file at `path`, creating it (mode 0600) when missing. Null, with the
  // reason in `error` (an errno value), when it cannot be opened, sized or mapped, or when
  // the path names no regular file of this user (a link included).
  static std::unique_ptr<InstanceSection> Open(const std::string& path, int& error);

  ~InstanceSection();
  InstanceSection(const InstanceSection&) = delete;
  InstanceSection& operator=(const InstanceSection&) = delete;

  const std::string& Path() const { return path_; }

  // Whether Path() still names this section: false once its folder went away (and maybe
  // came anew, with a section of its own at the name).
  bool AtItsPath() const;

  // Writes `text` (cut to kMaxTextLength) and a terminating zero at the start.
  void Write(std::string_view text);

  // The text up to its first zero, at most maxLength bytes.
  std::string Read(std::size_t maxLength) const;

 private:
  InstanceSection(std::string path, int fd, unsigned char* view);

  std::string path_;
  int fd_;
  unsigned char* view_;
};

// Removes the section files of this user in `folder` whose names begin with `prefix` and
// that nobody holds: those of processes that ended without closing them (killed, or ended
// by exit()). `keepPath` (written `folder` + "/" + name) stays whatever its state. Safe
// against sections being opened meanwhile.
void RemoveAbandonedSections(const std::string& folder, std::string_view prefix, const std::string& keepPath);

}  // namespace ecr
