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
  takenOver_ = {};
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
  takenOver_ = {logNo, kCommandSet, false};
}

void RequestEngine::OnCommandSent(ClientSender& server, PollingControl* poller, int logNo,
                                  std::uint8_t result) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  if (!IsLogNo(logNo)) {
    Cancel(poller);
    return;
  }
  TSetDescr& set = context_.EcrTable.At(logNo).Set(kCommandSet);
  if (result == 0) {
    // A command cancelled meanwhile is not pending any more, and one queued since is not sent.
    if (!takenOver_.requeued && set.Command != 0) set.State = kStateSent;
    return;
  }
  AnswerKeepingPending(server, ErrorCodeOfLinkResult(result), takenOver_.requeued);
  takenOver_ = {};
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
  if (!takenOver_.requeued) {
    TSetDescr& set = context_.EcrTable.At(logNo).Set(kCommandSet);
    set.Command = 0;
    set.State = kStateNone;
  }
  context_.WaitRes.Payload = block.substr(0, kMaxMessageLength);
  std::uint8_t errorCode = ErrorCodeOfLinkResult(result);
  if (result == 0 && !block.empty() && block.front() == 'E') errorCode = erEcrError;
  AnswerKeepingPending(server, errorCode, takenOver_.requeued);
  takenOver_ = {};
  Cancel(poller);
}

void RequestEngine::OnOnlineAnswerSent(ClientSender& server, PollingControl* poller, int /*logNo*/,
                                       std::uint8_t result) {
  std::lock_guard<std::mutex> guard(mutex_);
  context_.ClearCurrentExchange();
  // The owner had its reply before the send (or cancelled its request), and may have queued
  // its next request since: the reply to the send must not drop it.
  AnswerKeepingPending(server, ErrorCodeOfLinkResult(result), earlyReplySent_ || takenOver_.requeued);
  earlyReplySent_ = false;
  takenOver_ = {};
  Cancel(poller);
}

void RequestEngine::AnswerKeepingPending(ClientSender& server, std::uint8_t ErrorCode, bool keepPending) {
  const TWaitRes& owed = context_.WaitRes;
  if (!keepPending || owed.SetNo == 0 || owed.SetNo > kSetCount || !IsLogNo(owed.LogNo)) {
    context_.AnswerCurrentExchange(server, ErrorCode);
    return;
  }
  TSetDescr& set = context_.EcrTable.At(owed.LogNo).Set(owed.SetNo);
  const std::uint8_t command = set.Command;
  const std::uint8_t state = set.State;
  context_.AnswerCurrentExchange(server, ErrorCode);
  set.Command = command;
  set.State = state;
}

}  // namespace ecr
