#pragma once
// Runs the register server's polling thread and serial line against emulated registers on a
// line paced both ways, and records the run for FiguresOf. Registers 1..N each answer their
// take with their status block ("1001;" and so on); no command is pending and no client
// is attached, so every exchange is free, take, status block, ACK.
//
// Threads: any thread; one run at a time per log.

#include <cstdint>

#include "bench/poll_cycle_figures.h"

namespace ecr {

class LogFile;

// Polls until register 1 has been taken `takesOfFirst` times, or until a time-out of about
// twice what that needs on the line; the record holds whatever was done by then.
PollCycleRecord RunPollCycle(std::uint32_t baud, int registers, int takesOfFirst, LogFile& log);

// `cycles` measured cycles after one to warm up.
PollCycleFigures MeasurePollCycle(std::uint32_t baud, int registers, int cycles, LogFile& log);

}  // namespace ecr
