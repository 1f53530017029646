#pragma once
// What the request engine needs of the socket server: send one message to one client as
// one frame. TSockServer implements it; tests use fakes that record what was sent.

#include <cstdint>
#include <string_view>

namespace ecr {

class ClientSender {
 public:
  virtual ~ClientSender() = default;
  // Any thread. Data is one message of at most 255 bytes. May throw ESockException.
  virtual void SendData(std::uint16_t ID, std::string_view Data) = 0;
};

}  // namespace ecr
