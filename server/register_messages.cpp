// The OnLine road: which register messages are taken, how each message code is handled,
// the notifications to the clients, and the held-back replies of fiscal questions.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "foundation/fields.h"
#include "foundation/number_parsing.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/decimal_integer.h"
#include "server/ecr_code_channel_map.h"
#include "server/request_engine.h"

namespace ecr {

namespace {

constexpr std::uint8_t kKeepAliveStart = 15;
constexpr std::uint8_t kFiscalSet = 13;
// The notification block of the second fiscal-event layout has this many fields.
constexpr std::size_t kLayoutBSeparators = 21;

void Cancel(PollingControl* poller) {
  if (poller != nullptr) poller->CancelExchange();
}

void CutToShortString(std::string& text) {
  if (text.size() > kMaxMessageLength) text.resize(kMaxMessageLength);
}

std::size_t SeparatorCount(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'));
}

// Field n becomes "0" when it is there and empty; a missing field is not made up.
void ZeroIfEmpty(std::string& block, int n) {
  if (SeparatorCount(block) < static_cast<std::size_t>(n) || !GetField(block, n).empty()) return;
  CutField(block, n);
  InsertField(block, "0", n);
}

// Field n := rewrite(field n), when the block has a field n.
template <typename Rewrite>
void RewriteField(std::string& block, int n, Rewrite rewrite) {
  if (SeparatorCount(block) < static_cast<std::size_t>(n)) return;
  const std::string field = CutField(block, n);
  InsertField(block, rewrite(field), n);
}

enum class Kind { Plain, Answer, Ask, Fiscal, Unknown };

struct CodeHandling {
  Kind kind = Kind::Unknown;
  std::uint8_t set = 0;
  std::uint8_t command = 0;
};

CodeHandling HandlingOf(char code) {
  switch (code) {
    case '0': return {Kind::Plain, 1, 128};
    case '1': return {Kind::Answer, 1, 129};
    case '2': return {Kind::Plain, 1, 134};
    case '3': return {Kind::Fiscal, 1, 0};
    case '4': return {Kind::Answer, 11, 128};
    case '5': return {Kind::Ask, 13, 0};
    case '6': return {Kind::Ask, 13, 0};
    case '7': return {Kind::Answer, 1, 132};
    case '8': return {Kind::Answer, 9, 128};
    case '9': return {Kind::Answer, 9, 129};
    case 'A': return {Kind::Ask, 13, 0};
    case 'B': return {Kind::Plain, 1, 130};
    case 'C': return {Kind::Answer, 1, 145};  // 144 for a negative amount
    case 'D': return {Kind::Answer, 9, 130};
    case 'E': return {Kind::Answer, 9, 131};
    case 'F': return {Kind::Plain, 1, 133};
    case 'G': return {Kind::Plain, 1, 128};
    default: return {};
  }
}

}  // namespace

void RequestEngine::AcceptEcrMessage(TBasicCommunicationObject& /*sender*/, std::uint8_t logNo,
                                     const std::string& block, bool& accept) {
  if (block.size() < 8) return;
  // The register's serial number takes the first five places at least.
  std::size_t separators = 0;
  std::size_t third = std::string::npos;
  for (std::size_t i = 5; i < block.size(); ++i) {
    if (block[i] == ';' && ++separators == 3) {
      third = i;
      break;
    }
  }
  if (third == std::string::npos) {
    accept = false;
    return;
  }
  const char code = block[third - 1];
  const std::uint8_t set = EcrCodeChannelMap[static_cast<unsigned char>(code)];
  if (code != 'A' && (set == 0 || !IsLogNo(logNo))) {
    accept = false;
    return;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  if (code != 'A') accept = context_.EcrTable.At(logNo).Set(set).ClientId != 0;
  // A message taken starts a new exchange, and the polling thread takes an answer for it
  // before OnEcrMessage has offered it to anyone: an answer or finish meant for an earlier
  // exchange must find none open by then (one whose wait was cancelled before its offer
  // went out is open still).
  if (accept) context_.ClearCurrentExchange();
}

void RequestEngine::OnEcrMessage(ClientSender& server, PollingControl* poller, int logNo,
                                 const std::string& registerBlock, std::uint8_t /*result*/) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!IsLogNo(logNo)) {
    context_.ClearCurrentExchange();
    Cancel(poller);
    return;
  }
  std::string block = registerBlock.substr(0, kMaxMessageLength);
  EcrSettings& counters = context_.Settings().Ecr(logNo);
  TEcr& ecr = context_.EcrTable.At(logNo);
  counters.SerialNumber = static_cast<std::int32_t>(
      DecimalIntegerIn(GetField(block, 1), std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max())
          .value_or(0));

  std::string messageNumber = CutField(block, 2);
  if (messageNumber.empty()) messageNumber = "0";
  const std::optional<std::int64_t> number = DecimalInteger(messageNumber);
  if (number && (*number < 0 || *number > 255)) {
    // The number cannot be kept, and the held-back replies cannot be judged by it.
    context_.Log("Bad message number from ECR " + std::to_string(logNo) + "  Block:" + registerBlock);
    context_.ClearCurrentExchange();
    Cancel(poller);
    return;
  }
  const std::uint8_t previous = ecr.LastMsgNo;
  const auto current = static_cast<std::uint8_t>(number.value_or(0));
  ecr.LastMsgNo = current;
  InsertField(block, messageNumber, 2);

  const std::uint8_t heldBackCode = (previous + 1) % 10 == current ? erNoError : erNotExecuted;
  for (int setNo = 1; setNo <= kSetCount; ++setNo) {
    if (ecr.Set(setNo).Saved == 1) AnswerClient(server, setNo, logNo, heldBackCode);
  }

