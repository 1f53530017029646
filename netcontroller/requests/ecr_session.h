#pragma once
// The session table of the network-controller server: for each of the 16 registers behind
// the controller one EcrSession with a SetSlot per SET 1..14, and the state of the register's
// current exchange. It lives for the whole run and is never saved.
//
// Plain records without locking: NcRequestEngine holds its lock around every use.

#include <array>
#include <cstdint>
#include <string>

#include "netcontroller/requests/reply_context.h"

namespace ecr::nc {

inline constexpr int kSessionEcrCount = 16;
inline constexpr int kSessionSetCount = 14;

// SetSlot::State of a slot that holds a queued request; cmdState reports it.
inline constexpr std::uint8_t kSlotQueued = 101;
// SetSlot::Command of a slot whose owner holds the register's OnLine exchange.
inline constexpr std::uint8_t kSlotHeld = 6;

// Where a register's current exchange stands.
enum ExchangeState : std::uint8_t {
  esNone = 0,
  esInlRx = 1,         // the register announced an InLine exchange
  esInlDelivered = 2,  // the controller delivered the InLine data (no name in the log)
  esInlExec = 3,
  esBuffRx = 4,  // a sale, print or receipt block arrived
  esBuffTx = 5,
  esBuffExec = 6,
  esWaitTx = 7,   // a client holds the exchange
  esQueryRx = 8,  // an OnLine block waits for a client's answer
  esQueryTx = 9,
};

// The name that log lines give a state: "esNone", "esInlRx", ... and "Other state" for 2
// and every value outside 0..9.
std::string ExchangeStateName(std::uint8_t state);

struct SetSlot {
  std::int16_t ClientId = 0;  // owner; 0 = free
  std::uint8_t Command = 0;   // 0 nothing queued, else the queued command; kSlotHeld
  std::uint8_t State = 0;     // 0 or kSlotQueued
  std::string Payload;        // of the queued request
  // Which queued request the slot holds: every request queued gets a number of its own, so
  // that the report of one that went out empties the slot only while it still holds that
  // request, never one queued after a cancel or a close. 0 = none.
  std::uint32_t RequestNo = 0;

  // A finish queued for the register's offer (Command 5, or 9 on SET 9).
  bool HoldsFinish() const { return Command == 5 || Command == 9; }

  // Nothing queued any more; the owner stays.
  void Dequeue() {
    Command = 0;
    State = 0;
    RequestNo = 0;
  }
};

struct EcrSession {
  // SET s at index s - 1; see Slot().
  std::array<SetSlot, kSessionSetCount> Slots;
  // Field 2 of the OnLine block last offered or handed over, as the whole integer the block
  // carried (so that 256 never passes for 0); a queued answer goes only to a block with the
  // same number.
  std::int64_t ExchangeNo = 0;
  std::uint8_t UseCount = 0;  // working SETs that clients hold
  std::uint8_t ExchangeState = esNone;
  // The last block taken as new, for the repeat check; none before the first one.
  bool HasLastBlock = false;
  std::string LastBlock;
  std::uint32_t LastBlockTick = 0;
  double Quantity = 0;
  // The replies owed for what was last written to the register, one per kind of write; Ecr
  // 0 = none.
  ReplyContext OnLineOwed;
  ReplyContext InLineOwed;

  ReplyContext& Owed(WriteKind kind) { return kind == WriteKind::OnLine ? OnLineOwed : InLineOwed; }
  const ReplyContext& Owed(WriteKind kind) const { return kind == WriteKind::OnLine ? OnLineOwed : InLineOwed; }

  // setNo 1..14; callers check the range first.
  SetSlot& Slot(int setNo) { return Slots[static_cast<std::size_t>(setNo - 1)]; }
  const SetSlot& Slot(int setNo) const { return Slots[static_cast<std::size_t>(setNo - 1)]; }
};

constexpr bool IsSessionEcr(int ecr) { return ecr >= 1 && ecr <= kSessionEcrCount; }
constexpr bool IsSessionSet(int setNo) { return setNo >= 1 && setNo <= kSessionSetCount; }

class EcrSessionTable {
 public:
  // ecr 1..16; callers check the range first (IsSessionEcr).
  EcrSession& At(int ecr) { return sessions_[static_cast<std::size_t>(ecr - 1)]; }
  const EcrSession& At(int ecr) const { return sessions_[static_cast<std::size_t>(ecr - 1)]; }
  void Clear() { sessions_ = {}; }

 private:
  std::array<EcrSession, kSessionEcrCount> sessions_{};
};

}  // namespace ecr::nc
