// One poll cycle over N emulated registers, each answering its take with a status block,
// at 4800 and 19200 bit/s with the emulator pacing the registers' bytes at the line speed.
// Prints the measured cycle time (from one take frame of register 1 to the next, averaged)
// next to the time that the cycle's bytes need on the wire in both directions. The PC's
// own bytes reach a pseudo-terminal at once, so the measured time holds the registers'
// paced bytes, the turn-around of both sides and the PC's transmit time allowances.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/log_file.h"
#include "line/link_frames.h"
#include "line/pol_thread.h"
#include "line/simple_com_object.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

struct Figures {
  double cycleMs = 0;
  double wireMs = 0;      // every byte of the cycle, both directions
  double registerMs = 0;  // the registers' bytes alone (the part the emulator paces)
};

Figures MeasureCycle(std::uint32_t baud, int registers, int cycles, ecr::LogFile& log) {
  ecr::RegisterEmulator emulator;
  emulator.SetPacing(baud);
  std::size_t wireBytes = 0;
  std::size_t registerBytes = 0;
  const int fill = ecr::FillCountOf(baud);
  for (int n = 1; n <= registers; ++n) {
    emulator.AddRegister(n);
    const std::string status = std::to_string(1000 + n) + ";";
    wireBytes += ecr::FreeFrame(fill).size() + ecr::TakeFrame(n).size() + ecr::AckFrame().size();
    wireBytes += ecr::EcrDataBlock(status).size();
    registerBytes += ecr::EcrDataBlock(status).size();
  }
  ecr::TSimpleComObject line;
  line.SetLog(log);
  line.PortName = emulator.PortPath();
  line.SetBaudRate(baud);
  line.Open();
  ecr::TPolThread poller;
  poller.SetLog(log);
  poller.Com = &line;
  for (int n = 1; n <= registers; ++n) poller.AddEcr(n);
  poller.Resume();
  emulator.WaitForFrames("TAKE 01", cycles + 1, std::chrono::milliseconds(10'000 + cycles * registers * 500));

  std::vector<ecr::RegisterEmulator::Clock::time_point> takes;
  for (const auto& frame : emulator.ReceivedTimedFrames()) {
    if (frame.text == "TAKE 01") takes.push_back(frame.at);
  }
  Figures figures;
  figures.wireMs = static_cast<double>(wireBytes) * 10'000.0 / baud;
  figures.registerMs = static_cast<double>(registerBytes) * 10'000.0 / baud;
  if (takes.size() >= 2) {
    const auto span = std::chrono::duration<double, std::milli>(takes.back() - takes.front());
    figures.cycleMs = span.count() / static_cast<double>(takes.size() - 1);
  }
  return figures;
}

}  // namespace

int main() {
  ecr::TempDir dir;
  ecr::LogFile log(dir.File("bench.log"));
  log.Open();
  std::printf("%8s %10s %12s %12s %14s %16s\n", "bit/s", "registers", "cycle ms", "wire ms", "cycle/wire",
              "register ms");
  for (const std::uint32_t baud : {4800u, 19200u}) {
    for (const int registers : {1, 4, 16}) {
      const Figures f = MeasureCycle(baud, registers, 10, log);
      std::printf("%8u %10d %12.2f %12.2f %14.2f %16.2f\n", baud, registers, f.cycleMs, f.wireMs,
                  f.wireMs > 0 ? f.cycleMs / f.wireMs : 0.0, f.registerMs);
    }
  }
  return 0;
}
