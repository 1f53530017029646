#include "server_app/client_event_errors.h"

#include <exception>

#include "foundation/log_file.h"
#include "server/client_socket_server.h"

namespace ecr {

void BindClientEventErrors(ClientSocketServer& server, LogFile& log) {
  server.OnError = [&log](int err, const std::string& text) { LogClientEventError(log, err, text); };
}

void LogClientEventError(LogFile& log, int, const std::string& text) {
  const std::exception_ptr raised = std::current_exception();
  if (!raised) return;
  try {
    std::rethrow_exception(raised);
  } catch (const std::exception& error) {
    log.WriteException("TfmMain.IPServer", error);
  } catch (...) {
    log.Write("EXCEPTION in TfmMain.IPServer - " + text);
  }
}

}  // namespace ecr
