#pragma once
// The events a socket server raises about its client connections, each with the number of
// the client's slot. Set them on the main thread before Open; they are raised on the main
// thread.

#include <cstdint>
#include <functional>
#include <string>

namespace ecr {

struct ClientEvents {
  std::function<void(std::uint16_t ID)> OnConnect;
  std::function<void(std::uint16_t ID, const std::string& Data)> OnDataIn;
  std::function<void(std::uint16_t ID)> OnDisconnect;
  std::function<void(int Err, const std::string& Txt)> OnError;
  // The send queue of client ID has gone out completely.
  std::function<void(std::uint16_t ID)> OnReadyToSend;
};

}  // namespace ecr
