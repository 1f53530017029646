#pragma once
// The figures of a poll cycle, worked out from what the register emulator recorded on a line
// paced both ways (RegisterEmulator::Pacing::BothDirections).
//
// Before each take frame the line drains its input for a fixed time (what is still arriving
// of an earlier exchange is thrown away). That time is the line's own, like the wire time:
// it is counted apart, not as the server's turnaround.
//
// On the pseudo-terminal the PC's bytes reach the emulator the moment the PC writes them; their
// wire time passes afterwards, before the register reacts. So the arrivals of the PC's frames
// are the moments the PC wrote them, and the time between two of them is the PC's own work:
// on a line, the time it adds beyond the wire time of the bytes it wrote in between. The
// registers' bytes are recorded when they reach the PC.
//
// Plain functions; any thread.

#include <cstdint>
#include <vector>

#include "tests/support/register_emulator.h"

namespace ecr {

struct PollCycleRecord {
  std::vector<RegisterEmulator::TimedFrame> pcFrames;  // the PC's frames, by arrival
  std::vector<RegisterEmulator::TimedByte> pcBytes;    // the PC's bytes, by arrival
  std::vector<RegisterEmulator::TimedByte> ecrBytes;   // the registers' bytes, as they reached the PC
};

struct PollCycleFigures {
  int cycles = 0;            // whole cycles measured; 0 when the record holds too few
  int takes = 0;             // take frames in those cycles
  int failedTakes = 0;       // takes that no ACK of the PC followed
  double bytesPerCycle = 0;  // every byte on the line, both directions
  double byteTimeMs = 0;     // one byte of 10 bits at the line speed
  double cycleMs = 0;        // mean, from a take of the first register to its next take
  double wireMs = 0;         // bytesPerCycle at the line speed
  double drainMs = 0;        // per cycle, the line's drains before its takes
  // The PC's gaps of one exchange: from the last byte of a register's block to the PC's
  // ACK, and from that ACK to the PC's next take, beyond the wire time and the drain between.
  double ackGapUs = 0;       // median
  double takeGapUs = 0;      // median
  double serverMs = 0;       // per cycle, every gap of the PC summed: its share of the cycle

  // The shortest cycle the line allows: the wire time and the drains.
  double LineMs() const { return wireMs + drainMs; }
  double CycleOverLine() const { return LineMs() > 0 ? cycleMs / LineMs() : 0; }
  // The larger of the two median gaps in byte times: the PC's own time before each frame.
  double GapInByteTimes() const;
  // Per cycle, what is neither the line's time nor the PC's: the emulated registers' own
  // reaction and the lateness of their timers.
  double RestMs() const { return cycleMs - LineMs() - serverMs; }
};

// The cycles between the take frames of `firstEcr`, after leaving out the first
// `warmUpCycles` (the first of all begins without the ACK before its take, so it is shorter
// on a pseudo-terminal than the others by that ACK's wire time). `drainMs` is the line's
// drain before each take frame.
PollCycleFigures FiguresOf(const PollCycleRecord& record, std::uint32_t baud, double drainMs, int firstEcr,
                           int warmUpCycles = 1);

}  // namespace ecr
