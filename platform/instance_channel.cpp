#include "platform/instance_channel.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace ecr {
namespace {

constexpr std::array<char, 4> kNoticeMagic{'E', 'C', 'I', 'M'};
// magic, message id, two zero bytes, parameter, sender id
constexpr std::size_t kNoticeSize = 4 + 2 + 2 + 4 + 8;
constexpr std::array<char, 4> kAnswerMagic{'E', 'C', 'I', 'A'};
// magic, message id, taken (0 or 1), a zero byte, the answerer's id, the answered sender's id
constexpr std::size_t kAnswerSize = 4 + 2 + 1 + 1 + 8 + 8;

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

std::array<unsigned char, kAnswerSize> EncodeAnswer(std::uint16_t messageId, bool taken, std::uint64_t answerer,
                                                    std::uint64_t answered) {
  std::array<unsigned char, kAnswerSize> bytes{};
  std::memcpy(bytes.data(), kAnswerMagic.data(), 4);
  std::memcpy(bytes.data() + 4, &messageId, 2);
  bytes[6] = taken ? 1 : 0;
  std::memcpy(bytes.data() + 8, &answerer, 8);
  std::memcpy(bytes.data() + 16, &answered, 8);
  return bytes;
}

// The answer, when the datagram is one to the channel `receiver`.
std::optional<InstanceAnswer> DecodeAnswer(const unsigned char* bytes, std::size_t size, std::uint64_t receiver) {
  if (size != kAnswerSize || std::memcmp(bytes, kAnswerMagic.data(), 4) != 0 || bytes[6] > 1 || bytes[7] != 0)
    return std::nullopt;
  std::uint64_t answered = 0;
  std::memcpy(&answered, bytes + 16, 8);
  if (answered != receiver) return std::nullopt;
  InstanceAnswer answer;
  std::memcpy(&answer.messageId, bytes + 4, 2);
  answer.taken = bytes[6] == 1;
  std::memcpy(&answer.answererId, bytes + 8, 8);
  return answer;
}

// The sender id in a socket file's name "<base>.<pid>.<serial>"; nullopt when there is none.
std::optional<std::uint64_t> SenderIdOfSocketFile(std::string_view file) {
  const std::size_t dot = file.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view rest = file.substr(dot + 1);
  const std::size_t second = rest.find('.');
  if (second == std::string_view::npos) return std::nullopt;
  const std::string pid(rest.substr(0, second));
  const std::string serial(rest.substr(second + 1));
  char* pidEnd = nullptr;
  char* serialEnd = nullptr;
  const long long pidValue = std::strtoll(pid.c_str(), &pidEnd, 10);
  const long long serialValue = std::strtoll(serial.c_str(), &serialEnd, 10);
  if (pid.empty() || *pidEnd != '\0' || pidValue <= 0 || pidValue > INT32_MAX) return std::nullopt;
  if (serial.empty() || *serialEnd != '\0' || serialValue < 0 || serialValue > UINT32_MAX) return std::nullopt;
  return (static_cast<std::uint64_t>(pidValue) << 32) | static_cast<std::uint64_t>(serialValue);
}

// The process id in a socket file's name; 0 when there is none.
pid_t PidOfSocketFile(std::string_view file) {
  const std::optional<std::uint64_t> id = SenderIdOfSocketFile(file);
  return id ? static_cast<pid_t>(*id >> 32) : 0;
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

// How long a datagram waits for room in a receiver's queue (the system keeps few): one
// that reads only a moment later still gets it.
constexpr std::chrono::milliseconds kRoomWait{1000};

// Sends `bytes` from `fd` to the socket at `address`; when its queue is full, waits (at
// most kRoomWait) until the receiver has read some. A probe connected to the receiver tells
// when it has room; `fd` itself stays unconnected, so that it keeps receiving from anyone.
bool SendWhenThereIsRoom(int fd, const sockaddr_un& address, const void* bytes, std::size_t size) {
  const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
  int probe = -1;
  bool sent = false;
  for (;;) {
    if (sendto(fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
               sizeof address) >= 0) {
      sent = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) break;
    if (probe < 0) {
      probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (probe < 0 || connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd room{probe, POLLOUT, 0};
    if (left <= 0 || poll(&room, 1, static_cast<int>(left)) <= 0) {
      errno = EAGAIN;
      break;
    }
  }
  const int error = errno;
  if (probe >= 0) close(probe);
  errno = error;
  return sent;
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
  socketFile_ = baseName_ + "." + std::to_string(senderId_ >> 32) + "." + std::to_string(senderId_ & 0xffffffffu);
  socketFolders = WithoutEmpty(std::move(socketFolders));
  for (const std::string& folder : socketFolders) {
    RemoveDeadSockets(folder);
    RemoveAbandonedSections(folder, UserPrefix(), SectionPathIn(folder));
  }
  OpenFolders(socketFolders);
  if (!WatchSockets()) Close();
}

InstanceChannel::InstanceChannel(std::string_view name, std::string socketFolder)
    : InstanceChannel(name, std::vector<std::string>{std::move(socketFolder)}) {}

InstanceChannel::~InstanceChannel() { Close(); }

std::string InstanceChannel::SectionPathIn(const std::string& folder) const {
  return folder + "/" + baseName_ + std::string(InstanceSection::kFileEnding);
}

void InstanceChannel::OpenFolders(const std::vector<std::string>& socketFolders) {
  std::vector<std::string> unbound;
  for (const std::string& folder : socketFolders) {
    const std::string path = SectionPathIn(folder);
    int error = 0;
    std::unique_ptr<InstanceSection> section = InstanceSection::Open(path, error);
    if (!section) {
      // The other folders still serve: a full /tmp must not cut off a runtime folder.
      skippedFolders_.push_back(path + ": " + ErrorText(error));
      continue;
    }
    Folder opened{folder, std::move(section), -1, folder + "/" + socketFile_};
    std::string why;
    opened.socketFd = BindSocket(opened.socketPath, why);
    if (opened.socketFd < 0) {
      unbound.push_back(std::move(why));
      continue;  // its section goes again with `opened`
    }
    folders_.push_back(std::move(opened));
  }
  if (folders_.empty()) {
    error_ = !unbound.empty() ? unbound.front() : "no usable socket folder";
    return;
  }
  skippedFolders_.insert(skippedFolders_.end(), unbound.begin(), unbound.end());
  sectionPath_ = folders_.front().section->Path();
  socketPath_ = folders_.front().socketPath;
}

int InstanceChannel::BindSocket(const std::string& path, std::string& why) const {
  sockaddr_un address{};
  if (!FillAddress(path, address)) {
    why = "socket " + path + ": " + ErrorText(ENAMETOOLONG);
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = "socket: " + ErrorText(errno);
    return -1;
  }
  // A file of this name can only be left by a dead process that had our process id.
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    why = "socket " + path + ": " + ErrorText(errno);
    close(fd);
    return -1;
  }
  // Others of the same user only: the text may be a password.
  chmod(path.c_str(), 0600);
  return fd;
}

bool InstanceChannel::WatchSockets() {
  if (folders_.empty()) return false;
  readableFd_ = epoll_create1(EPOLL_CLOEXEC);
  if (readableFd_ < 0) {
    error_ = "epoll: " + ErrorText(errno);
    return false;
  }
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = i;
    if (epoll_ctl(readableFd_, EPOLL_CTL_ADD, folders_[i].socketFd, &event) != 0) {
      error_ = "epoll: " + ErrorText(errno);
      return false;
    }
  }
  return true;
}

void InstanceChannel::Close() {
  if (readableFd_ >= 0) {
    close(readableFd_);
    readableFd_ = -1;
  }
  StopReceiving();
  for (Folder& folder : folders_) {
    if (folder.socketFd >= 0) close(folder.socketFd);
    folder.socketFd = -1;
  }
  socketPath_.clear();
  // Each section removes its file when this channel was its last user.
  folders_.clear();
}

void InstanceChannel::StopReceiving() {
  for (Folder& folder : folders_) {
    if (!folder.socketPath.empty()) unlink(folder.socketPath.c_str());
    folder.socketPath.clear();
  }
}

PostResult InstanceChannel::Post(std::uint16_t messageId, std::int32_t param, std::string_view text) {
  PostResult result;
  if (!IsOpen()) return result;
  result.posted = true;
  const auto bytes = EncodeNotice(InstanceNotice{messageId, param, senderId_});
  const std::string prefix = baseName_ + ".";
  // Each channel has a socket of one file name in every folder it uses; it is reached once.
  std::set<std::string, std::less<>> reached;
  for (const Folder& socketFolder : folders_) {
    // A folder that went away (the runtime folder with the user's last session) no longer
    // holds this channel's section, even when it came anew: its copies there, if any, are
    // reached through the folders that follow.
    if (!socketFolder.section->AtItsPath()) continue;
    // The copies whose sockets are here read the text from this folder's section.
    socketFolder.section->Write(text);
    ForEachOwnSocket(socketFolder.path, prefix, [&](const std::string& path, std::string_view file) {
      if (reached.contains(file)) return;
      sockaddr_un address{};
      if (!FillAddress(path, address)) return;
      // Sent from the socket of the same folder, which the answer then comes back to.
      if (SendWhenThereIsRoom(socketFolder.socketFd, address, bytes.data(), bytes.size())) {
        reached.emplace(file);
        if (file == socketFile_) return;
        ++result.othersReached;
        if (const std::optional<std::uint64_t> id = SenderIdOfSocketFile(file)) result.reached.push_back(*id);
      } else if (errno == ECONNREFUSED) {
        // Failures (a dead process's socket, a full queue) only mean that one misses it.
        RemoveDeadSocket(path, file);
      }
    });
  }
  return result;
}

std::optional<InstanceNotice> InstanceChannel::NextNotice() {
  if (!IsOpen()) return std::nullopt;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    for (;;) {
      std::array<unsigned char, std::max(kNoticeSize, kAnswerSize) + 1> buffer{};
      sockaddr_un poster{};
      socklen_t posterLength = sizeof poster;
      const ssize_t received = recvfrom(folders_[i].socketFd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&poster), &posterLength);
      if (received < 0) {
        if (errno == EINTR) continue;
        break;  // nothing more waits on this socket
      }
      const auto size = static_cast<std::size_t>(received);
      if (auto answer = DecodeAnswer(buffer.data(), size, senderId_)) {
        answers_.push_back(*answer);
        continue;
      }
      auto notice = DecodeNotice(buffer.data(), size);
      if (!notice) continue;
      lastFolder_ = i;
      lastNotice_ = *notice;
      const std::size_t pathLength = posterLength > offsetof(sockaddr_un, sun_path)
                                         ? strnlen(poster.sun_path, posterLength - offsetof(sockaddr_un, sun_path))
                                         : 0;
      lastPoster_.assign(poster.sun_path, pathLength);
      return notice;
    }
  }
  return std::nullopt;
}

