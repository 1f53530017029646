// The register side of the service on a real pseudo-terminal with the register emulator:
// the port names of the registry, the speed, the failures a start shows, and the road
// from an opened SET to the register being polled.
#include "server_app/serial_polling_service.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "line/comm_error.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;

class RecordingSender : public ClientSender {
 public:
  void SendData(std::uint16_t, std::string_view data) override {
    std::lock_guard<std::mutex> guard(mutex_);
    sent_.emplace_back(data);
  }
  std::vector<std::string> Sent() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sent_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> sent_;
};

class NoSaver : public SettingsSaver {
 public:
  void Save() override {}
};

class SerialPollingServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ + "/HKEY_LOCAL_MACHINE/Enum");
    setenv("ECR_REGISTRY", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ECR_REGISTRY");
  }
  void MapPort(const std::string& name, const std::string& device) {
    const std::string key = dir_ + "/HKEY_LOCAL_MACHINE/Enum/Serial/" + name;
    std::filesystem::create_directories(key);
    std::ofstream(key + "/PORTNAME") << name;
    std::ofstream(key + "/DeviceNode") << device;
  }
  std::string Failure(const std::string& port) {
    PollingStart start;
    start.comPort = port;
    try {
      MakeSerialPollingService(start, engine_, sender_);
    } catch (const ECommError& e) {
      return e.what();
    }
    return "(no failure)";
  }

  TempDir temp_;
  std::string dir_ = temp_.Path().string();
  ServerSettings settings_;
  NoSaver saver_;
  RequestEngine engine_{settings_, saver_, "v1.0.21.1"};
  RecordingSender sender_;
};

TEST_F(SerialPollingServiceTest, StartFailuresCarryTheLineTexts) {
  EXPECT_EQ(Failure("COM9"), "Unable to open port COM9!");
  RegisterEmulator emulator;
  MapPort("COM2", emulator.PortPath());
  const int holder = open(emulator.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(Failure("COM2"), "Unable to open port COM2!");
  close(holder);
}

TEST_F(SerialPollingServiceTest, OpenedSetPutsTheRegisterOnThePollList) {
  RegisterEmulator emulator;
  emulator.AddRegister(5);
  MapPort("COM1", emulator.PortPath());
  PollingStart start;
  start.comPort = "com1";  // names match without regard to case
  start.comSpeed = 19200;
  start.codeTable = HarbendixCodeTables().Table(1);
  auto service = MakeSerialPollingService(start, engine_, sender_);
  EXPECT_EQ(service->PortName(), "com1");
  {
    const int fd = open(emulator.PortPath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
    close(fd);
  }
  // Nobody has opened a SET yet: the line stays quiet apart from keep-alive bytes.
  std::this_thread::sleep_for(300ms);
  for (const std::string& frame : emulator.ReceivedFrames()) EXPECT_EQ(frame.rfind("TAKE", 0), std::string::npos);

  engine_.DispatchRequest(sender_, &service->Control(), 1, BuildClientMessage(1, cmdOpen, 5, 0, "", ""));
  ASSERT_EQ(sender_.Sent().size(), 1u);
  EXPECT_EQ(ParseClientMessage(sender_.Sent()[0]).ErrorCode, erNoError);
  EXPECT_TRUE(emulator.WaitForFrames("TAKE 05", 3, 20s));

  // The stop: the thread ends and the line closes; the register is taken no more.
  // Frames written before the stop may still be on their way into the emulator, so the
  // line counts as quiet once nothing more has arrived for 300 ms; a thread still polling
  // would never let it settle.
  service.reset();
  bool settled = false;
  std::size_t frames = emulator.ReceivedFrames().size();
  for (const auto deadline = std::chrono::steady_clock::now() + 20s; !settled && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(300ms);
    const std::size_t now = emulator.ReceivedFrames().size();
    settled = now == frames;
    frames = now;
  }
  EXPECT_TRUE(settled);
  // The close frees the register last.
  EXPECT_EQ(emulator.ReceivedFrames().back(), "FREE");
}

}  // namespace
}  // namespace ecr
