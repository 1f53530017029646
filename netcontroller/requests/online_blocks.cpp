// The OnLine blocks of the registers: classified by their type character (field 3) and
// forwarded to the clients as notifications, offered to the client of SET 1, 9 or 11 for an
// answer, or handed to the sale, print and receipt exchanges.

#include <optional>

#include "netcontroller/nc_fields.h"
#include "netcontroller/nc_numbers.h"
#include "netcontroller/requests/block_fields.h"
#include "netcontroller/requests/client_handlers.h"
#include "netcontroller/requests/controller_events.h"
#include "netcontroller/requests/cop_exchanges.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr std::uint8_t kKeepAliveTicks = 15;
constexpr std::uint8_t kModeOnLine = 2;
constexpr std::uint8_t kModePrn = 3;
constexpr std::uint8_t kNotification = 128;

class OnlineBlock {
 public:
  OnlineBlock(NcExchangeContext& context, int ecr, std::string block)
      : context_(context), ecr_(ecr), session_(context.Session(ecr)), block_(std::move(block)) {}

  void Handle() {
    context_.NewExchangeOf(ecr_);
    context_.Settings().Ecr(ecr_).SerialNumber = static_cast<std::int32_t>(FieldInteger(block_, 1));
    ZeroIfEmpty(block_, 2);
    const std::string typeField = CutField(block_, 3);
    const char type = typeField.empty() ? '0' : typeField.front();
    switch (type) {
      case '0': return Notify(esNone, 1, kNotification);
      case '1': return OfferWithQuantity(1, 129);
      case '2': return NotifyCash();
      case '3': return FiscalEvent();
      case '4':
        Listed(esQueryRx);
        CutField(block_, 5);
        CutField(block_, 4);
        return Offer(11, kNotification);
      case '5': return HandOver(kModePrn, ServeSale);
      case '6': return HandOver(kModePrn, ServePrint);
      case '7': return OfferWithQuantity(1, 132);
      case '8': return OfferAmountWithoutPoint(kNotification);
      case '9': return OfferAmountWithoutPoint(129);
      case 'A': return HandOver(kModeOnLine, ServeReceipt);
      case 'B': return Notify(esNone, 1, 130);
      case 'C': return OfferSigned();
      case 'D': return OfferAmountWithoutPoint(130);
      case 'E': return OfferAmountWithoutPoint(131);
      case 'F': return Notify(esNone, 1, 133);
      default: return Unknown();
    }
  }

 private:
  // Every type of the table marks the register as heard.
  void Listed(std::uint8_t exchangeState, std::uint8_t mode = kModeOnLine) {
    session_.ExchangeState = exchangeState;
    NcEcrSettings& counters = context_.Settings().Ecr(ecr_);
    counters.KeepAlive = kKeepAliveTicks;
    counters.Mode = mode;
  }

  // The block, then the register's sequence (taken) and its notification id.
  std::string NotificationPayload() {
    const std::uint16_t sequence = context_.NextEcrSequence(ecr_);
    const std::int32_t id = context_.EcrNotifyId(ecr_);
    return block_ + std::to_string(sequence) + ";" + std::to_string(id) + ";";
  }

  // Forwards a block that is not a repeat; the register's exchange ends either way.
  template <typename Change>
  void NotifyChanged(std::uint8_t setNo, std::uint8_t command, Change change) {
    if (!context_.IsRepeatedBlock(ecr_, block_)) {
      change();
      const std::string payload = NotificationPayload();
      context_.ClearPendingExchange();
      context_.SendNotification(setNo, command, payload, ecr_);
    }
    EndExchange();
  }

  void Notify(std::uint8_t exchangeState, std::uint8_t setNo, std::uint8_t command) {
    Listed(exchangeState);
    NotifyChanged(setNo, command, [] {});
  }

  void NotifyCash() {
    Listed(esNone);
    ZeroIfEmpty(block_, 3);
    NotifyChanged(1, 134, [this] {
      if (!HasField(block_, 5)) return;
      const std::string amount = CutField(block_, 5);
      InsertField(block_, InsertDecimalPoint(amount, 2), 5);
    });
  }

  void Offer(std::uint8_t setNo, std::uint8_t command) {
    context_.SetPendingExchange(ecr_, setNo);
    ServeOnlineExchange(setNo, command);
  }

  void OfferWithQuantity(std::uint8_t setNo, std::uint8_t command) {
    Listed(esQueryRx);
    session_.Quantity = static_cast<double>(StrToAmountDef(GetField(block_, 5), 0));
    Offer(setNo, command);
  }

