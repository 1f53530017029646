#include "server_app/accept_short_block.h"

namespace ecr {

void AcceptShortBlock(TBasicCommunicationObject&, std::uint8_t, const std::string& block, bool& accept) {
  accept = block.size() < kShortBlockLimit;
}

}  // namespace ecr
