#pragma once
// The reply a client receives once the controller reports that what was written to a
// register was delivered, or that it failed. Each register keeps its own (EcrSession::Owed):
// the link writes one answer or InLine data at a time, but the InLine answers of several
// registers may be awaited at once, and a register's report may come after other registers'
// exchanges, or its own next one, have begun.
//
// Plain record: NcRequestEngine holds its lock around every use.

#include <cstdint>
#include <string>

namespace ecr::nc {

// Ecr 0 = nothing owed. It belongs to one register, one SET, one client and one request, and
// only that register's report answers it.
struct ReplyContext {
  // 0 for what owes no reply (the hold answer), which the report still belongs to.
  std::uint8_t Set = 0;
  std::uint8_t Command = 0;
  std::uint8_t Ecr = 0;
  std::string Payload;
  // The owner of slot Set when the context was made: a reply is owed to that client only,
  // never to a later owner of the same SET (client ids are reused after a disconnect).
  std::int16_t ClientId = 0;
  // That client went away: its id may already name a new connection.
  bool OwnerLeft = false;
  // The queued request that went out and stays in its slot until its reply (SET 5 commands,
  // sale, print and receipt operations); the reply empties the slot only while it holds this
  // request. 0 where the request left its slot when it went out (answers to an offer).
  std::uint32_t RequestNo = 0;
  // The register began its next exchange before this reply was made: the report (or the
  // failure) that makes it leaves that next exchange alone.
  bool ExchangeOver = false;

  bool Owed() const { return Ecr != 0; }
  // SET 5's requests go out as InLine data; everything else as an OnLine answer.
  bool InLine() const { return Set == kInLineSet; }
  static constexpr std::uint8_t kInLineSet = 5;
};

}  // namespace ecr::nc
