#include "platform/serial_port_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/registry_test_folder.h"

namespace ecr {

void PrintTo(const SerialCommValue& v, std::ostream* os) { *os << v.name << "=" << v.data; }

namespace {

namespace fs = std::filesystem;
using test::RegistryTestFolder;

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

class SerialPortNamesTest : public ::testing::Test {
 protected:
  RegistryTestFolder folder_;
  Registry registry_ = folder_.MakeRegistry();
};

TEST_F(SerialPortNamesTest, VisibleDeviceKeysNamePortsAndHiddenOnesDoNot) {
  folder_.AddDeviceKey("Enum/Serial/ttyUSB0", "COM3", "/dev/ttyUSB0");
  folder_.AddDeviceKey("Enum/PCI/VEN_1/Inst/Device", "com5", "/dev/ttyS4");
  folder_.AddDeviceKey("Enum/Serial/ttyUSB1Removed", "COM4", "/dev/ttyUSB1");
  folder_.AddDeviceKey("Enum/USBRemoved/Hub/Port", "COM6", "/dev/ttyACM0");
  // Half a device key names no port.
  RegistryTestFolder::WriteFile(folder_.Machine() / "Enum/Serial/NoNode/PORTNAME", "COM7");

  struct Case {
    const char* name;
    std::optional<std::string> device;
  };
  const Case cases[] = {
      {"COM3", "/dev/ttyUSB0"},
      {"com3", "/dev/ttyUSB0"},
      {"COM5", "/dev/ttyS4"},
      {"COM4", std::nullopt},  // hidden by its own name
      {"COM6", std::nullopt},  // hidden by a key above it
      {"COM7", std::nullopt},
      {"COM1", std::nullopt},
      {"", std::nullopt},
      {"/dev/pts/7", "/dev/pts/7"},  // a path is used as it stands
      {"/no/such/device", "/no/such/device"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveSerialPortName(registry_, c.name), c.device) << c.name;

  EXPECT_EQ(ReadSerialComm(registry_), (std::vector<SerialCommValue>{
                                           {"/dev/ttyS4", "com5"},
                                           {"/dev/ttyUSB0", "COM3"},
                                       }));
  const std::vector<SerialDeviceKey> keys = ListSerialDeviceKeys(registry_);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].key_path, "Enum\\PCI\\VEN_1\\Inst\\Device");
  EXPECT_EQ(keys[1].key_path, "Enum\\Serial\\ttyUSB0");
}

TEST_F(SerialPortNamesTest, ReadsTheRegistryAfreshOnEveryCall) {
  folder_.AddDeviceKey("Enum/Serial/ttyUSB0", "COM3", "/dev/ttyUSB0");
  ASSERT_EQ(ResolveSerialPortName(registry_, "COM3"), "/dev/ttyUSB0");
  ASSERT_TRUE(registry_.MoveKey(kMachine, "Enum\\Serial\\ttyUSB0", "Enum\\Serial\\ttyUSB0Removed"));
  EXPECT_EQ(ResolveSerialPortName(registry_, "COM3"), std::nullopt);
  EXPECT_TRUE(ReadSerialComm(registry_).empty());
  ASSERT_TRUE(registry_.OpenKey(kMachine, "Enum\\Serial\\ttyUSB0Removed")->WriteString("PORTNAME", "x"));
  ASSERT_TRUE(registry_.MoveKey(kMachine, "Enum\\Serial\\ttyUSB0Removed", "Enum\\Serial\\ttyUSB0"));
  EXPECT_EQ(ResolveSerialPortName(registry_, "X"), "/dev/ttyUSB0");
}

TEST_F(SerialPortNamesTest, TheCallsWithoutARegistryUseTheEnvironmentsRoot) {
  folder_.AddDeviceKey("Enum/Serial/pty", "COM2", "/dev/pts/3");
  const test::SavedEnvironment environment("ECR_REGISTRY", folder_.RegistryRoot().c_str());
  EXPECT_EQ(ResolveSerialPortName("com2"), "/dev/pts/3");
  EXPECT_EQ(ReadSerialComm(), (std::vector<SerialCommValue>{{"/dev/pts/3", "COM2"}}));
}

TEST(HiddenDeviceKeyPath, AnyComponentEndingInRemovedHides) {
  struct Case {
    const char* path;
    bool hidden;
  };
  const Case cases[] = {
      {"Enum\\Serial\\ttyS0", false},       {"Enum\\Serial\\ttyS0Removed", true},
      {"Enum\\USBRemoved\\Hub\\Port", true}, {"Enum\\Serial\\Removed", true},
      {"Enum\\Serial\\ttyS0removed", false}, {"Enum\\Removed\\", true},
      {"Enum\\RemovedX", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsHiddenDeviceKeyPath(c.path), c.hidden) << c.path;
}

// A sysfs tty class folder of our own making.
class FakeSysfs {
 public:
  explicit FakeSysfs(fs::path root) : root_(std::move(root)) { fs::create_directories(root_); }
  // device: whether the entry has a "device" link; type: the "type" file, if any.
  void Add(const std::string& tty, bool device, std::optional<std::string> type = std::nullopt) {
    fs::create_directories(root_ / tty);
    if (device) fs::create_directory_symlink("../../devices/platform/" + tty, root_ / tty / "device");
    if (type) RegistryTestFolder::WriteFile(root_ / tty / "type", *type);
  }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

TEST_F(SerialPortNamesTest, SeedingNumbersTheMachinesSerialDevicesInNameOrder) {
  FakeSysfs sysfs(folder_.Folder() / "sys/class/tty");
  sysfs.Add("ttyUSB0", true);
  sysfs.Add("ttyS1", true, "4\n");
  sysfs.Add("ttyS0", true, "0\n");  // a possible port without a UART behind it
  sysfs.Add("ttyS2", true);         // no type to tell
  sysfs.Add("ttyACM0", true);
  sysfs.Add("tty0", false);  // a virtual console
  sysfs.Add("ptmx", false);
  EXPECT_EQ(ListSysfsSerialDevices(sysfs.Root()),
            (std::vector<std::string>{"ttyACM0", "ttyS1", "ttyUSB0"}));

  EXPECT_TRUE(SeedSerialDeviceTree(registry_, sysfs.Root()));
  EXPECT_EQ(ReadSerialComm(registry_), (std::vector<SerialCommValue>{
                                           {"/dev/ttyACM0", "COM1"},
                                           {"/dev/ttyS1", "COM2"},
                                           {"/dev/ttyUSB0", "COM3"},
                                       }));
  std::optional<RegistryKey> key = registry_.OpenKey(kMachine, "Enum\\Serial\\ttyS1");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadString("PORTNAME"), "COM2");
  EXPECT_EQ(key->ReadString("DeviceNode"), "/dev/ttyS1");
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum" / "Serial" / "ttyUSB0"));

  // Only the first use seeds: later devices and removals leave the tree alone.
  sysfs.Add("ttyUSB1", true);
  EXPECT_FALSE(SeedSerialDeviceTree(registry_, sysfs.Root()));
  EXPECT_EQ(ReadSerialComm(registry_).size(), 3u);
  // No work folder is left behind.
  EXPECT_EQ(registry_.OpenKey(kMachine, "")->SubkeyNames(), std::vector<std::string>{"Enum"});
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Machine()), fs::directory_iterator()), 1);
}