  std::string codeField = CutField(block, 3);
  if (codeField.empty()) codeField = "0";
  const char code = codeField.front();
  CodeHandling handling = HandlingOf(code);
  if (handling.kind == Kind::Unknown) {
    context_.Log("Unknown message from ECR " + std::to_string(logNo) + "  Block:" + block);
    context_.ClearCurrentExchange();
    Cancel(poller);
    return;
  }
  counters.Mode = (code == '5' || code == '6') ? EcrModePrn : EcrModeOnLine;
  counters.KeepAlive = kKeepAliveStart;

  switch (handling.kind) {
    case Kind::Plain: {
      if (code == '2') ZeroIfEmpty(block, 3);
      if (context_.IsRepeatedBlock(logNo, block)) {
        Cancel(poller);
        return;
      }
      const std::uint16_t sequence = context_.NextEcrSequence(logNo);
      block += std::to_string(sequence) + ";" + std::to_string(context_.EcrNotifyId(logNo)) + ";";
      CutToShortString(block);
      context_.ClearCurrentExchange();
      if (code == '2') RewriteField(block, 5, [](const std::string& f) { return InsertDecimalPoint(f, 2); });
      NotifyClients(server, handling.set, handling.command, logNo, block);
      Cancel(poller);
      return;
    }
    case Kind::Fiscal: {
      if (context_.IsRepeatedBlock(logNo, block)) {
        Cancel(poller);
        return;
      }
      context_.ClearCurrentExchange();
      const bool layoutB = SeparatorCount(block) == kLayoutBSeparators;
      std::string typeField = CutField(block, 3);
      if (typeField.empty()) typeField = "0";
      const std::optional<std::int64_t> type = DecimalInteger(typeField);
      if (type && (*type < -128 || *type > 127)) {
        context_.Log("Bad fiscal event type from ECR " + std::to_string(logNo) + "  Block:" + registerBlock);
        Cancel(poller);
        return;
      }
      block += std::to_string(context_.NextEcrSequence(logNo)) + ";";
      CutToShortString(block);
      ClassifyFiscalEvent(server, logNo, static_cast<int>(type.value_or(-1)), block, layoutB);
      Cancel(poller);
      return;
    }
    case Kind::Answer: {
      context_.SetCurrentExchange(logNo, handling.set);
      if (handling.set == 9) {
        ZeroIfEmpty(block, 4);
        RewriteField(block, 5, [](const std::string& f) { return RemoveDecimalPoint(f); });
      } else if (code == 'C') {
        ZeroIfEmpty(block, 3);
        ZeroIfEmpty(block, 4);
        RewriteField(block, 5, [](const std::string& f) { return InsertDecimalPoint(f, 2); });
        if (StrToFloatDefLoc(GetField(block, 5), 0) < 0) handling.command = 144;
      }
      NotifyClientsAwaiting(server, poller, handling.set, handling.command, logNo, std::move(block));
      return;
    }
    case Kind::Ask: {
      context_.SetCurrentExchange(logNo, kFiscalSet);
      if (code == '5') {
        AskFPSell(server, poller, logNo, block);
      } else if (code == '6') {
        AskFPPrint(server, poller, logNo, block);
      } else {
        AskRec(server, poller, logNo, block);
      }
      return;
    }
    case Kind::Unknown: break;
  }
}

void RequestEngine::NotifyClients(ClientSender& server, int SetNo, std::uint8_t Command, int LogNo,
                                  std::string_view payload) {
  const auto set = static_cast<std::uint8_t>(SetNo);
  const auto logNo = static_cast<std::uint8_t>(LogNo);
  const std::string message = BuildClientMessage(set, Command, logNo, erNoError, {}, payload);
  context_.SendToSetOwner(server, LogNo, SetNo, message);
  context_.SendToSetOwner(server, LogNo, SetNo + 1, message);
  const std::string route = std::to_string(SetNo) + ";" + std::to_string(Command) + ";";
  ExchangeContext::SendToSubscribers(
      server, context_.EcrTable.At(LogNo),
      BuildClientMessage(SubscriberSet, EcrNotification, logNo, erNoError, route, payload));
}

void RequestEngine::NotifyClientsAwaiting(ClientSender& server, PollingControl* poller, int SetNo,
                                          std::uint8_t Command, int LogNo, std::string block) {
  if (context_.EcrTable.At(LogNo).Set(SetNo).ClientId == 0) {
    // The owner left after the message was taken: the register goes without an answer.
    context_.ClearCurrentExchange();
    Cancel(poller);
    return;
  }
  const std::uint16_t sequence = context_.NextEcrSequence(LogNo);
  block += std::to_string(sequence) + ";" + std::to_string(context_.EcrNotifyId(LogNo)) + ";";
  CutToShortString(block);
  NotifyClients(server, SetNo, Command, LogNo, block);
}

void RequestEngine::AnswerClient(ClientSender& server, int SetNo, int LogNo, std::uint8_t ErrorCode) {
  TSetDescr& set = context_.EcrTable.At(LogNo).Set(SetNo);
  const std::string message =
      BuildClientMessage(static_cast<std::uint8_t>(SetNo), set.SavedCommand, static_cast<std::uint8_t>(LogNo),
                         ErrorCode, set.SavedBlock, set.SavedPayload);
  // A reply kept for a connection that does not hold the SET now reaches its monitor only.
  if (set.Connection == set.SavedConnection) ExchangeContext::SendToClient(server, set.ClientId, message);
  if (SetNo % 2 == 1) context_.SendToSetOwner(server, LogNo, SetNo + 1, message);
  DropHeldBackReply(set);
}

}  // namespace ecr
