// The search for the controller on COM1..COM9.

#include <gtest/gtest.h>

#include <time.h>

#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "tests/netcontroller/nc_link_fixture.h"

namespace ecr::test {
namespace {

using namespace std::string_literals;
using Commands = std::vector<std::string>;

double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class NcControllerSearch : public ::testing::Test {
 protected:
  NcControllerSearch() : environment_("ECR_REGISTRY", folder_.RegistryRoot().c_str()) {
    std::filesystem::create_directories(folder_.Machine() / "Enum");
    log_.Open();
    controller_.SetLog(log_);
  }
  std::string LogText() const { return RegistryTestFolder::ReadFile(folder_.Folder() / "link.log"); }

  RegistryTestFolder folder_;
  SavedEnvironment environment_;
  LogFile log_{(folder_.Folder() / "link.log").string()};
  TNetController controller_;
};

TEST_F(NcControllerSearch, ProbesEachPortUntilTheControllerAnswers) {
  ControllerEmulator silent;
  silent.SetSilent(true);
  ControllerEmulator wrong;
  wrong.SetIdentifyReply("NC0001\x00\x01\x0C\x02\x06\x00"s);  // status 2: no controller
  ControllerEmulator nc;
  nc.SetIdentity("\x01\xA0Z-9\xFF"s);
  MapPort(folder_, 1, silent.PortPath());
  MapPort(folder_, 2, wrong.PortPath());
  MapPort(folder_, 3, "/dev/null/missing");
  MapPort(folder_, 4, nc.PortPath());

  const auto started = std::chrono::steady_clock::now();
  const double cpuBefore = ProcessCpuSeconds();
  controller_.FindController();
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const auto took = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(controller_.Com(), 4);
  EXPECT_EQ(controller_.Id(), "\x01\xA0Z-9\xFF"s);
  EXPECT_EQ(controller_.LinkState(), 0);
  // Each emulator records what it read on its own thread, which a loaded machine may hold.
  EXPECT_TRUE(silent.WaitForCommands("IDENTIFY", 1, 5s));
  EXPECT_TRUE(wrong.WaitForCommands("IDENTIFY", 1, 5s));
  EXPECT_EQ(silent.ReceivedCommands(), Commands{"IDENTIFY"});
  EXPECT_EQ(wrong.ReceivedCommands(), Commands{"IDENTIFY"});
  ASSERT_TRUE(nc.WaitForCommands("MASK 0000", 1, 5s));
  EXPECT_EQ(nc.ReceivedCommands(), (Commands{"IDENTIFY", "MASK 0000"}));
  // The silent port is given its 1000 ms; the wait sleeps instead of spinning.
  EXPECT_GE(took, 1000ms);
  EXPECT_LT(cpu, 0.5);
}

TEST_F(NcControllerSearch, NoControllerLeavesComZeroAndLogsIt) {
  struct Case {
    const char* name;
    int port;  // where the controller sits; 0 = nowhere
    bool held;  // the controller's port is held by another user
  };
  const Case cases[] = {
      {"no port at all", 0, false},
      {"controller on COM10", 10, false},
      {"controller's port in use", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerEmulator nc;
    std::filesystem::remove_all(folder_.Machine() / "Enum" / "Test");
    if (c.port != 0) MapPort(folder_, c.port, nc.PortPath());
    SerialPort holder;
    if (c.held) {
      ASSERT_TRUE(holder.Open(nc.PortPath()));
    }
    controller_.FindController();
    EXPECT_EQ(controller_.Com(), 0);
    EXPECT_EQ(controller_.Id(), "");
    EXPECT_EQ(controller_.LinkState(), 2);
    EXPECT_EQ(nc.ReceivedBytes(), "");
  }
  std::string log = LogText();
  int lines = 0;
  for (auto at = log.find("NetController not found!"); at != std::string::npos;
       at = log.find("NetController not found!", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 3);
}

}  // namespace
}  // namespace ecr::test