bool InstanceChannel::Answer(bool taken) {
  if (!IsOpen() || lastPoster_.empty()) return false;
  const auto bytes = EncodeAnswer(lastNotice_.messageId, taken, senderId_, lastNotice_.senderId);
  // The socket the notice came from, else the poster's socket of the same name in another
  // folder: the one it came by may have gone since (the runtime folder with the session).
  const std::size_t slash = lastPoster_.rfind('/');
  std::vector<std::string> sockets{lastPoster_};
  if (slash != std::string::npos) {
    for (const Folder& folder : folders_)
      if (folder.path != lastPoster_.substr(0, slash)) sockets.push_back(folder.path + lastPoster_.substr(slash));
  }
  lastPoster_.clear();  // one answer per notice
  for (const std::string& socketPath : sockets) {
    sockaddr_un address{};
    if (!FillAddress(socketPath, address)) continue;
    if (SendWhenThereIsRoom(folders_[lastFolder_].socketFd, address, bytes.data(), bytes.size())) return true;
    if (errno != ENOENT && errno != ECONNREFUSED) return false;
  }
  return false;
}

std::vector<InstanceAnswer> InstanceChannel::TakeAnswers() { return std::exchange(answers_, {}); }

std::string InstanceChannel::ReadText(std::size_t maxLength) const {
  if (folders_.empty()) return {};
  return folders_[lastFolder_ < folders_.size() ? lastFolder_ : 0].section->Read(maxLength);
}

}  // namespace ecr
