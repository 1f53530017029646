#include "netcontroller/link/nc_delivery_report.h"

#include "platform/tick_count.h"

namespace ecr::nc {

void DeliveryReport::Written(int ecr, std::uint32_t now, std::uint32_t number) {
    phase_ = Phase::Awaited;
    ecr_ = ecr;
    since_ = now;
    number_ = number;
    ecr_left_mask_ = false;
}

bool DeliveryReport::Overdue(std::uint32_t now) const {
    return phase_ == Phase::Awaited && ElapsedTicks(since_, now) >= kReportWaitMs;
}

void DeliveryReport::Done() {
    phase_ = Phase::None;
    ecr_ = 0;
    ecr_left_mask_ = false;
}

void DeliveryReport::GiveUp(std::uint32_t fenceAnswer) { late_.push_back({ecr_, ecr_left_mask_, fenceAnswer}); }

void DeliveryReport::FenceAnswered(std::uint32_t answers) {
    // Counts wrap: a fence's answer has come when the count has reached it. The fences were
    // written in the order of the giving up.
    while (!late_.empty() && static_cast<std::int32_t>(answers - late_.front().fenceAnswer) >= 0) late_.pop_front();
}

void DeliveryReport::MoveFences(std::uint32_t fenceAnswer) {
    for (LateWrite& late : late_) late.fenceAnswer = fenceAnswer;
}

void DeliveryReport::EcrLeftMask(int ecr) {
    if (phase_ != Phase::None && ecr_ == ecr) ecr_left_mask_ = true;
    for (LateWrite& late : late_) {
        if (late.ecr == ecr) late.ecrLeftMask = true;
    }
}

}  // namespace ecr::nc
