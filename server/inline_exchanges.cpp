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
    // A command cancelled meanwhile is not pending any more, and one queued since (by the
    // owner or by the SET's next owner) is not the one sent.
    if (TSetDescr* sent = context_.PendingOwedRequest()) sent->State = kStateSent;
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
  // The reply clears the command it answers (the register has had it, whatever came back).
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
  // A request queued since the answer was handed over (after an early reply, a cancel, or
  // by the SET's next owner) is not this reply's and stays pending.
  context_.AnswerCurrentExchange(server, ErrorCodeOfLinkResult(result));
  Cancel(poller);
}

}  // namespace ecr
