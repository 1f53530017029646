// The serial port on a pseudo-terminal: opening by path and by port name, exclusive use,
// every speed of the register link, reading with a time-out.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "line/link_frames.h"
#include "platform/registry.h"
#include "platform/serial_port.h"
#include "platform/serial_port_names.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;

TEST(SerialPort, EverySpeedOfTheLinkIsSetAndReadBack) {
  RegisterEmulator emulator;
  SerialPort port;
  ASSERT_TRUE(port.Open(emulator.PortPath())) << port.LastError();
  // From every speed to every other (the register search walks them): both directions
  // follow, also from a speed without a termios constant to one with.
  for (const LinkSpeed& from : SpeedTable) {
    for (const LinkSpeed& to : SpeedTable) {
      SCOPED_TRACE(std::to_string(from.Speed) + " -> " + std::to_string(to.Speed));
      ASSERT_TRUE(port.Configure(from.Speed)) << port.LastError();
      ASSERT_TRUE(port.Configure(to.Speed)) << port.LastError();
      EXPECT_EQ(port.Speed(), to.Speed);
      EXPECT_EQ(port.InputSpeed(), to.Speed);
    }
  }
}

TEST(SerialPort, IsUsedExclusively) {
  RegisterEmulator emulator;
  SerialPort first;
  SerialPort second;
  ASSERT_TRUE(first.Open(emulator.PortPath()));
  EXPECT_FALSE(second.Open(emulator.PortPath()));
  EXPECT_EQ(second.LastError(), EWOULDBLOCK);
  EXPECT_FALSE(first.Open(emulator.PortPath()));  // already open
  first.Close();
  EXPECT_TRUE(second.Open(emulator.PortPath()));
}

TEST(SerialPort, MissingDeviceAndNonTerminal) {
  TempDir dir;
  SerialPort port;
  EXPECT_FALSE(port.Open(dir.File("no-such-tty")));
  EXPECT_EQ(port.LastError(), ENOENT);
  const std::string plain = dir.File("plain");
  { std::FILE* f = std::fopen(plain.c_str(), "w"); std::fclose(f); }
  ASSERT_TRUE(port.Open(plain));
  EXPECT_FALSE(port.Configure(9600));
  EXPECT_EQ(port.LastError(), ENOTTY);
}

TEST(SerialPort, PortNamesResolveThroughTheDeviceKeys) {
  TempDir dir;
  ::setenv("ECR_REGISTRY", dir.Path().c_str(), 1);
  RegisterEmulator emulator;
  const Registry registry;
  // An Enum tree of our own, so the machine's serial devices play no part.
  auto key = registry.CreateKey(RegistryHive::LocalMachine, "Enum\\Test\\pty0");
  ASSERT_TRUE(key);
  key->WriteString(kPortNameValue, "COM7");
  key->WriteString(kDeviceNodeValue, emulator.PortPath());
  auto hidden = registry.CreateKey(RegistryHive::LocalMachine, "Enum\\TestRemoved\\pty1");
  ASSERT_TRUE(hidden);
  hidden->WriteString(kPortNameValue, "COM8");
  hidden->WriteString(kDeviceNodeValue, emulator.PortPath());

  SerialPort port;
  EXPECT_TRUE(port.Open("com7"));
  port.Close();
  for (const char* name : {"COM8", "COM99", ""}) {
    EXPECT_FALSE(port.Open(name)) << name;
    EXPECT_EQ(port.LastError(), ENOENT) << name;
  }
  ::unsetenv("ECR_REGISTRY");
}

TEST(SerialPort, WaitsForInputAtMostTheTimeOut) {
  RegisterEmulator emulator;
  emulator.AddRegister(3);
  SerialPort port;
  ASSERT_TRUE(port.Open(emulator.PortPath()));
  ASSERT_TRUE(port.Configure(19200));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.WaitForInput(10));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 9ms);
  EXPECT_LT(waited, 1s);

  ASSERT_TRUE(port.Write(TakeFrame(3)));
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (got.size() < EcrDataBlock("1003;").size() && std::chrono::steady_clock::now() < deadline) {
    std::uint8_t byte = 0;
    if (port.WaitForInput(10) && port.ReadQueuedByte(byte) == SerialPort::ReadStatus::Byte) got += static_cast<char>(byte);
  }
  EXPECT_EQ(got, EcrDataBlock("1003;"));
}

TEST(SerialPort, DiscardingInputEndsAtItsLimitOrItsTimeOutOrAHangUp) {
  using Clock = std::chrono::steady_clock;
  auto emulator = std::make_unique<RegisterEmulator>();
  SerialPort port;
  ASSERT_TRUE(port.Open(emulator->PortPath()));
  ASSERT_TRUE(port.Configure(19200));
  // Nothing comes: the whole time-out.
  auto start = Clock::now();
  EXPECT_EQ(port.DiscardInputFor(2048, 10), 0u);
  EXPECT_GE(Clock::now() - start, 10ms);
  // More than the limit comes: the limit is thrown away as soon as it is in, the rest stays.
  emulator->SendOutOfTurn(std::string(2100, '\xFF'));
  start = Clock::now();
  EXPECT_EQ(port.DiscardInputFor(2048, 2000), 2048u);
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_EQ(port.DiscardInputFor(2048, 10), 52u);
  // The far end hangs up: the drain ends rather than waiting out (or spinning through) its
  // time-out.
  emulator.reset();
  start = Clock::now();
  EXPECT_EQ(port.DiscardInputFor(2048, 2000), 0u);
  EXPECT_LT(Clock::now() - start, 1s);
}

}  // namespace
}  // namespace ecr
