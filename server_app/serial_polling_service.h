#pragma once
// The register side of the service on a real serial line: the line object on the stored
// port and speed and the polling thread, with the thread's events bound to the request
// engine. Main thread only (made at a start, destroyed at the stop); the event handlers
// run on the polling thread and only forward.

#include <memory>

#include "server_app/polling_service.h"

namespace ecr {

// A PollingServiceFactory; raises ECommError (its fixed text) when the port cannot be
// opened, after freeing what it made.
std::unique_ptr<PollingService> MakeSerialPollingService(const PollingStart& start,
                                                         RequestEngine& engine,
                                                         ClientSender& server);

}  // namespace ecr