TEST_F(SerialPortNamesTest, AnExistingOrEmptyDeviceTreeIsNotSeededAgain) {
  FakeSysfs sysfs(folder_.Folder() / "sys");
  sysfs.Add("ttyUSB0", true);
  // Any spelling of the tree counts, even an empty one.
  fs::create_directories(folder_.Machine() / "ENUM");
  EXPECT_FALSE(SeedSerialDeviceTree(registry_, sysfs.Root()));
  EXPECT_TRUE(ReadSerialComm(registry_).empty());

  RegistryTestFolder other;
  const Registry other_registry = other.MakeRegistry();
  FakeSysfs nothing(other.Folder() / "sys");
  EXPECT_TRUE(SeedSerialDeviceTree(other_registry, nothing.Root()));
  EXPECT_TRUE(other_registry.OpenKey(kMachine, "Enum"));
  EXPECT_FALSE(SeedSerialDeviceTree(other_registry, folder_.Folder() / "sys"));
  EXPECT_TRUE(ReadSerialComm(other_registry).empty());
}

TEST_F(SerialPortNamesTest, ConcurrentFirstUsesSeedOnceAndCompletely) {
  FakeSysfs sysfs(folder_.Folder() / "sys");
  for (int i = 0; i < 20; ++i) sysfs.Add("ttyUSB" + std::to_string(i), true);
  constexpr int kThreads = 6;
  std::vector<int> seeded(kThreads, 0);
  std::vector<std::size_t> seen(kThreads, 0);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const Registry registry = folder_.MakeRegistry();
        seeded[t] = SeedSerialDeviceTree(registry, sysfs.Root()) ? 1 : 0;
        seen[t] = ReadSerialComm(registry).size();
      });
    }
  }
  int seeders = 0;
  for (int t = 0; t < kThreads; ++t) {
    seeders += seeded[t];
    EXPECT_EQ(seen[t], 20u) << t;
  }
  EXPECT_EQ(seeders, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Machine()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace ecr
