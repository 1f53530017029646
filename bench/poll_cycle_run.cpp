#include "bench/poll_cycle_run.h"

#include <chrono>

#include "foundation/log_file.h"
#include "line/pol_thread.h"
#include "line/simple_com_object.h"
#include "tests/support/register_emulator.h"

namespace ecr {

PollCycleRecord RunPollCycle(std::uint32_t baud, int registers, int takesOfFirst, LogFile& log) {
  RegisterEmulator emulator;
  emulator.SetPacing(baud, RegisterEmulator::Pacing::BothDirections);
  for (int n = 1; n <= registers; ++n) emulator.AddRegister(n);
  TSimpleComObject line;
  line.SetLog(log);
  line.PortName = emulator.PortPath();
  line.SetBaudRate(baud);
  line.Open();
  {
    TPolThread poller;
    poller.SetLog(log);
    poller.Com = &line;
    for (int n = 1; n <= registers; ++n) poller.AddEcr(n);
    poller.Resume();
    // About 40 bytes an exchange at 10 bits each, twice over, and a second to start.
    const auto budget = std::chrono::milliseconds(1000 + 2LL * takesOfFirst * registers * 40 * 10'000 / baud);
    const std::string firstTake = PcFrame{PcFrame::Kind::Take, 1, {}}.Describe();
    emulator.WaitForFrames(firstTake, takesOfFirst, budget);
  }  // the poller ends here and closes the line
  return PollCycleRecord{emulator.ReceivedTimedFrames(), emulator.Received(), emulator.Sent()};
}

PollCycleFigures MeasurePollCycle(std::uint32_t baud, int registers, int cycles, LogFile& log) {
  constexpr int kWarmUpCycles = 1;
  return FiguresOf(RunPollCycle(baud, registers, cycles + kWarmUpCycles + 1, log), baud, TSimpleComObject::kDrainMs, 1,
                   kWarmUpCycles);
}

}  // namespace ecr
