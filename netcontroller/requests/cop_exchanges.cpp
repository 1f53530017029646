#include "netcontroller/requests/cop_exchanges.h"

#include <cstdint>

#include "netcontroller/nc_fields.h"
#include "netcontroller/requests/block_fields.h"
#include "netcontroller/requests/cop_payload_checks.h"
#include "server/client_message.h"

namespace ecr::nc {

namespace {

constexpr int kCopSet = 13;

enum class Sequence { Next, Current };
enum class Id { InForce, Fresh };

class CopExchange {
 public:
  CopExchange(NcExchangeContext& context, int ecr, std::string block)
      : context_(context),
        ecr_(ecr),
        session_(context.Session(ecr)),
        slot_(session_.Slot(kCopSet)),
        block_(std::move(block)),
        ref_(GetField(block_, 1) + ";" + GetField(block_, 2) + ";") {}

  void Sale() {
    switch (slot_.Command) {
      case 4: {
        // A sale line takes its sequence number whether the register gets it or not.
        const std::string stamp = Stamp(Sequence::Next, Id::InForce);
        TakeExchangeNo();
        if (!SaleLineValid(slot_.Payload)) return Refuse(erSyntax, ref_);
        return HandOver(slot_.Payload + "0;0;", stamp);
      }
      case 6: {
        const std::string stamp = Stamp(Sequence::Next, Id::Fresh);
        TakeExchangeNo();
        return HandOver("0;;;;;;2;0;0;", stamp);
      }
      case 10: return Refuse(erNoError, ref_ + Stamp(Sequence::Current, Id::InForce));
      case 8:
      case 9:
      case 11:
      case 12: return Refuse(erSyntax, ref_ + Stamp(Sequence::Current, Id::InForce));
      default: return ResetOnly();
    }
  }

  void Print() {
    switch (slot_.Command) {
      case 5:
        if (!PrintLineValid(slot_.Payload)) return Refuse(erSyntax, ref_ + Stamp(Sequence::Current, Id::InForce));
        return HandOver(slot_.Payload, Stamp(Sequence::Next, Id::InForce));
      case 10: return Refuse(erNoError, ref_ + Stamp(Sequence::Current, Id::InForce));
      case 8:
      case 9:
      case 11:
      case 12: return Refuse(erSyntax, ref_ + Stamp(Sequence::Current, Id::InForce));
      default: return ResetOnly();
    }
  }

  void Receipt() {
    switch (slot_.Command) {
      case 4: return CheckedReceipt(SaleLineValid, "L;", "0;0;");
      case 5: return CheckedReceipt([](std::string& payload) { return PrintLineValid(payload); }, "X;", "");
      case 6:
        if (slot_.Payload == "0;;") return ReceiptHandOver("E;0;;;;;", Stamp(Sequence::Next, Id::Fresh));
        return CheckedReceipt(PaymentValid, "E;", ";;;");
      case 8: return CheckedReceipt(PercentValid, "C;", ";;;");
      case 9: return CheckedReceipt(AmountValid, "I;", ";;;");
      case 10: return ReceiptHandOver("H;;;;;;", Stamp(Sequence::Current, Id::InForce));
      case 11: return ReceiptHandOver("F;;;;;;", Stamp(Sequence::Current, Id::InForce));
      case 12: return CloseReceipt();
      default: return ResetOnly();
    }
  }

 private:
  // seq and id as the exchange takes them, "seq;id;".
  std::string Stamp(Sequence sequence, Id id) {
    const std::uint16_t seq =
        sequence == Sequence::Next ? context_.NextEcrSequence(ecr_) : context_.CurrentEcrSequence(ecr_);
    const std::int32_t number = id == Id::Fresh ? context_.NewEcrNotifyId(ecr_) : context_.EcrNotifyId(ecr_);
    return std::to_string(seq) + ";" + std::to_string(number) + ";";
  }

  void TakeExchangeNo() { session_.ExchangeNo = FieldInteger(block_, 2); }

  // The operation is refused to its client and leaves the slot; the register's exchange ends.
  void Refuse(std::uint8_t errorCode, const std::string& payload) {
    const std::uint8_t cop = slot_.Command;
    slot_.Command = 0;
    slot_.State = 0;
    context_.Controller().SendReset();
    // The copy goes to the monitor of the operation's slot, SET 14, also when SET 3 holds it.
    for (const std::int16_t client : {slot_.ClientId, context_.Slot(ecr_, kCopSet + 1).ClientId}) {
      context_.Reply(client, context_.CopReplySet(ecr_), cop, static_cast<std::uint8_t>(ecr_), errorCode, payload);
    }
  }

  // The operation goes to the register; its client hears the outcome from the delivery report.
  void HandOver(const std::string& answer, const std::string& stamp) {
    context_.SetReplyContext(kCopSet, slot_.Command, ecr_, slot_.Payload + ref_ + stamp, true);
    context_.Controller().SendOnlAnswer(answer);
  }

  void ReceiptHandOver(const std::string& answer, const std::string& stamp) {
    TakeExchangeNo();
    HandOver(answer, stamp);
  }

  template <typename Check>
  void CheckedReceipt(Check check, const char* letter, const char* tail) {
    if (!check(slot_.Payload)) return Refuse(erSyntax, slot_.Payload + ref_ + Stamp(Sequence::Current, Id::InForce));
    const std::string stamp = Stamp(Sequence::Next, Id::InForce);
    ReceiptHandOver(letter + slot_.Payload + tail, stamp);
  }

  // COP 12: field 3 of the block tells whether the receipt ends with ("H") or without ("F")
  // its cut; the client's reply carries the block, with that field as the number it was read
  // as (a block without it gains a "0").
  void CloseReceipt() {
    const std::int64_t k = IntegerOr(CutField(block_, 3), 0);
    InsertField(block_, std::to_string(k), 3);
    TakeExchangeNo();
    context_.SetReplyContext(kCopSet, 12, ecr_, block_ + Stamp(Sequence::Current, Id::InForce), true);
    context_.Controller().SendOnlAnswer(k == 0 ? "F;;;;;;" : "H;;;;;;");
  }

  void ResetOnly() { context_.Controller().SendReset(); }

  NcExchangeContext& context_;
  const int ecr_;
  EcrSession& session_;
  SetSlot& slot_;
  std::string block_;
  const std::string ref_;
};

}  // namespace

void ServeSale(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block)).Sale();
}

void ServePrint(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block)).Print();
}

void ServeReceipt(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block)).Receipt();
}

}  // namespace ecr::nc
