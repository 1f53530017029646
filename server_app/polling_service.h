#pragma once
// The register side of one run of the service: the serial line object on the stored port
// and speed, and the polling thread that walks the registers in use, wired to the request
// engine. The main window makes one at every start and destroys it at every stop.
//
// Threads: made and destroyed on the main thread. Destruction ends the polling thread
// first (waiting for it, at most the longest wait under way) and frees the line after
// it, so no polling event runs once the destructor has returned.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/code_tables.h"
#include "server/client_sender.h"
#include "server/polling_control.h"
#include "server/request_engine.h"

namespace ecr {

class PollingService {
 public:
  virtual ~PollingService() = default;
  // The name of the port the line was opened on.
  virtual std::string PortName() const = 0;
  // What the request engine drives: the polling thread.
  virtual PollingControl& Control() = 0;
};

struct PollingStart {
  std::string comPort;
  std::uint16_t comSpeed = 4800;
  CodeTable codeTable{};
};

// Creates the line with its port name and speed and the block-accept hook, creates the
// polling thread suspended with its events bound to the engine and the socket server,
// gives it the code table, stops the keep-alive bytes, opens the line and resumes the
// thread. Raises the line's exception (with its fixed text) when the port cannot be
// opened, after freeing what it made.
using PollingServiceFactory = std::function<std::unique_ptr<PollingService>(
    const PollingStart& start, RequestEngine& engine, ClientSender& server)>;

}  // namespace ecr
