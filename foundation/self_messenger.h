#pragma once
// Messages between processes of one program: a second start hands a short text to the
// copy that is already running. Processes of one user meet by the instance-message name,
// which is made from the executable's real path and nothing in the environment, so a second
// start from a terminal, ssh, cron or a service reaches the copy in the desktop session,
// and two copies installed in different folders never see each other's messages. The only
// message in use is smQuit, a request to close that carries a password.
//
// TSelfMessenger is plain C++: it exposes a descriptor that becomes readable while
// messages wait, and Receive(), which the program's event loop calls when it is (the
// window programs use SelfMessengerHost of foundation/widgets/, a socket notifier).
// Every message sent under the name, the sender's own included, reaches every messenger
// of the name; LoopBack tells a messenger that the message is its own. A messenger answers
// every message of another one, before its handler runs: taken when its handler gets it,
// not taken when it has no handler (yet), is busy in it, or ends with the message still
// waiting. A sender that waits for the answers (SendAndAwait) so learns whether a running
// copy took its message, and never counts another start's messenger as one.
//
// Thread safety: one messenger belongs to one thread (the main thread): construction,
// Send, Receive and SetOnSelfEvent are called there only.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/instance_channel.h"

namespace ecr {

// The request to close; its text is the password the user gave with the close parameter.
inline constexpr int smQuit = 2;

// The instance-message name of an executable: its full path with every "/" replaced by
// "_". The name is kept whole: a cut would let two long installation paths that agree
// in their first characters share one name.
std::string SelfMessageName(std::string_view executablePath);

// The message number registered for a name: 0xC000..0xFFFF, equal for equal names.
std::uint16_t SelfMessageId(std::string_view name);

// The line a program logs for a socket folder its messenger skipped.
std::string SkippedFolderLogLine(std::string_view skipped);

// The line a program logs when its messenger could not open: `error` is its Error().
std::string ClosedMessengerLogLine(std::string_view error);

class TSelfMessenger {
 public:
  // The longest text a handler receives; longer texts arrive cut.
  static constexpr std::size_t kMaxReceivedText = 255;

  using SelfEvent = std::function<void(TSelfMessenger& sender, int msgId, const std::string& text, bool loopBack)>;

  // Messenger of the running program (named from its real path), sockets in
  // InstanceSocketFolders().
  TSelfMessenger();
  // Messenger of the program at `executablePath`.
  explicit TSelfMessenger(std::string_view executablePath, InstanceFolders folders = InstanceSocketFolders());
  // The same with the sockets in one folder.
  TSelfMessenger(std::string_view executablePath, std::string socketFolder);
  // Answers the messages that still wait: not taken.
  ~TSelfMessenger();
  TSelfMessenger(const TSelfMessenger&) = delete;
  TSelfMessenger& operator=(const TSelfMessenger&) = delete;

  // What the messengers a message reached did with it.
  enum class SendOutcome {
    Taken,       // one of them handed it to its handler
    NotTaken,    // none of them did, or it reached none: each answered so or ended
    Unanswered,  // some of them neither answered nor ended while the sender waited
  };

  const std::string& Name() const { return name_; }
  std::uint16_t MessageId() const { return messageId_; }
  // This messenger's identity in every message it sends.
  std::uint64_t AppId() const { return channel_.SenderId(); }

  // False when no folder's section opened or the socket could not be bound; the messenger
  // then sends and receives nothing, and Error() says why.
  bool IsOpen() const { return channel_.IsOpen(); }
  const std::string& Error() const { return channel_.Error(); }
  // The socket folders refused because they are not the user's own or not private, or
  // because their section could not be opened, each as "<path>: <why>"; the program logs
  // them.
  const std::vector<std::string>& SkippedFolders() const { return skippedFolders_; }

  // Until a handler is set, arriving messages are consumed without effect.
  void SetOnSelfEvent(SelfEvent handler) { onSelfEvent_ = std::move(handler); }

  // Sends one message to every messenger of the name; does not wait for it to be handled
  // (only, for at most a second, for room in a receiver's full queue). The result is the
  // number of other messengers whose sockets took it (whether their programs handle it
  // is theirs). Texts longer than 65,534 bytes are cut to that length, and a text ends at
  // its first zero byte.
  int Send(int msgId, std::string_view text);

  // Sends as Send does, then waits until one of the messengers it reached took it, or each
  // of them answered that it did not or ended, at most `wait`, and no longer than until
  // `cancelFd` (when given) becomes readable. Messages of other messengers that arrive
  // meanwhile are answered as not taken: a messenger that waits for its answers is no
  // running copy. Afterwards this messenger receives nothing more.
  SendOutcome SendAndAwait(int msgId, std::string_view text, std::chrono::milliseconds wait, int cancelFd = -1);

  // Readable while messages wait; -1 when not open.
  int ReadableFd() const { return channel_.ReadableFd(); }

  // Handles every waiting message: calls the handler once per message with the text
  // (at most kMaxReceivedText bytes) and LoopBack. Messages that arrive while the
  // handler runs and a nested event loop calls Receive are dropped, not delivered (and
  // answered so).
  void Receive();

 private:
  std::string name_;
  std::uint16_t messageId_;
  std::vector<std::string> skippedFolders_;
  InstanceChannel channel_;
  SelfEvent onSelfEvent_;
  bool busy_ = false;
};

// The lines a program logs for its messenger: each skipped folder, and why it could not
// open at all.
std::vector<std::string> MessengerLogLines(const TSelfMessenger& messenger);

}  // namespace ecr
