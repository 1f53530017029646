// Benchmark: one poll cycle of the register server over 1, 4 and 16 emulated registers at
// 4800 and 19200 bit/s, on a line where both directions take their wire time, next to that
// wire time, the line's drains before its takes and the server's own turnaround. Prints a
// table and what its columns mean; the README says how to read it.
//
//   poll_cycle_bench

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>

#include "bench/poll_cycle_run.h"
#include "bench/terminal_echo.h"
#include "foundation/log_file.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kLegend =
    "bytes/cycle  every byte on the line in one cycle, both directions: per register the\n"
    "             server's free and take frames, the register's status block, the server's ACK\n"
    "cycle ms     mean time from one take frame of register 1 to the next\n"
    "wire ms      bytes/cycle at the line speed, 10 bits a byte\n"
    "drain ms     per cycle, the line's drains: before each take frame it throws away what\n"
    "             arrives for 10 ms (the rest of an earlier exchange)\n"
    "cycle/line   the cycle over wire ms + drain ms, the shortest cycle the line allows; at least\n"
    "             1; what the server and the registers add shows above 1\n"
    "server ms    per cycle, all the server's own time between the bytes (its gaps below, summed)\n"
    "ACK gap us   median time from the last byte of a register's block to the first byte of the\n"
    "             server's ACK; it holds the terminal's echo time given above\n"
    "TAKE gap us  median time from the server's ACK to its next take frame, beyond the wire time\n"
    "             of the ACK and free frame and beyond the 10 ms drain in between: the server's\n"
    "             turnaround and how late the drain ends\n"
    "gap/byte     the larger median gap in byte times: what the server adds before each frame it\n"
    "             sends; well under 1 is good\n"
    "rest ms      per cycle, what is neither the line's time nor the server's: the emulated\n"
    "             registers' own reaction and the lateness of their timers\n"
    "On a loaded machine a few exchanges stall; they show in server ms and rest ms, not in the\n"
    "medians.\n";

// Enough cycles for about 48 exchanges, and never fewer than 5 cycles.
int CyclesFor(int registers) { return std::max(5, 48 / registers); }

}  // namespace

int main() {
  try {
    ecr::TempDir dir;
    ecr::LogFile log(dir.File("bench.log"));
    log.Open();
    std::printf("Poll cycle of the register server's polling thread and serial line over emulated\n"
                "registers on a pseudo-terminal; both directions take their wire time.\n"
                "A byte echoed through a pseudo-terminal by a waiting thread: %.1f us (median).\n\n",
                ecr::TerminalEchoMedianUs(200));
    std::printf("%6s %4s %11s %9s %8s %8s %10s %9s %10s %11s %8s %7s\n", "bit/s", "ECRs", "bytes/cycle", "cycle ms",
                "wire ms", "drain ms", "cycle/line", "server ms", "ACK gap us", "TAKE gap us", "gap/byte", "rest ms");
    bool measured = true;
    for (const std::uint32_t baud : {4800u, 19200u}) {
      for (const int registers : {1, 4, 16}) {
        const ecr::PollCycleFigures f = ecr::MeasurePollCycle(baud, registers, CyclesFor(registers), log);
        if (f.cycles == 0) {
          std::printf("%6u %4d  no whole cycle measured\n", baud, registers);
          measured = false;
          continue;
        }
        std::printf("%6u %4d %11.1f %9.2f %8.2f %8.2f %10.3f %9.2f %10.1f %11.1f %8.3f %7.2f\n", baud, registers,
                    f.bytesPerCycle, f.cycleMs, f.wireMs, f.drainMs, f.CycleOverLine(), f.serverMs, f.ackGapUs,
                    f.takeGapUs, f.GapInByteTimes(), f.RestMs());
        if (f.failedTakes > 0) {
          std::printf("       %d of %d takes failed; their time-outs are in the cycle\n", f.failedTakes, f.takes);
        }
      }
    }
    std::printf("\n%s", kLegend);
    return measured ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "poll_cycle_bench: %s\n", e.what());
    return 1;
  }
}
