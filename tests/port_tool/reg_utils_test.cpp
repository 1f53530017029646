#include "port_tool/reg_utils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/platform/registry_test_folder.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;
using test::RegistryTestFolder;

// A device tree written straight to the folders. Every device key gets a value "Marker"
// naming where it was made and a subkey with a value of its own, so that a test can see
// where each key went and that it went whole.
class DeviceTree {
 public:
  void Add(const std::string& path, const std::string& port_name) const {
    const fs::path key = folder_.Machine() / path;
    RegistryTestFolder::WriteFile(key / "PORTNAME", port_name);
    RegistryTestFolder::WriteFile(key / "Marker", path);
    RegistryTestFolder::WriteFile(key / "Device Parameters" / "Setting", "kept");
  }

  // Key path (with "/") -> Marker, for every key that holds a marker.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> keys;
    if (!fs::exists(folder_.Machine())) return keys;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder_.Machine())) {
      if (entry.path().filename() != "Marker") continue;
      const fs::path key = entry.path().parent_path();
      EXPECT_EQ(RegistryTestFolder::ReadFile(key / "Device Parameters" / "Setting"), "kept") << key;
      keys[fs::relative(key, folder_.Machine()).string()] = RegistryTestFolder::ReadFile(entry.path());
    }
    return keys;
  }

  RegUtils Tool() const { return RegUtils(folder_.MakeRegistry()); }
  const RegistryTestFolder& Folder() const { return folder_; }

 private:
  RegistryTestFolder folder_;
};

TEST(RegUtils, HiddenKeysAndTheirPlainNames) {
  struct Case {
    const char* path;
    bool hidden;
    const char* plain;
  };
  const Case cases[] = {
      {"ENUM\\Serial\\XRemoved", true, "ENUM\\Serial\\X"},
      {"ENUM\\Serial\\Removed", true, "ENUM\\Serial\\"},  // the plain path ends with "\"
      {"Removed", true, ""},
      {"emoved", false, "emoved"},
      {"ENUM\\Serial\\Xremoved", false, "ENUM\\Serial\\Xremoved"},  // case counts
      {"ENUM\\USBRemoved\\Hub", false, "ENUM\\USBRemoved\\Hub"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegUtils::IsHiddenKey(c.path), c.hidden) << c.path;
    EXPECT_EQ(RegUtils::PlainKeyName(c.path), c.plain) << c.path;
  }
}

TEST(RegUtils, FindKeysByValueSearchesEveryDepthWithoutRegardToCase) {
  DeviceTree tree;
  tree.Add("Enum/Serial/ttyUSB0", "com3");
  tree.Add("Enum/PCI/VEN_8086/DEV_1/Inst/Port", "Com3");
  tree.Add("Enum/Serial/ttyUSB0/Child", "COM3");
  tree.Add("Enum/Serial/ttyUSB1", "COM30");
  tree.Add("Enum/Serial/ttyUSB2", "COM4");
  RegistryTestFolder::WriteFile(tree.Folder().Machine() / "Enum" / "Serial" / "Other" / "portname", "COM3");
  RegistryTestFolder::WriteFile(tree.Folder().Machine() / "Software" / "X" / "PORTNAME", "COM3");

  const RegUtils tool = tree.Tool();
  const std::vector<std::string> expected = {
      "ENUM\\PCI\\VEN_8086\\DEV_1\\Inst\\Port",
      "ENUM\\Serial\\Other",
      "ENUM\\Serial\\ttyUSB0",
      "ENUM\\Serial\\ttyUSB0\\Child",
  };
  EXPECT_EQ(tool.PortKeyList(3), expected);
  EXPECT_EQ(tool.FindKeysByValue("enum", "PortName", "cOm3"), expected);
  // The start key itself counts.
  EXPECT_EQ(tool.FindKeysByValue("Enum\\Serial\\ttyUSB2", "PORTNAME", "COM4"),
            std::vector<std::string>{"ENUM\\SERIAL\\TTYUSB2"});
  EXPECT_TRUE(tool.FindKeysByValue("Enum\\Missing", "PORTNAME", "COM3").empty());
  EXPECT_TRUE(tool.PortKeyList(5).empty());
}

