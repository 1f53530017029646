#include "bench/poll_cycle_figures.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <string>

#include "bench/median.h"
#include "tests/support/pc_frame_parser.h"

namespace ecr {

namespace {

using Clock = RegisterEmulator::Clock;

double Micros(Clock::duration span) { return std::chrono::duration<double, std::micro>(span).count(); }

bool IsTake(const RegisterEmulator::TimedFrame& frame) { return frame.text.rfind("TAKE ", 0) == 0; }

// Bytes recorded in the window (from, to].
int CountIn(const std::vector<RegisterEmulator::TimedByte>& bytes, Clock::time_point from, Clock::time_point to) {
  return static_cast<int>(std::count_if(bytes.begin(), bytes.end(),
                                        [&](const RegisterEmulator::TimedByte& b) { return b.at > from && b.at <= to; }));
}

double Sum(const std::vector<double>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }

}  // namespace

double PollCycleFigures::GapInByteTimes() const {
  return byteTimeMs > 0 ? std::max(ackGapUs, takeGapUs) / 1000.0 / byteTimeMs : 0;
}

PollCycleFigures FiguresOf(const PollCycleRecord& record, std::uint32_t baud, double drainMs, int firstEcr,
                           int warmUpCycles) {
  PollCycleFigures figures;
  figures.byteTimeMs = baud > 0 ? 10'000.0 / baud : 0;
  const std::string firstTake = PcFrame{PcFrame::Kind::Take, firstEcr, {}}.Describe();
  std::vector<Clock::time_point> starts;
  for (const auto& frame : record.pcFrames) {
    if (frame.text == firstTake) starts.push_back(frame.at);
  }
  const auto warmUp = static_cast<std::size_t>(std::max(warmUpCycles, 0));
  if (baud == 0 || starts.size() < warmUp + 2) return figures;
  const Clock::time_point from = starts[warmUp];
  const Clock::time_point to = starts.back();
  figures.cycles = static_cast<int>(starts.size() - warmUp - 1);
  figures.cycleMs = Micros(to - from) / 1000.0 / figures.cycles;
  const int bytes = CountIn(record.pcBytes, from, to) + CountIn(record.ecrBytes, from, to);
  figures.bytesPerCycle = static_cast<double>(bytes) / figures.cycles;
  figures.wireMs = figures.bytesPerCycle * figures.byteTimeMs;

  // Each ACK of the PC in the window closes one register's block; the PC's free frame, the
  // drain and the next take frame follow it.
  std::vector<double> ackGaps;
  std::vector<double> takeGaps;
  for (auto it = record.pcFrames.begin(); it != record.pcFrames.end(); ++it) {
    if (it->at <= from || it->at > to) continue;
    if (IsTake(*it)) ++figures.takes;
    if (it->text != "ACK") continue;
    const auto next = std::find_if(it + 1, record.pcFrames.end(), IsTake);
    const auto lastBefore = std::upper_bound(record.ecrBytes.begin(), record.ecrBytes.end(), it->at,
                                             [](Clock::time_point at, const auto& b) { return at < b.at; });
    if (next == record.pcFrames.end() || lastBefore == record.ecrBytes.begin()) continue;
    ackGaps.push_back(Micros(it->at - std::prev(lastBefore)->at));
    takeGaps.push_back(Micros(next->at - it->at) - drainMs * 1000.0);
  }
  figures.failedTakes = std::max(figures.takes - static_cast<int>(ackGaps.size()), 0);
  figures.drainMs = drainMs * figures.takes / figures.cycles;
  figures.serverMs = (Sum(ackGaps) + Sum(takeGaps)) / 1000.0 / figures.cycles;
  figures.ackGapUs = Median(ackGaps);
  figures.takeGapUs = Median(takeGaps);
  return figures;
}

}  // namespace ecr
