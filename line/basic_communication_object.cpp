#include "line/basic_communication_object.h"

namespace ecr {

void TBasicCommunicationObject::SetBaudRate(std::uint32_t baud) {
  if (baud == 0) baud = 1;  // never 0 in use; keeps the division defined
  byte_time_.store(100'000'000u / baud);
  baud_rate_.store(baud);
  Configure();
}

std::uint32_t TBasicCommunicationObject::TransmitTime(std::size_t bytes) const {
  const std::uint64_t units = static_cast<std::uint64_t>(bytes) * ByteTime();
  return static_cast<std::uint32_t>((units + 9'999u) / 10'000u);
}

}  // namespace ecr
