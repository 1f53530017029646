#include "platform/instance_channel.h"

#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ecr {
namespace {

constexpr std::array<char, 4> kNoticeMagic{'E', 'C', 'I', 'M'};
// magic, message id, two zero bytes, parameter, sender id
constexpr std::size_t kNoticeSize = 4 + 2 + 2 + 4 + 8;

std::uint64_t NameHash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull;  // 64-bit FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string UserPrefix() { return "ecr-im-" + std::to_string(geteuid()) + "-"; }

std::string BaseNameOf(std::string_view name) {
  char hash[32];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(NameHash(name)));
  return UserPrefix() + hash;
}

std::uint32_t NextSerial() {
  static std::atomic<std::uint32_t> serial{0};
  return serial.fetch_add(1, std::memory_order_relaxed);
}

std::array<unsigned char, kNoticeSize> EncodeNotice(const InstanceNotice& notice) {
  std::array<unsigned char, kNoticeSize> bytes{};
  std::memcpy(bytes.data(), kNoticeMagic.data(), 4);
  std::memcpy(bytes.data() + 4, &notice.messageId, 2);
  std::memcpy(bytes.data() + 8, &notice.param, 4);
  std::memcpy(bytes.data() + 12, &notice.senderId, 8);
  return bytes;
}

std::optional<InstanceNotice> DecodeNotice(const unsigned char* bytes, std::size_t size) {
  if (size != kNoticeSize || std::memcmp(bytes, kNoticeMagic.data(), 4) != 0 || bytes[6] != 0 || bytes[7] != 0)
    return std::nullopt;
  InstanceNotice notice;
  std::memcpy(&notice.messageId, bytes + 4, 2);
  std::memcpy(&notice.param, bytes + 8, 4);
  std::memcpy(&notice.senderId, bytes + 12, 8);
  return notice;
}

// The process id in a socket file's name "<base>.<pid>.<serial>"; 0 when there is none.
pid_t PidOfSocketFile(std::string_view file) {
  const std::size_t dot = file.find('.');
  if (dot == std::string_view::npos) return 0;
  const std::string_view rest = file.substr(dot + 1);
  const std::string pid(rest.substr(0, rest.find('.')));
  char* end = nullptr;
  const long value = std::strtol(pid.c_str(), &end, 10);
  return !pid.empty() && *end == '\0' && value > 0 && value <= INT32_MAX ? static_cast<pid_t>(value) : 0;
}

// True when the process a socket file's name gives is gone; a process that reuses the id
// keeps its own file.
bool ProcessOfSocketGone(std::string_view file) {
  const pid_t pid = PidOfSocketFile(file);
  return pid > 0 && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes a socket file that refuses datagrams when its process is gone.
void RemoveDeadSocket(const std::string& path, std::string_view file) {
  if (ProcessOfSocketGone(file)) unlink(path.c_str());
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string ErrorText(int error) {
  char text[256];
  return strerror_r(error, text, sizeof text);
}

// True when nothing is bound to the socket file at `path` any more.
bool NobodyBound(const std::string& path) {
  sockaddr_un address{};
  if (!FillAddress(path, address)) return false;
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool refused =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED;
  close(probe);
  return refused;
}

// Calls visit(path, file name) for each socket file of this user in `folder` whose name
// starts with `prefix`; a link or another user's file in its place is passed over.
template <typename Visit>
void ForEachOwnSocket(const std::string& folder, std::string_view prefix, Visit visit) {
  DIR* entries = opendir(folder.c_str());
  if (entries == nullptr) return;
  while (dirent* entry = readdir(entries)) {
    const std::string_view file(entry->d_name);
    if (!file.starts_with(prefix)) continue;
    const std::string path = folder + "/" + std::string(file);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != geteuid()) continue;
    visit(path, file);
  }
  closedir(entries);
}

// Removes this user's socket files (of any name) in `folder` that processes left when
// they were killed: nobody is bound to them and their process is gone.
void RemoveDeadSockets(const std::string& folder) {
  ForEachOwnSocket(folder, UserPrefix(), [](const std::string& path, std::string_view file) {
    if (ProcessOfSocketGone(file) && NobodyBound(path)) unlink(path.c_str());
  });
}

// Why `folder` may not hold this user's sockets; empty when it may.
std::string FolderRefusal(const std::string& folder) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) return ErrorText(errno);
  if (!S_ISDIR(info.st_mode)) return "not a folder";
  if (info.st_uid != geteuid()) return "belongs to user " + std::to_string(info.st_uid);
  if ((info.st_mode & 077) != 0) return "open to other users";
  return {};
}

// <base>/ecr-im-<uid>, made when missing, or the refusal "<path>: <why>".
std::string MakePrivateFolder(std::string_view base, std::string& refusal) {
  std::string folder(base);
  folder += "/ecr-im-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    refusal = folder + ": " + ErrorText(errno);
    return {};
  }
  if (const std::string why = FolderRefusal(folder); !why.empty()) {
    refusal = folder + ": " + why;
    return {};
  }
  return folder;
}

std::vector<std::string> WithoutEmpty(std::vector<std::string> folders) {
  std::erase_if(folders, [](const std::string& folder) { return folder.empty(); });
  return folders;
}

}  // namespace

std::string PrivateSocketFolder(std::string_view base) {
  std::string refusal;
  return MakePrivateFolder(base, refusal);
}

