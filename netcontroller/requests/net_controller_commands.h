#pragma once
// The controller commands of the request processing carried out by the server's controller
// link. Threads: as TNetController's commands, any thread (the link writes each command
// whole under its own lock).

#include "netcontroller/requests/controller_commands.h"

namespace ecr {
class TNetController;
}

namespace ecr::nc {

class NetControllerCommands : public ControllerCommands {
 public:
  explicit NetControllerCommands(TNetController& controller) : controller_(controller) {}

  bool AddEcr(int ecr) override;
  bool RemoveEcr(int ecr) override;
  void SendStart() override;
  void SendStop() override;
  int SendReset() override;
  bool ResetExchangeOf(int ecr) override;
  int SendOnlAnswer(int ecr, std::string_view text) override;
  int SendInlData(int ecr, std::string_view text) override;
  void ReportHandled() override;
  std::uint8_t ReportInHand() override;
  void ForgetReport(int ecr, std::uint8_t code) override;

 private:
  TNetController& controller_;
};

}  // namespace ecr::nc
