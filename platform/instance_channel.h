#pragma once
// The transport of instance messages between processes of one program: in each of the
// user's private socket folders a section file that carries the text (InstanceSection),
// and in each of them one Unix datagram socket per open channel that carries the notice "a
// message is waiting" (message id, parameter, sender id) and the answer to it.
//
// Every channel of one name (same user) sees every notice posted under that name, its
// own included. File names are derived from a 64-bit hash of the whole name and the user
// id, so channels of different names (or users) never meet, whatever their length:
//   section   <folder>/ecr-im-<uid>-<hash>.section          (65,535 bytes, mode 0600)
//   sockets   <folder>/ecr-im-<uid>-<hash>.<pid>.<serial>   (mode 0600)
// The programs keep both in the folders InstanceSocketFolders() gives: the user's runtime
// folder /run/user/<uid>/ecr-im-<uid> while it exists (it comes and goes with the user's
// sessions), else /tmp/ecr-im-<uid>. A channel opens the section of every folder and binds
// a socket of the same file name in each, so that it stays reachable in the temporary
// folder when the runtime folder goes away with the user's last session. A post reaches
// each other channel once (by the first folder that holds its socket): the text goes into
// that folder's section and the notice to the channel's socket there, and the receiver
// reads the text from the section beside the socket that took the notice. A folder that
// is not the user's own, or that others may enter, is skipped (and said so), never used:
// another user could otherwise catch or block the notices or take the section. A folder
// whose section cannot be opened, or where the socket cannot be bound, is skipped as well.
// Every name here comes from the user and the name alone, never from the environment, so
// that a start from a terminal, ssh, cron or a service reaches the copy that runs in the
// desktop session, and the other way round.
//
// A receiver answers a notice (taken or not) to the socket it came from; the poster learns
// so who took its message.
//
// What a process leaves behind when it ends without closing its channel (killed, or ended
// by exit()) is removed later: every opening channel removes this user's sections that
// nobody holds and this user's socket files whose process is gone, in each of its
// folders, and a Post that finds a socket without its process removes that socket file.
// A later sender may replace the text before an earlier notice is handled, as with any
// single shared section.
//
// Thread safety: one channel belongs to one thread (the program's main thread). Distinct
// channels, in one process or several, may be used from different threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/instance_section.h"

namespace ecr {

// One datagram as it arrives.
struct InstanceNotice {
  std::uint16_t messageId = 0;
  std::int32_t param = 0;
  std::uint64_t senderId = 0;
  friend bool operator==(const InstanceNotice&, const InstanceNotice&) = default;
};

// A receiver's answer to one of this channel's notices.
struct InstanceAnswer {
  std::uint16_t messageId = 0;
  bool taken = false;
  // The answering channel's sender id.
  std::uint64_t answererId = 0;
  friend bool operator==(const InstanceAnswer&, const InstanceAnswer&) = default;
};

// Where the channels of this user keep their sections and sockets.
struct InstanceFolders {
  // The folders to use, the preferred first: a channel binds a socket in each of them, so
  // that it stays reachable when one goes away, and posts to all of them.
  std::vector<std::string> usable;
  // The folders refused because they are not the user's own or not private, each as
  // "<path>: <why>".
  std::vector<std::string> skipped;
};

// <runtimeBase>/ecr-im-<uid> when runtimeBase exists and belongs to the user (a missing
// one is no candidate, another user's is skipped), then <temporaryBase>/ecr-im-<uid>;
// each made and checked by PrivateSocketFolder.
InstanceFolders ChooseInstanceFolders(std::string_view runtimeBase, std::string_view temporaryBase);

// ChooseInstanceFolders("/run/user/<uid>", "/tmp"): fixed paths, whatever the environment
// says (the session's own $XDG_RUNTIME_DIR or $TMPDIR differ between a desktop session and
// a start from ssh, cron or a service).
InstanceFolders InstanceSocketFolders();

// `base`/ecr-im-<uid>, created with mode 0700 when missing. Empty when it cannot be
// created, is not a folder (a symbolic link counts as not), belongs to another user or
// is open to group or others.
std::string PrivateSocketFolder(std::string_view base);

// What one Post did. True when the channel was open (the notice went out).
struct PostResult {
  bool posted = false;
  // Other channels of the name whose sockets took the notice, and their sender ids.
  int othersReached = 0;
  std::vector<std::uint64_t> reached;
  explicit operator bool() const { return posted; }
};

class InstanceChannel {
 public:
  static constexpr std::size_t kSectionSize = InstanceSection::kSize;
  // The longest text Post stores: the section less its terminating zero.
  static constexpr std::size_t kMaxTextLength = InstanceSection::kMaxTextLength;

