#pragma once
// The controller commands that the request processing gives. The server hands it an
// adapter over its TNetController (NetControllerCommands); tests record the calls instead.
//
// The exchange commands name the register they are for: the link carries one exchange at a
// time and keeps at most one delivery report due for each kind of write (an OnLine answer,
// InLine data), so an answer, InLine data or reset meant for one register never lands in
// another register's exchange (see NcLink). A report stays due until the request processing
// has handled it (ReportHandled), so that nothing of its kind is written between the report
// and the reply it makes.
//
// Threads: the request processing calls these from the main thread and from the controller
// link's reader thread, always inside its own lock.

#include <cstdint>
#include <string_view>

namespace ecr::nc {

class ControllerCommands {
 public:
  virtual ~ControllerCommands() = default;
  // Register 1..16 into the controller's mask (a reset follows when the mask was empty).
  virtual bool AddEcr(int ecr) = 0;
  virtual bool RemoveEcr(int ecr) = 0;
  virtual void SendStart() = 0;
  virtual void SendStop() = 0;
  // Resets whatever exchange the controller runs.
  virtual int SendReset() = 0;
  // Ends register ecr's exchange; false, nothing sent, while another register's exchange
  // runs at the link.
  virtual bool ResetExchangeOf(int ecr) = 0;
  // 0 when written; 101 when the link holds no unanswered OnLine block of register ecr; 102
  // while an earlier answer still awaits its delivery report (the block stays unanswered).
  virtual int SendOnlAnswer(int ecr, std::string_view text) = 0;
  // 0 when written; 18 for more than 120 bytes; 101 as SendOnlAnswer, for the register's
  // InLine announcement; 102 while earlier InLine data still awaits its delivery report.
  virtual int SendInlData(int ecr, std::string_view text) = 0;
  // The delivery report the link raised last (or gave up) has been handled: the link may
  // write the next of its kind. Called while the event is handled.
  virtual void ReportHandled() = 0;
  // While the link's event is handled: the end byte of the delivery report that raised it
  // (kOnLineReportCode, kInLineReportCode), 0 for any other event.
  virtual std::uint8_t ReportInHand() = 0;
  // A failure has answered the client of register ecr's write whose report the link still
  // awaits: the link gives the report up, and swallows it should it come late.
  virtual void ForgetReport(int ecr, std::uint8_t code) = 0;
};

}  // namespace ecr::nc
