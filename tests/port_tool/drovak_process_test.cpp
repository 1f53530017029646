// The real drovak executable, run as a process against a registry tree of the test's own.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/serial_port_names.h"
#include "tests/platform/registry_test_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;
using test::RegistryTestFolder;

struct ProcessResult {
  int exit_code = -1;  // -1 when it did not end by itself
  std::string output;  // standard output and standard error together
};

enum class Output { Read, ClosedBeforeStart };

// Runs the program with ECR_REGISTRY set to registry_root, waiting at most 30 s. With
// Output::ClosedBeforeStart nobody reads its output: writing it fails with a broken pipe.
ProcessResult RunDrovak(const std::vector<std::string>& arguments, const fs::path& registry_root,
                        Output output_end = Output::Read) {
  const TempDir output_folder;
  ChildProcess drovak(DROVAK_EXECUTABLE, arguments,
                      {.environment = {"ECR_REGISTRY=" + registry_root.string()},
                       .outputFile = output_folder.Path() / "output.txt",
                       .outputClosed = output_end == Output::ClosedBeforeStart});
  ProcessResult result;
  const std::optional<int> status = drovak.Wait(std::chrono::seconds(30));
  result.output = drovak.Output();
  if (!status) {
    ADD_FAILURE() << "drovak did not end";
    return result;
  }
  if (WIFEXITED(*status)) result.exit_code = WEXITSTATUS(*status);
  return result;
}

constexpr std::string_view kUsageLine = "Usage: drovak [hide:X |show:1]\n";

class DrovakProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.AddDeviceKey("Enum/Serial/pts0", "COM3", "/dev/pts/100");
    folder_.AddDeviceKey("Enum/Serial/pts1", "COM4", "/dev/pts/101");
  }
  ProcessResult Run(const std::vector<std::string>& arguments) {
    return RunDrovak(arguments, folder_.RegistryRoot());
  }
  std::vector<SerialCommValue> SerialComm() const { return ReadSerialComm(registry_); }

  RegistryTestFolder folder_;
  Registry registry_ = folder_.MakeRegistry();
};

TEST_F(DrovakProcess, HideTakesThePortOutOfSerialCommAndShowBringsItBack) {
  ASSERT_EQ(ResolveSerialPortName(registry_, "COM3"), "/dev/pts/100");

  ProcessResult hide = Run({"hide:3"});
  EXPECT_EQ(hide.exit_code, 0);
  EXPECT_EQ(hide.output, "");
  EXPECT_EQ(ResolveSerialPortName(registry_, "COM3"), std::nullopt);
  EXPECT_EQ(ResolveSerialPortName(registry_, "com4"), "/dev/pts/101");
  EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/101", "COM4"}}));
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum/Serial/pts0Removed"));

  ProcessResult show = Run({"/SHOW:3"});
  EXPECT_EQ(show.exit_code, 0);
  EXPECT_EQ(show.output, "");
  EXPECT_EQ(ResolveSerialPortName(registry_, "COM3"), "/dev/pts/100");
  EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/100", "COM3"},
                                                        {"/dev/pts/101", "COM4"}}));
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum/Serial/pts0"));
}

TEST_F(DrovakProcess, EverySpellingOfTheArgumentActs) {
  struct Case {
    const char* hide;
    const char* show;
  };
  const Case cases[] = {
      {"hide:3", "show:3"}, {"-HIDE:3", "-SHOW:3"}, {"/Hide:3", "/sHoW:3"}, {"HIDE:03", "show:003"},
  };
  for (const Case& c : cases) {
    ProcessResult hide = Run({c.hide});
    EXPECT_EQ(hide.exit_code, 0) << c.hide;
    EXPECT_EQ(hide.output, "") << c.hide;
    EXPECT_EQ(SerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/101", "COM4"}})) << c.hide;
    ProcessResult show = Run({c.show});
    EXPECT_EQ(show.exit_code, 0) << c.show;
    EXPECT_EQ(show.output, "") << c.show;
    EXPECT_EQ(SerialComm().size(), 2u) << c.show;
  }
}

// The error of opening the port by name as the register line does: 0 when it opens.
int OpenByNameError(std::string_view name) {
  SerialPort port;
  return port.Open(name) ? 0 : port.LastError();
}

TEST_F(DrovakProcess, AHiddenPortNoLongerOpensByNameAndAShownOneOpensAgain) {
  RegisterEmulator far_end;  // a real pseudo-terminal behind COM5
  folder_.AddDeviceKey("Enum/Serial/emulated", "COM5", far_end.PortPath());
  const test::SavedEnvironment environment("ECR_REGISTRY", folder_.RegistryRoot().c_str());
  ASSERT_EQ(OpenByNameError("COM5"), 0);

  ASSERT_EQ(Run({"HIDE:5"}).exit_code, 0);
  EXPECT_EQ(OpenByNameError("COM5"), ENOENT);
  EXPECT_EQ(OpenByNameError("com5"), ENOENT);
  // The device itself is still there; only its name is gone.
  EXPECT_EQ(OpenByNameError(far_end.PortPath()), 0);

  ASSERT_EQ(Run({"SHOW:5"}).exit_code, 0);
  EXPECT_EQ(OpenByNameError("COM5"), 0);
}

TEST_F(DrovakProcess, NoArgumentOrMoreThanOneGivesTheUsageLine) {
  const std::vector<std::vector<std::string>> command_lines = {
      {}, {"hide:3", "show:3"}, {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}};
  for (const std::vector<std::string>& arguments : command_lines) {
    ProcessResult result = Run(arguments);
    EXPECT_EQ(result.exit_code, 0) << arguments.size();
    EXPECT_EQ(result.output, kUsageLine) << arguments.size();
  }
  EXPECT_EQ(SerialComm().size(), 2u);
  // Nobody reading the usage line changes nothing either.
  EXPECT_EQ(RunDrovak({}, folder_.RegistryRoot(), Output::ClosedBeforeStart).exit_code, 0);
}

TEST_F(DrovakProcess, AnyOtherSingleArgumentDoesNothingSilently) {
  const char* arguments[] = {"HIDE:9", "HIDE:0", "HIDE:x", "hide:", "-HIDE", "hide:3x", "hide:-3",
                             "--HIDE:3", "SHOW:9", "frobnicate", "", "hide:03 "};
  for (const char* argument : arguments) {
    ProcessResult result = Run({argument});
    EXPECT_EQ(result.exit_code, 0) << argument;
    EXPECT_EQ(result.output, "") << argument;
    EXPECT_EQ(SerialComm().size(), 2u) << argument;
  }
}

TEST_F(DrovakProcess, ARegistryWithoutTheDeviceTreeStaysAsItWas) {
  RegistryTestFolder empty;
  ProcessResult result = RunDrovak({"-hide:3"}, empty.RegistryRoot());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_FALSE(fs::exists(empty.RegistryRoot()));
}

}  // namespace
}  // namespace ecr
