#include "netcontroller/busy_wait.h"

#include "platform/tick_count.h"

namespace ecr::nc {

void BusyWait(std::uint32_t Milliseconds) {
    const std::uint32_t start = TickCount();
    while (TicksSince(start) < Milliseconds) {
    }
}

}  // namespace ecr::nc
