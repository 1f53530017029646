// The InLine road: a register's status, the SET 5 command it is handed, the send result
// and the register's answer.

#include <cstdint>
#include <limits>
#include <optional>

#include "foundation/fields.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/decimal_integer.h"
#include "server/link_result_codes.h"
#include "server/request_engine.h"

namespace ecr {

namespace {

constexpr std::uint8_t kCommandSet = 5;
constexpr std::uint8_t kKeepAliveStart = 15;

bool IsLogNo(int logNo) { return logNo >= 1 && logNo <= kMaxLogNo; }

// The first character of what a SET 5 command sends to the register.
std::optional<char> InLineLetter(std::uint8_t command) {
  switch (command) {
    case 4: return 'R';
    case 5: return 'P';
    case 6: return 'W';
    case 8: return 'T';
    case 9: return 'I';
    case 10: return 'C';
    case 11: return 'Y';
    case 12: return 'Z';
    case 13: return 'B';
    default: return std::nullopt;
  }
}

void Cancel(PollingControl* poller) {
  if (poller != nullptr) poller->CancelExchange();
}

}  // namespace

void RequestEngine::OnEcrStatus(ClientSender& server, PollingControl* poller, int logNo,
                                const std::string& block, std::uint8_t /*result*/) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  earlyReplySent_ = false;
  if (!IsLogNo(logNo)) {
    Cancel(poller);
    return;
  }
  EcrSettings& counters = context_.Settings().Ecr(logNo);
  counters.SerialNumber =
      static_cast<std::int32_t>(DecimalIntegerIn(GetField(block, 1), std::numeric_limits<std::int32_t>::min(),
                      std::numeric_limits<std::int32_t>::max()).value_or(0));
  counters.Mode = EcrModeInLine;
  counters.KeepAlive = kKeepAliveStart;

  TSetDescr& set = context_.EcrTable.At(logNo).Set(kCommandSet);
  if (set.Command == 0) {
    Cancel(poller);
    return;
  }
  context_.SetExchange(kCommandSet, set.Command, static_cast<std::uint8_t>(logNo), set.Payload, {});
  const std::optional<char> letter = InLineLetter(set.Command);
  if (!letter) {
    // Only the client handlers queue SET 5 commands, and they queue lettered ones alone.
    context_.AnswerCurrentExchange(server, erUnknownCommand);
    Cancel(poller);
    return;
  }
  std::string command = *letter + set.Payload;
  if (command.size() > kMaxMessageLength) command.resize(kMaxMessageLength);
  if (poller != nullptr) poller->SetInLineCommand(command);
}

void RequestEngine::OnCommandSent(ClientSender& server, PollingControl* poller, int logNo,
                                  std::uint8_t result) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  if (!IsLogNo(logNo)) {
    Cancel(poller);
    return;
  }
  if (result == 0) {
    context_.EcrTable.At(logNo).Set(kCommandSet).State = kStateSent;
    return;
  }
  context_.AnswerCurrentExchange(server, ErrorCodeOfLinkResult(result));
  Cancel(poller);
}

void RequestEngine::OnCommandAnswer(ClientSender& server, PollingControl* poller, int logNo,
                                    const std::string& block, std::uint8_t result) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  if (!IsLogNo(logNo)) {
    Cancel(poller);
    return;
  }
  TSetDescr& set = context_.EcrTable.At(logNo).Set(kCommandSet);
  set.Command = 0;
  set.State = kStateNone;
  context_.WaitRes.Payload = block.substr(0, kMaxMessageLength);
  std::uint8_t errorCode = ErrorCodeOfLinkResult(result);
  if (result == 0 && !block.empty() && block.front() == 'E') errorCode = erEcrError;
  context_.AnswerCurrentExchange(server, errorCode);
  Cancel(poller);
}

void RequestEngine::OnOnlineAnswerSent(ClientSender& server, PollingControl* poller, int /*logNo*/,
                                       std::uint8_t result) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  const TWaitRes& owed = context_.WaitRes;
  const bool keepQueued = earlyReplySent_ && owed.SetNo != 0 && owed.SetNo <= kSetCount &&
                          IsLogNo(owed.LogNo);
  earlyReplySent_ = false;
  if (keepQueued) {
    // The owner had its reply before the send and may have queued its next request since;
    // the reply to the send must not drop it.
    TSetDescr& set = context_.EcrTable.At(owed.LogNo).Set(owed.SetNo);
    const TSetDescr pending = set;
    context_.AnswerCurrentExchange(server, ErrorCodeOfLinkResult(result));
    set.Command = pending.Command;
    set.State = pending.State;
  } else {
    context_.AnswerCurrentExchange(server, ErrorCodeOfLinkResult(result));
  }
  Cancel(poller);
}

}  // namespace ecr
