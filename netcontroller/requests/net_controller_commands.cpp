#include "netcontroller/requests/net_controller_commands.h"

#include "netcontroller/link/net_controller.h"

namespace ecr::nc {

bool NetControllerCommands::AddEcr(int ecr) { return controller_.AddEcr(ecr); }
bool NetControllerCommands::RemoveEcr(int ecr) { return controller_.RemoveEcr(ecr); }
void NetControllerCommands::SendStart() { controller_.SendStart(); }
void NetControllerCommands::SendStop() { controller_.SendStop(); }
int NetControllerCommands::SendReset() { return controller_.SendReset(); }
bool NetControllerCommands::ResetExchangeOf(int ecr) { return controller_.ResetExchangeOf(ecr); }
int NetControllerCommands::SendOnlAnswer(int ecr, std::string_view text) {
  return controller_.SendOnlAnswer(ecr, text);
}
int NetControllerCommands::SendInlData(int ecr, std::string_view text) { return controller_.SendInlData(ecr, text); }
void NetControllerCommands::ReportHandled() { controller_.ReportHandled(); }
std::uint8_t NetControllerCommands::ReportInHand() { return controller_.ReportInHand(); }
void NetControllerCommands::ForgetReport(int ecr, std::uint8_t code) { controller_.ForgetReport(ecr, code); }

}  // namespace ecr::nc
