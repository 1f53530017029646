// A register's fiscal-event message (code "3"): which notification it becomes, and whether
// the register's notification id stays in force or is closed by it.

#include "foundation/currency.h"
#include "foundation/fields.h"
#include "foundation/number_parsing.h"
#include "server/client_message.h"
#include "server/request_engine.h"

namespace ecr {

namespace {

constexpr std::uint8_t kNotificationSet = 1;

// A field counts as set when it is neither empty nor "0".
bool IsSet(std::string_view field) { return !field.empty() && field != "0"; }

bool IsDocumentEvent(int n) { return (n >= 0 && n <= 3) || n == 8 || n == 9; }

void AppendId(std::string& block, std::int32_t id) {
  block += std::to_string(id) + ";";
  if (block.size() > kMaxMessageLength) block.resize(kMaxMessageLength);
}

}  // namespace

void RequestEngine::ClassifyFiscalEvent(ClientSender& server, int LogNo, int n, std::string B, bool layoutB) {
  std::uint8_t command = 0;
  if (IsDocumentEvent(n)) {
    InsertField(B, std::to_string(n), 3);
    const Currency first = StrToCurrDefLoc(GetField(B, layoutB ? 12 : 19), Currency{});
    const Currency second = StrToCurrDefLoc(GetField(B, layoutB ? 11 : 10), Currency{});
    const bool field5 = IsSet(GetField(B, 5));
    const bool field6 = IsSet(GetField(B, 6));
    const bool stays = first != Currency{} && second > first;
    AppendId(B, stays ? context_.EcrNotifyId(LogNo) : context_.NewEcrNotifyId(LogNo));
    if (!field5) {
      command = stays ? 135 : 136;
    } else if (!field6) {
      command = stays ? 140 : 141;
    } else {
      command = stays ? 138 : 139;
    }
    if (!layoutB && command != 138 && command != 139) {
      CutField(B, 6);
      CutField(B, 6);
    }
  } else if (n == 4 || n == 5 || n == 6 || (n == 15 && layoutB)) {
    if (layoutB) InsertField(B, std::to_string(n), 3);
    AppendId(B, context_.NewEcrNotifyId(LogNo));
    command = n == 4 ? 137 : n == 5 ? 142 : n == 6 ? 143 : 146;
  } else {
    return;
  }
  NotifyClients(server, kNotificationSet, command, LogNo, B);
}

}  // namespace ecr
