#pragma once
// What the request engine keeps in memory about the registers in use and about the
// exchange running on the line. Plain records; the request engine owns them and reaches
// them only under its lock.

#include <array>
#include <cstdint>
#include <string>

#include "server/commands.h"
#include "server/server_settings.h"

namespace ecr {

inline constexpr std::size_t kSubscriberQueueLength = 20;

// One SET of one register.
//
// Client ids are slot numbers that the next connection reuses: a reply that comes back from
// the line finds its owner by Connection, which names the connection that holds the SET (the
// same connection is the owner again after it gave the SET back and took it anew, the next
// connection in the slot never is), and the pending command by Request.
struct TSetDescr {
  std::int16_t ClientId = 0;     // owner, 1..500; 0 = free
  std::uint8_t Command = 0;      // pending command; 0 = none
  std::uint8_t State = 0;        // kStateNone, kStateQueued, kStateSent
  std::string Payload;           // of the pending command
  std::uint8_t Saved = 0;        // 1 = a held-back reply waits here
  std::string SavedPayload;
  std::uint8_t SavedCommand = 0;
  std::string SavedBlock;
  std::uint64_t Connection = 0;       // the owner's connection; 0 while free
  std::uint64_t Request = 0;          // a new number each time a command is queued
  std::uint64_t SavedConnection = 0;  // the connection whose request the held-back reply answers
};

// Drops the held-back reply that waits in the SET.
inline void DropHeldBackReply(TSetDescr& set) {
  set.Saved = 0;
  set.SavedCommand = 0;
  set.SavedPayload.clear();
  set.SavedBlock.clear();
  set.SavedConnection = 0;
}

// One register.
struct TEcr {
  std::array<TSetDescr, kSetCount> Sets;  // SET s at index s - 1; see Set()
  std::uint8_t LastMsgNo = 0;
  std::uint8_t UseCount = 0;  // working SETs with an owner
  std::string LastBlock;
  std::array<std::int16_t, kSubscriberQueueLength> Queue{};  // the SubscriberQueue
  std::uint8_t QueueCount = 0;

  TSetDescr& Set(int setNo) { return Sets[static_cast<std::size_t>(setNo - 1)]; }
  const TSetDescr& Set(int setNo) const { return Sets[static_cast<std::size_t>(setNo - 1)]; }
};

// All registers, logical number n at index n - 1; see At().
struct TEcrs {
  std::array<TEcr, kEcrCount> Ecrs;

  TEcr& At(int logNo) { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
  const TEcr& At(int logNo) const { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
};

// The reply owed for the exchange in progress.
struct TWaitRes {
  std::uint8_t SetNo = 0;  // 0 = nothing owed
  std::uint8_t Command = 0;
  std::uint8_t LogNo = 0;
  std::string Payload;
  std::uint8_t Deferred = 0;  // 1 = keep the reply in the SET and answer with NextCommand
  std::string Block;
  std::uint8_t NextCommand = 0;
  // Who asked, taken from the SET when the reply context is stored: the connection that
  // held the SET and made the request (the reply goes to the SET's owner only while that
  // connection holds it; the monitor SET's owner gets its copy whoever holds the SET now),
  // and the queued command it answers (only that command is done when the reply goes out;
  // 0 for an answer to a message).
  std::uint64_t Connection = 0;
  std::uint64_t Request = 0;
};

// The OnLine exchange that waits for an application's answer; 0 and 0 when none. The
// message went to the connection that held the SET (Connection, 0 while the SET was free):
// only that connection saw it and may answer or finish it.
struct TCurrentExchange {
  std::uint8_t Ecr = 0;
  std::uint8_t Set = 0;
  std::uint64_t Connection = 0;
};

}  // namespace ecr