  void OfferAmountWithoutPoint(std::uint8_t command) {
    Listed(esQueryRx);
    ZeroIfEmpty(block_, 4);
    if (HasField(block_, 5)) {
      const std::string amount = CutField(block_, 5);
      InsertField(block_, RemoveDecimalPoint(amount), 5);
    }
    Offer(9, command);
  }

  void OfferSigned() {
    Listed(esQueryRx);
    ZeroIfEmpty(block_, 3);
    ZeroIfEmpty(block_, 4);
    const long double amount = StrToAmountDef(InsertDecimalPoint(CutField(block_, 5), 2), 0);
    Offer(1, amount < 0 ? 144 : 145);
  }

  void HandOver(std::uint8_t mode, void (*serve)(NcExchangeContext&, int, std::string)) {
    Listed(esBuffRx, mode);
    context_.SetPendingExchange(ecr_, 13);
    serve(context_, ecr_, block_);
  }

  void Unknown() {
    context_.Log("Unknown message. KA:" + std::to_string(ecr_) + " " + ExchangeStateName(session_.ExchangeState));
    session_.ExchangeState = esNone;
    context_.ClearPendingExchange();
    EndExchange();
  }

  // The fiscal event (type '3'): numbered and forwarded on SET 1 by its sub-type.
  void FiscalEvent() {
    Listed(esNone);
    if (context_.IsRepeatedBlock(ecr_, block_)) return EndExchange();
    const std::string subField = CutField(block_, 3);
    const char subType = subField.empty() ? '0' : subField.front();
    // Every fiscal event that is not a repeat takes a sequence number, also one of a sub-type
    // that is not forwarded.
    block_ += std::to_string(context_.NextEcrSequence(ecr_)) + ";";
    context_.ClearPendingExchange();
    std::optional<std::uint8_t> command;
    if (subType >= '0' && subType <= '3') {
      InsertField(block_, subField, 3);
      const long double x = StrToAmountDef(GetField(block_, 19), 0);
      const long double y = StrToAmountDef(GetField(block_, 10), 0);
      const bool idCloses = x == 0 || x >= y;
      block_ += std::to_string(idCloses ? context_.NewEcrNotifyId(ecr_) : context_.EcrNotifyId(ecr_)) + ";";
      const bool hasField5 = !GetField(block_, 5).empty();
      const bool hasField6 = !GetField(block_, 6).empty();
      if (!hasField5) {
        command = idCloses ? 136 : 135;
      } else if (!hasField6) {
        command = idCloses ? 141 : 140;
      } else {
        command = idCloses ? 139 : 138;
      }
      if (!(hasField5 && hasField6)) {
        CutField(block_, 7);
        CutField(block_, 6);
      }
    } else if (subType >= '4' && subType <= '6') {
      block_ += std::to_string(context_.NewEcrNotifyId(ecr_)) + ";";
      command = subType == '4' ? 137 : subType == '5' ? 142 : 143;
    }
    if (command) context_.SendNotification(1, *command, block_, ecr_);
    EndExchange();
  }

  // Offers the block to the client of SET setNo, or gives it the answer that client queued.
  void ServeOnlineExchange(std::uint8_t setNo, std::uint8_t command) {
    SetSlot& slot = session_.Slot(setNo);
    if (slot.ClientId == 0) {
      // Nobody can answer: the register's exchange ends.
      context_.ClearPendingExchange();
      return EndExchange();
    }
    if (slot.Command == 0) {
      const std::string payload = NotificationPayload();
      context_.SendNotification(setNo, command, payload, ecr_);
      session_.ExchangeNo = FieldInteger(payload, 2);
      return;
    }
    if (FieldInteger(block_, 2) != session_.ExchangeNo) {
      // The queued request belongs to an earlier exchange; it stays.
      context_.ReplyWithMonitorCopy(slot.ClientId, setNo, command, static_cast<std::uint8_t>(ecr_), erTooLate);
      context_.ClearPendingExchange();
      return EndExchange();
    }
    context_.ClearPendingExchange();
    // A queued finish, answer or hold; an answer the link does not take now stays for the
    // register's repeat, or for the link to be free.
    context_.ServeQueuedAnswer(ecr_, setNo);
  }

  void EndExchange() { context_.EndExchange(ecr_); }


  NcExchangeContext& context_;
  const int ecr_;
  EcrSession& session_;
  std::string block_;
};

}  // namespace

void HandleOnlineBlock(NcExchangeContext& context, int ecr, std::string block) {
  if (!IsSessionEcr(ecr)) {
    context.Log("OnOnlReceived ECR:" + std::to_string(ecr));
    context.EndExchange(ecr);
    return;
  }
  OnlineBlock(context, ecr, std::move(block)).Handle();
}

}  // namespace ecr::nc
