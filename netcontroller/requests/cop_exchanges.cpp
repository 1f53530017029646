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

using ServeAgain = void (*)(NcExchangeContext&, const WaitingWrite&);

class CopExchange {
 public:
  // `again` serves the exchange anew once the link can take its answer.
  CopExchange(NcExchangeContext& context, int ecr, std::string block, ServeAgain again)
      : context_(context),
        ecr_(ecr),
        session_(context.Session(ecr)),
        slot_(session_.Slot(kCopSet)),
        waiting_{static_cast<std::uint8_t>(ecr), kCopSet, block, again},
        block_(std::move(block)),
        ref_(GetField(block_, 1) + ";" + GetField(block_, 2) + ";") {}

  void Sale() {
    switch (slot_.Command) {
      case 4:
        TakeExchangeNo();
        if (!SaleLineValid(slot_.Payload)) {
          // A refused sale line takes its sequence number as a sold one does.
          Stamp(Sequence::Next, Id::InForce);
          return Refuse(erSyntax, ref_);
        }
        return HandOver(slot_.Payload + "0;0;", Sequence::Next, Id::InForce);
      case 6:
        TakeExchangeNo();
        return HandOver("0;;;;;;2;0;0;", Sequence::Next, Id::Fresh);
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
        return HandOver(slot_.Payload, Sequence::Next, Id::InForce);
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
        if (slot_.Payload == "0;;") return ReceiptHandOver("E;0;;;;;", Sequence::Next, Id::Fresh);
        return CheckedReceipt(PaymentValid, "E;", ";;;");
      case 8: return CheckedReceipt(PercentValid, "C;", ";;;");
      case 9: return CheckedReceipt(AmountValid, "I;", ";;;");
      case 10: return ReceiptHandOver("H;;;;;;", Sequence::Current, Id::InForce);
      case 11: return ReceiptHandOver("F;;;;;;", Sequence::Current, Id::InForce);
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
    slot_.Dequeue();
    EndExchange();
    // The copy goes to the monitor of the operation's slot, SET 14, also when SET 3 holds it.
    for (const std::int16_t client : {slot_.ClientId, context_.Slot(ecr_, kCopSet + 1).ClientId}) {
      context_.Reply(client, context_.CopReplySet(ecr_), cop, static_cast<std::uint8_t>(ecr_), errorCode, payload);
    }
  }

  // The operation goes to the register, and takes its numbers; its client hears the outcome
  // from the delivery report. While the link still awaits the report of an earlier answer it
  // takes none: the operation stays queued, unnumbered, and the exchange waits, open, until
  // the link can take it (or, should the link leave it, for the register's next block).
  void HandOver(const std::string& answer, Sequence sequence, Id id) {
    if (!context_.SendOnlineAnswer(ecr_, answer, waiting_)) return;
    context_.SetReplyContext(WriteKind::OnLine, kCopSet, slot_.Command, ecr_,
                             slot_.Payload + ref_ + Stamp(sequence, id), slot_.RequestNo);
  }

  void ReceiptHandOver(const std::string& answer, Sequence sequence, Id id) {
    TakeExchangeNo();
    HandOver(answer, sequence, id);
  }

  template <typename Check>
  void CheckedReceipt(Check check, const char* letter, const char* tail) {
    if (!check(slot_.Payload)) return Refuse(erSyntax, slot_.Payload + ref_ + Stamp(Sequence::Current, Id::InForce));
    ReceiptHandOver(letter + slot_.Payload + tail, Sequence::Next, Id::InForce);
  }

  // COP 12: field 3 of the block tells whether the receipt ends with ("H") or without ("F")
  // its cut; the client's reply carries the block, with that field as the number it was read
  // as (a block without it gains a "0").
  void CloseReceipt() {
    const std::int64_t k = IntegerOr(CutField(block_, 3), 0);
    InsertField(block_, std::to_string(k), 3);
    TakeExchangeNo();
    if (!context_.SendOnlineAnswer(ecr_, k == 0 ? "F;;;;;;" : "H;;;;;;", waiting_)) return;
    context_.SetReplyContext(WriteKind::OnLine, kCopSet, 12, ecr_, block_ + Stamp(Sequence::Current, Id::InForce),
                             slot_.RequestNo);
  }

  void ResetOnly() { EndExchange(); }
  void EndExchange() { context_.EndExchange(ecr_); }

  NcExchangeContext& context_;
  const int ecr_;
  EcrSession& session_;
  SetSlot& slot_;
  const WaitingWrite waiting_;  // the exchange, as it waits for the link
  std::string block_;
  const std::string ref_;
};

void SaleAgain(NcExchangeContext& context, const WaitingWrite& waiting) {
  ServeSale(context, waiting.Ecr, waiting.Block);
}
void PrintAgain(NcExchangeContext& context, const WaitingWrite& waiting) {
  ServePrint(context, waiting.Ecr, waiting.Block);
}
void ReceiptAgain(NcExchangeContext& context, const WaitingWrite& waiting) {
  ServeReceipt(context, waiting.Ecr, waiting.Block);
}

}  // namespace

void ServeSale(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block), SaleAgain).Sale();
}

void ServePrint(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block), PrintAgain).Print();
}

void ServeReceipt(NcExchangeContext& context, int ecr, std::string block) {
  CopExchange(context, ecr, std::move(block), ReceiptAgain).Receipt();
}

}  // namespace ecr::nc
