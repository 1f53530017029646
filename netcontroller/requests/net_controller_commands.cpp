#include "netcontroller/requests/net_controller_commands.h"

#include "netcontroller/link/net_controller.h"

namespace ecr::nc {

bool NetControllerCommands::AddEcr(int ecr) { return controller_.AddEcr(ecr); }
bool NetControllerCommands::RemoveEcr(int ecr) { return controller_.RemoveEcr(ecr); }
void NetControllerCommands::SendStart() { controller_.SendStart(); }
void NetControllerCommands::SendStop() { controller_.SendStop(); }
int NetControllerCommands::SendReset() { return controller_.SendReset(); }
int NetControllerCommands::SendOnlAnswer(std::string_view text) { return controller_.SendOnlAnswer(text); }
int NetControllerCommands::SendInlData(std::string_view text) { return controller_.SendInlData(text); }

}  // namespace ecr::nc
