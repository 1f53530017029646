#pragma once
// The figures of a poll cycle, worked out from what the register emulator recorded on a line
// paced both ways (RegisterEmulator::Pacing::BothDirections).
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
  // The PC's gaps of one exchange: from the last byte of a register's block to the PC's
  // ACK, and from that ACK to the PC's next take, beyond the wire time between.
  double ackGapUs = 0;       // median
  double takeGapUs = 0;      // median
  double serverMs = 0;       // per cycle, every gap of the PC summed: its share of cycle - wire

  double CycleOverWire() const { return wireMs > 0 ? cycleMs / wireMs : 0; }
  // The larger of the two median gaps in byte times: the PC's own time before each frame.
  double GapInByteTimes() const;
  // Per cycle, what is neither wire time nor the PC's: the emulated registers' own reaction
  // and the lateness of their timers.
  double RestMs() const { return cycleMs - wireMs - serverMs; }
};

// The cycles between the take frames of `firstEcr`, after leaving out the first
// `warmUpCycles` (the first of all begins without the ACK before its take, so it is shorter
// on a pseudo-terminal than the others by that ACK's wire time).
PollCycleFigures FiguresOf(const PollCycleRecord& record, std::uint32_t baud, int firstEcr, int warmUpCycles = 1);

}  // namespace ecr
