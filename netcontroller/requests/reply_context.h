#pragma once
// The reply a client receives once the controller reports that what was written to a
// register was delivered, or that it failed. Each register keeps one for each kind of write
// (EcrSession::OnLineOwed, InLineOwed): the link lets one answer and one InLine data await
// their reports at a time, but the InLine answers of several registers may be awaited at
// once, and a register's report may come after other registers' exchanges, or its own next
// one, have begun.
//
// Plain record: NcRequestEngine holds its lock around every use.

#include <cstdint>
#include <string>

namespace ecr::nc {

// The two kinds of write that the controller reports on: an OnLine answer (a client's answer,
// the hold answer, a sale, print or receipt operation; its report ends with 0D) and InLine
// data (a SET 5 request; 14).
enum class WriteKind : std::uint8_t { OnLine, InLine };
inline constexpr std::uint8_t kOnLineReportCode = 0x0D;
inline constexpr std::uint8_t kInLineReportCode = 0x14;
inline constexpr std::uint8_t ReportCode(WriteKind kind) {
  return kind == WriteKind::OnLine ? kOnLineReportCode : kInLineReportCode;
}

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
  // InLine data only: the controller reported its delivery, and the register's InLine answer
  // is awaited. Until then (and for an OnLine answer always) the link awaits its report.
  bool Delivered = false;

  bool Owed() const { return Ecr != 0; }
  // SET 5's requests go out as InLine data; everything else as an OnLine answer.
  static constexpr std::uint8_t kInLineSet = 5;
};

}  // namespace ecr::nc