InstanceFolders ChooseInstanceFolders(std::string_view runtimeBase, std::string_view temporaryBase) {
  InstanceFolders folders;
  const auto consider = [&folders](std::string_view base) {
    std::string refusal;
    if (std::string folder = MakePrivateFolder(base, refusal); !folder.empty()) {
      folders.usable.push_back(std::move(folder));
    } else {
      folders.skipped.push_back(std::move(refusal));
    }
  };
  // The runtime folder exists only while the user has a session; it must be the user's
  // own, or its owner could move our folder away.
  struct stat runtime {};
  const std::string runtimePath(runtimeBase);
  if (lstat(runtimePath.c_str(), &runtime) == 0) {
    if (!S_ISDIR(runtime.st_mode)) {
      folders.skipped.push_back(runtimePath + ": not a folder");
    } else if (runtime.st_uid != geteuid()) {
      folders.skipped.push_back(runtimePath + ": belongs to user " + std::to_string(runtime.st_uid));
    } else {
      consider(runtimeBase);
    }
  }
  consider(temporaryBase);
  return folders;
}

InstanceFolders InstanceSocketFolders() {
  return ChooseInstanceFolders("/run/user/" + std::to_string(geteuid()), "/tmp");
}

InstanceChannel::InstanceChannel(std::string_view name, std::vector<std::string> socketFolders)
    : baseName_(BaseNameOf(name)),
      senderId_((static_cast<std::uint64_t>(static_cast<std::uint32_t>(getpid())) << 32) | NextSerial()) {
  socketFolders = WithoutEmpty(std::move(socketFolders));
  for (const std::string& folder : socketFolders) {
    RemoveDeadSockets(folder);
    RemoveAbandonedSections(folder, UserPrefix(), SectionPathIn(folder));
  }
  OpenSections(socketFolders);
  if (!OpenSocket()) Close();
}

InstanceChannel::InstanceChannel(std::string_view name, std::string socketFolder)
    : InstanceChannel(name, std::vector<std::string>{std::move(socketFolder)}) {}

InstanceChannel::~InstanceChannel() { Close(); }

std::string InstanceChannel::SectionPathIn(const std::string& folder) const {
  return folder + "/" + baseName_ + std::string(InstanceSection::kFileEnding);
}

void InstanceChannel::Fail(std::string_view what, int error) {
  error_ = std::string(what) + ": " + ErrorText(error);
}

void InstanceChannel::OpenSections(const std::vector<std::string>& socketFolders) {
  for (const std::string& folder : socketFolders) {
    const std::string path = SectionPathIn(folder);
    int error = 0;
    if (std::unique_ptr<InstanceSection> section = InstanceSection::Open(path, error)) {
      folders_.push_back(Folder{folder, std::move(section)});
    } else {
      // The other folders still serve: a full /tmp must not cut off a runtime folder.
      skippedFolders_.push_back(path + ": " + ErrorText(error));
    }
  }
  if (!folders_.empty()) sectionPath_ = folders_.front().section->Path();
}

bool InstanceChannel::OpenSocket() {
  if (folders_.empty()) {
    error_ = "no usable socket folder";
    return false;
  }
  std::string path = folders_.front().path + "/" + baseName_ + "." + std::to_string(senderId_ >> 32) + "." +
                     std::to_string(senderId_ & 0xffffffffu);
  sockaddr_un address{};
  if (!FillAddress(path, address)) {
    Fail("socket " + path, ENAMETOOLONG);
    return false;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail("socket", errno);
    return false;
  }
  // A file of this name can only be left by a dead process that had our process id.
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    Fail("socket " + path, errno);
    close(fd);
    return false;
  }
  // Others of the same user only: the text may be a password.
  chmod(path.c_str(), 0600);
  socketFd_ = fd;
  socketPath_ = std::move(path);
  return true;
}

void InstanceChannel::Close() {
  if (socketFd_ >= 0) {
    close(socketFd_);
    socketFd_ = -1;
  }
  if (!socketPath_.empty()) {
    unlink(socketPath_.c_str());
    socketPath_.clear();
  }
  // Each section removes its file when this channel was its last user.
  folders_.clear();
}

PostResult InstanceChannel::Post(std::uint16_t messageId, std::int32_t param, std::string_view text) {
  PostResult result;
  if (!IsOpen()) return result;
  result.posted = true;
  const auto bytes = EncodeNotice(InstanceNotice{messageId, param, senderId_});
  const std::string prefix = baseName_ + ".";
  for (const Folder& socketFolder : folders_) {
    // The copies whose sockets are here read the text from this folder's section.
    socketFolder.section->Write(text);
    ForEachOwnSocket(socketFolder.path, prefix, [&](const std::string& path, std::string_view file) {
      sockaddr_un address{};
      if (!FillAddress(path, address)) return;
      // Failures (a dead process's socket, a full queue) only mean that one misses it.
      if (sendto(socketFd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0) {
        if (path != socketPath_) ++result.othersReached;
      } else if (errno == ECONNREFUSED) {
        RemoveDeadSocket(path, file);
      }
    });
  }
  return result;
}

std::optional<InstanceNotice> InstanceChannel::NextNotice() {
  if (!IsOpen()) return std::nullopt;
  for (;;) {
    std::array<unsigned char, kNoticeSize + 1> buffer{};
    ssize_t received = recv(socketFd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (auto notice = DecodeNotice(buffer.data(), static_cast<std::size_t>(received))) return notice;
  }
}

std::string InstanceChannel::ReadText(std::size_t maxLength) const {
  if (folders_.empty()) return {};
  return folders_.front().section->Read(maxLength);
}

}  // namespace ecr
