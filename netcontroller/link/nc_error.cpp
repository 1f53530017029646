#include "netcontroller/link/nc_error.h"

namespace ecr::nc {

namespace {

// The two delivery reports share one layout of statuses; `base` is the number for status 8,
// the others follow in the same order.
NcErrorCode DeliveryRefusal(std::uint8_t status, std::uint8_t base) {
    if (status >= 17 && status <= 24) return {static_cast<std::uint8_t>(base + 1), status - 16};
    switch (status) {
        case 8: return {base, 0};
        case 245: return {static_cast<std::uint8_t>(base + 2), 0};
        case 246: return {static_cast<std::uint8_t>(base + 3), 0};
        case 254: return {static_cast<std::uint8_t>(base + 4), 0};
        default: return {kNcErrorUnknownStatus, 0};
    }
}

}  // namespace

NcErrorCode OnlAnswerRefusal(std::uint8_t status) {
    if (status == 244) return {160, 0};
    return DeliveryRefusal(status, 150);
}

NcErrorCode InlDataRefusal(std::uint8_t status) { return DeliveryRefusal(status, 155); }

NcErrorCode EcrBlockRefusal(std::uint8_t status) {
    switch (status) {
        case 8: return {161, 0};
        case 242: return {162, 0};
        case 247: return {163, 0};
        case 248: return {164, 0};
        case 252: return {165, 0};
        default: return {kNcErrorUnknownStatus, 0};
    }
}

}  // namespace ecr::nc
