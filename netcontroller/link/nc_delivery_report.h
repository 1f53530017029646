#pragma once

// The delivery report of one kind of write to the controller: an OnLine answer (its report
// ends with 0D) or InLine data (14). The controller's report names no register, so the link
// lets at most one write of each kind await its report, and a report of that kind is the
// report of that write, whatever else has happened on the line meanwhile. The two kinds never
// wait for each other.
//
// A write awaits its report until the report comes, or until kReportWaitMs have passed
// without it: then it is given up (nobody knows whether the register got the text). It may
// also be forgotten by the request processing once a failure has answered its client. Either
// way its report may still come, late. The controller answers commands in order, so a late
// report can only come before the answer to a command written after the giving up: the link
// writes the identify command then (the fence), and a report of this kind that comes before
// that fence is answered belongs to the given-up write (to the oldest such write still
// fenced, when there are several); it is logged and raises nothing. Meanwhile the next write of this kind goes out at once: its own report comes after
// the fence's answer. The fence holds back nothing, so a controller that never answers it
// costs at most one report swallowed per given-up write (that write is then given up in its
// time like any other); any later identify answer ends the fence too.
//
// Plain record without locking: NcLink keeps it under the controller's lock.

#include <cstdint>
#include <deque>

namespace ecr::nc {

class DeliveryReport {
 public:
    // A report not here this long after its write is given up (a report comes within a few
    // hundred ms: the text crosses the register's line in about a quarter of a second at
    // 4800 baud).
    static constexpr std::uint32_t kReportWaitMs = 5000;

    // Awaited: written, its report due. Raised: its report (or its giving up) is being
    // handled; until that is done nothing of this kind is written, so that no write can slip
    // between the report and the reply it makes.
    enum class Phase : std::uint8_t { None, Awaited, Raised };

    // `code` is the report's end byte (0x0D or 0x14).
    explicit DeliveryReport(std::uint8_t code) : code_(code) {}

    std::uint8_t Code() const { return code_; }
    Phase phase() const { return phase_; }
    // The register of the write awaited or raised.
    int Ecr() const { return ecr_; }
    std::uint32_t Number() const { return number_; }
    // A write of this kind may go out now.
    bool Free() const { return phase_ == Phase::None; }
    bool Awaited() const { return phase_ == Phase::Awaited; }
    bool Raised() const { return phase_ == Phase::Raised; }

    // A write for register `ecr` went out at `now`; `number` names it (never 0).
    void Written(int ecr, std::uint32_t now, std::uint32_t number);
    // The awaited write's report (or its giving up) is raised now.
    void Raise() { phase_ = Phase::Raised; }
    // True when the write has awaited its report for kReportWaitMs by `now`.
    bool Overdue(std::uint32_t now) const;
    // The raised report is done: the next write of this kind may go out.
    void Done();

    // The awaited (or raised) write will not be reported in time, or its client has been
    // answered otherwise: it is given up, and its late report, if any, is to be swallowed
    // until the identify answer number `fenceAnswer` has come.
    void GiveUp(std::uint32_t fenceAnswer);
    // Given-up writes may still report: the register of the oldest one, else 0.
    int LateEcr() const { return late_.empty() ? 0 : late_.front().ecr; }
    // The oldest given-up write's register left the mask after the write.
    bool LateEcrLeftMask() const { return !late_.empty() && late_.front().ecrLeftMask; }
    // A report of this kind has come while given-up writes may still report: it was the
    // oldest one's (reports come in the order of their writes).
    void LateReportCame() {
        if (!late_.empty()) late_.pop_front();
    }
    // Identify answers counted so far: a given-up write whose fence's answer has come can
    // report no more.
    void FenceAnswered(std::uint32_t answers);
    // The identify answers owed were taken as lost: every given-up write that may still
    // report is fenced by identify answer number `fenceAnswer` instead.
    void MoveFences(std::uint32_t fenceAnswer);

    // The register of the awaited (or given-up) InLine data left the mask after it was
    // written: its delivery may still be reported, but no answer of that exchange can come.
    void EcrLeftMask(int ecr);
    bool EcrLeftMask() const { return ecr_left_mask_; }

    // Forgets everything (a new search of the controller).
    void Clear() { *this = DeliveryReport(code_); }

 private:
    std::uint8_t code_;
    Phase phase_ = Phase::None;
    int ecr_ = 0;
    std::uint32_t since_ = 0;
    std::uint32_t number_ = 0;
    bool ecr_left_mask_ = false;
    struct LateWrite {
        int ecr = 0;
        bool ecrLeftMask = false;
        std::uint32_t fenceAnswer = 0;  // the identify answer after which it cannot report
    };
    std::deque<LateWrite> late_;  // oldest first
};

}  // namespace ecr::nc
