#pragma once
// The controller commands that the request processing gives. The server hands it an
// adapter over its TNetController (NetControllerCommands); tests record the calls instead.
//
// Threads: the request processing calls these from the main thread and from the controller
// link's reader thread, always inside its own lock.

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
  virtual int SendReset() = 0;
  virtual int SendOnlAnswer(std::string_view text) = 0;
  virtual int SendInlData(std::string_view text) = 0;
};

}  // namespace ecr::nc