TEST(RegUtils, HideAndShowMoveThePortsKeysAsTheRulesSay) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> keys;  // path -> PORTNAME
    bool hide;
    int port;
    std::map<std::string, std::string> after;  // path -> the path where the key was made
  };
  const Case cases[] = {
      {"hide one key, its PORTNAME in any case",
       {{"Enum/Serial/X", "com3"}}, true, 3,
       {{"Enum/Serial/XRemoved", "Enum/Serial/X"}}},
      {"hide when the hidden twin is also there: the twin goes first",
       {{"Enum/Serial/X", "COM3"}, {"Enum/Serial/XRemoved", "COM3"}}, true, 3,
       {{"Enum/Serial/XRemoved", "Enum/Serial/X"}}},
      {"show a hidden key",
       {{"Enum/Serial/XRemoved", "COM3"}}, false, 3,
       {{"Enum/Serial/X", "Enum/Serial/XRemoved"}}},
      {"show when the visible twin is there: the hidden one goes, the rest stays",
       {{"Enum/Serial/X", "COM3"}, {"Enum/Serial/XRemoved", "COM3"}, {"Enum/USB/YRemoved", "COM3"}},
       false, 3,
       {{"Enum/Serial/X", "Enum/Serial/X"}, {"Enum/USB/YRemoved", "Enum/USB/YRemoved"}}},
      {"a key named Removed alone has its parent for plain name and stays",
       {{"Enum/Serial/X/Removed", "COM3"}}, false, 3,
       {{"Enum/Serial/X/Removed", "Enum/Serial/X/Removed"}}},
      {"a key named Removed alone below a key of the same port: show moves nothing",
       {{"Enum/Serial/X", "COM3"}, {"Enum/Serial/X/Removed", "COM3"}}, false, 3,
       {{"Enum/Serial/X", "Enum/Serial/X"}, {"Enum/Serial/X/Removed", "Enum/Serial/X/Removed"}}},
      {"a key named Removed alone is hidden already: hide leaves it",
       {{"Enum/Serial/X/Removed", "COM3"}}, true, 3,
       {{"Enum/Serial/X/Removed", "Enum/Serial/X/Removed"}}},
      {"a hidden name taken by a key of another port: nothing moves",
       {{"Enum/Serial/X", "COM3"}, {"Enum/Serial/XRemoved", "COM4"}}, true, 3,
       {{"Enum/Serial/X", "Enum/Serial/X"}, {"Enum/Serial/XRemoved", "Enum/Serial/XRemoved"}}},
      {"only the port asked for",
       {{"Enum/Serial/X", "COM3"}, {"Enum/Serial/Y", "COM4"}}, true, 4,
       {{"Enum/Serial/X", "Enum/Serial/X"}, {"Enum/Serial/YRemoved", "Enum/Serial/Y"}}},
      {"a deep key, the tree's name in another case",
       {{"ENUM/PCI/VEN_1/DEV_2/Inst", "COM2"}}, true, 2,
       {{"ENUM/PCI/VEN_1/DEV_2/InstRemoved", "ENUM/PCI/VEN_1/DEV_2/Inst"}}},
      {"a key of the port below another one goes along with it",
       {{"Enum/A/X", "COM3"}, {"Enum/A/X/Child", "COM3"}}, true, 3,
       {{"Enum/A/XRemoved", "Enum/A/X"}, {"Enum/A/XRemoved/Child", "Enum/A/X/Child"}}},
      {"show leaves keys hidden only by a key above them",
       {{"Enum/USBRemoved/Hub", "COM3"}}, false, 3,
       {{"Enum/USBRemoved/Hub", "Enum/USBRemoved/Hub"}}},
      {"hide of a port without keys",
       {{"Enum/Serial/X", "COM3"}}, true, 1,
       {{"Enum/Serial/X", "Enum/Serial/X"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceTree tree;
    for (const auto& [path, port_name] : c.keys) tree.Add(path, port_name);
    const RegUtils tool = tree.Tool();
    if (c.hide) tool.HideComPort(c.port);
    else tool.ShowComPort(c.port);
    EXPECT_EQ(tree.Snapshot(), c.after);
  }
}

TEST(RegUtils, WithoutADeviceTreeNothingIsFoundAndNothingChanges) {
  DeviceTree tree;
  tree.Add("Software/Serial/X", "COM3");
  const RegUtils tool = tree.Tool();
  EXPECT_TRUE(tool.PortKeyList(3).empty());
  tool.HideComPort(3);
  tool.ShowComPort(3);
  EXPECT_EQ(tree.Snapshot(), (std::map<std::string, std::string>{{"Software/Serial/X", "Software/Serial/X"}}));
  // The tool never creates the tree itself.
  EXPECT_FALSE(fs::exists(tree.Folder().Machine() / "Enum"));

  RegistryTestFolder empty;
  RegUtils(empty.MakeRegistry()).HideComPort(3);
  EXPECT_FALSE(fs::exists(empty.RegistryRoot()));
}

}  // namespace
}  // namespace ecr