  // Opens (creating when needed) the section of `name` in each of `socketFolders` and
  // binds this channel's socket in each folder whose section opened; Post reaches the
  // sockets of the name in all of them. Never throws for system failures: IsOpen() tells,
  // Error() says why when no socket could be bound.
  InstanceChannel(std::string_view name, std::vector<std::string> socketFolders);
  // The same with one folder; an empty one is none.
  InstanceChannel(std::string_view name, std::string socketFolder);
  ~InstanceChannel();
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  bool IsOpen() const { return readableFd_ >= 0; }
  const std::string& Error() const { return error_; }
  // The folders left out because their section could not be opened or their socket not
  // bound (while another folder serves), each as "<section or socket path>: <why>".
  const std::vector<std::string>& SkippedFolders() const { return skippedFolders_; }

  // Unique among the open channels of the machine: process id in the upper 32 bits, a
  // per-process serial below.
  std::uint64_t SenderId() const { return senderId_; }

  // The descriptor that becomes readable while notices or answers wait on any of the
  // channel's sockets; -1 when not open.
  int ReadableFd() const { return readableFd_; }

  // In every folder: writes `text` (cut to kMaxTextLength) and a terminating zero at the
  // start of the folder's section, then sends the notice (messageId, param, SenderId()) to
  // every socket of the name there that no earlier folder reached, this channel's own
  // included. A socket whose process is gone misses the notice, and so does one whose queue
  // stays full for a second (its reader is held up). Not posted only when the channel is
  // not open.
  PostResult Post(std::uint16_t messageId, std::int32_t param, std::string_view text);

  // The next waiting notice, without waiting; nullopt when none waits. Answers to this
  // channel's own notices that wait on the way are kept for TakeAnswers(); datagrams that
  // are neither are dropped.
  std::optional<InstanceNotice> NextNotice();

  // Answers the notice NextNotice() gave last, to the socket it came from (waiting, as Post
  // does, while its queue is full). False when the answer could not be delivered: the
  // poster has gone or stopped receiving (or there is no notice to answer).
  bool Answer(bool taken);

  // The answers kept since the last call, in order of arrival.
  std::vector<InstanceAnswer> TakeAnswers();

  // Removes this channel's socket files: no notice or answer reaches it any more, and an
  // answer sent to it fails, while what waits already can still be read.
  void StopReceiving();

  // The text of the section beside the socket that took the last notice (before any: the
  // first folder's) up to its first zero, at most maxLength bytes.
  std::string ReadText(std::size_t maxLength) const;

  // The path of this channel's socket in its first folder (empty when not open).
  const std::string& SocketPath() const { return socketPath_; }
  // The path of the section beside this channel's socket (kept after the channel closes;
  // empty when no section opened).
  const std::string& SectionPath() const { return sectionPath_; }

 private:
  // One folder the channel posts to, with its section and this channel's socket there.
  struct Folder {
    std::string path;
    std::unique_ptr<InstanceSection> section;
    int socketFd = -1;
    std::string socketPath;
  };

  std::string SectionPathIn(const std::string& folder) const;
  void OpenFolders(const std::vector<std::string>& socketFolders);
  // This channel's socket in `folder`: its descriptor, or -1 with the reason in `why`.
  int BindSocket(const std::string& path, std::string& why) const;
  bool WatchSockets();
  void Close();

  std::string baseName_;
  // The file name of this channel's socket, the same in every folder.
  std::string socketFile_;
  std::vector<Folder> folders_;
  std::vector<std::string> skippedFolders_;
  std::string sectionPath_;
  std::string socketPath_;
  std::string error_;
  std::uint64_t senderId_ = 0;
  // An epoll descriptor over the sockets.
  int readableFd_ = -1;
  // The last notice, its folder and the poster's socket address (empty once answered).
  InstanceNotice lastNotice_;
  std::size_t lastFolder_ = 0;
  std::string lastPoster_;
  std::vector<InstanceAnswer> answers_;
};

}  // namespace ecr
