#include "platform/registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/platform/registry_test_folder.h"

namespace ecr {
namespace {

namespace fs = std::filesystem;
using test::RegistryTestFolder;
using test::SavedEnvironment;

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTestFolder folder_;
  Registry registry_ = folder_.MakeRegistry();
};

TEST(RegistryRoot, ComesFromTheEnvironmentInItsOrder) {
  const SavedEnvironment registry("ECR_REGISTRY"), config("XDG_CONFIG_HOME"), home("HOME");
  struct Case {
    const char* ecr_registry;
    const char* xdg_config_home;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/r/reg", "/cfg", "/home/u", "/r/reg"},
      {"", "/cfg", "/home/u", "/cfg/ecr-registry"},
      {nullptr, "/cfg", "/home/u", "/cfg/ecr-registry"},
      {nullptr, nullptr, "/home/u", "/home/u/.config/ecr-registry"},
      {nullptr, "relative", "/home/u", "/home/u/.config/ecr-registry"},
  };
  for (const Case& c : cases) {
    registry.Set(c.ecr_registry);
    config.Set(c.xdg_config_home);
    home.Set(c.home);
    EXPECT_EQ(DefaultRegistryRoot(), fs::path(c.expected)) << c.expected;
  }
  registry.Set("/r/reg");
  EXPECT_EQ(Registry().Root(), fs::path("/r/reg"));
}

TEST_F(RegistryTest, OpenNeverCreatesAndCreateKeepsTheCaseGiven) {
  EXPECT_FALSE(registry_.OpenKey(kMachine, ""));
  EXPECT_FALSE(registry_.OpenKey(kMachine, "Enum\\Serial"));
  EXPECT_FALSE(fs::exists(folder_.RegistryRoot()));

  ASSERT_TRUE(registry_.CreateKey(kMachine, "Enum\\Serial\\ttyUSB0"));
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum" / "Serial" / "ttyUSB0"));
  EXPECT_TRUE(fs::is_directory(folder_.RegistryRoot() / "HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(fs::exists(folder_.RegistryRoot() / "HKEY_CURRENT_USER"));

  // Any spelling opens it; creating another spelling adds nothing.
  std::optional<RegistryKey> key = registry_.OpenKey(kMachine, "ENUM\\serial\\TTYusb0");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Folder(), folder_.Machine() / "Enum" / "Serial" / "ttyUSB0");
  ASSERT_TRUE(registry_.CreateKey(kMachine, "ENUM\\SERIAL\\ttyS0"));
  EXPECT_EQ(registry_.OpenKey(kMachine, "Enum")->SubkeyNames(), std::vector<std::string>{"Serial"});
  EXPECT_EQ(registry_.OpenKey(kMachine, "enum\\serial")->SubkeyNames(),
            (std::vector<std::string>{"ttyS0", "ttyUSB0"}));

  // Surplus separators are ignored; the hives are apart.
  EXPECT_TRUE(registry_.OpenKey(kMachine, "\\Enum\\\\Serial\\"));
  EXPECT_FALSE(registry_.OpenKey(RegistryHive::CurrentUser, "Enum"));
}

TEST_F(RegistryTest, ValuesAreFilesOfTheirBytesAndTheDefaultIsAt) {
  std::optional<RegistryKey> key = registry_.CreateKey(RegistryHive::CurrentUser, "Software\\Locales");
  ASSERT_TRUE(key);
  const std::string bytes("COM3\r\n\0\xff", 8);
  ASSERT_TRUE(key->WriteString("PortName", bytes));
  ASSERT_TRUE(key->WriteString("", "default data"));
  ASSERT_TRUE(key->WriteString("/usr/lib/x", "refused") == false);

  const fs::path folder = folder_.RegistryRoot() / "HKEY_CURRENT_USER" / "Software" / "Locales";
  EXPECT_EQ(RegistryTestFolder::ReadFile(folder / "PortName"), bytes);
  EXPECT_EQ(RegistryTestFolder::ReadFile(folder / "@"), "default data");
  EXPECT_EQ(key->ReadString("PORTNAME"), bytes);
  EXPECT_EQ(key->ReadString("@"), "default data");
  EXPECT_EQ(key->ReadString(""), "default data");
  EXPECT_FALSE(key->ReadString("Missing"));

  // Rewriting under another spelling replaces the stored value and keeps its name.
  ASSERT_TRUE(key->WriteString("PORTNAME", "COM4"));
  EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"", "PortName"}));
  EXPECT_EQ(key->ReadString("portname"), "COM4");

  ASSERT_TRUE(key->WriteString("Empty", ""));
  EXPECT_EQ(key->ReadString("Empty"), "");
}

TEST_F(RegistryTest, KeysAndValuesAreListedApartInRegistryOrder) {
  std::optional<RegistryKey> key = registry_.CreateKey(kMachine, "K");
  ASSERT_TRUE(key);
  for (const char* name : {"b", "A_B", "AB", "c"}) ASSERT_TRUE(key->CreateSubkey(name));
  for (const char* name : {"Zeta", "alpha", "Beta"}) ASSERT_TRUE(key->WriteString(name, "x"));
  // A file or folder that a writer is still building is neither a key nor a value.
  fs::create_directory(key->Folder() / ".~ecr-work-1-0");
  RegistryTestFolder::WriteFile(key->Folder() / ".~ecr-work-1-1", "x");
  // A symbolic link is neither, so that no walk can loop or leave the tree.
  fs::create_directory_symlink(key->Folder(), key->Folder() / "loop");

  EXPECT_EQ(key->SubkeyNames(), (std::vector<std::string>{"AB", "A_B", "b", "c"}));
  EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"alpha", "Beta", "Zeta"}));
  EXPECT_FALSE(key->OpenSubkey("loop"));
}

TEST_F(RegistryTest, NamesThatWouldLeaveTheTreeAreRefused) {
  std::optional<RegistryKey> key = registry_.CreateKey(kMachine, "Inside");
  ASSERT_TRUE(key);
  const char* bad_names[] = {"..", ".", "a/b", "../../outside"};
  for (const char* name : bad_names) {
    EXPECT_FALSE(key->WriteString(name, "x")) << name;
    EXPECT_FALSE(key->ReadString(name)) << name;
    EXPECT_FALSE(key->CreateSubkey(name)) << name;
    EXPECT_FALSE(key->OpenSubkey(std::string("x\\") + name)) << name;
    EXPECT_FALSE(registry_.CreateKey(kMachine, std::string("Inside\\") + name)) << name;
    EXPECT_FALSE(registry_.DeleteKey(kMachine, name)) << name;
  }
  EXPECT_FALSE(key->WriteString(std::string("nul\0", 4), "x"));
  EXPECT_FALSE(key->WriteString(".~ecr-work-x", "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Folder()), fs::directory_iterator()), 1);
  EXPECT_TRUE(key->ValueNames().empty());
  EXPECT_TRUE(key->SubkeyNames().empty());
}

TEST_F(RegistryTest, AValueAndASubkeyOfOneExactNameCannotBothExist) {
  std::optional<RegistryKey> key = registry_.CreateKey(kMachine, "K");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->CreateSubkey("Same"));
  EXPECT_FALSE(key->WriteString("Same", "x"));
  ASSERT_TRUE(key->WriteString("Other", "x"));
  EXPECT_FALSE(key->CreateSubkey("Other"));
  EXPECT_EQ(key->ReadString("Other"), "x");
}

TEST_F(RegistryTest, DeleteRemovesTheKeyWithEverythingBelowIt) {
  std::optional<RegistryKey> key = registry_.CreateKey(kMachine, "Enum\\A\\B\\C");
  ASSERT_TRUE(key && key->WriteString("V", "1"));
  ASSERT_TRUE(registry_.CreateKey(kMachine, "Enum\\Keep"));

  EXPECT_TRUE(registry_.DeleteKey(kMachine, "ENUM\\a"));
  EXPECT_FALSE(registry_.OpenKey(kMachine, "Enum\\A"));
  EXPECT_TRUE(registry_.OpenKey(kMachine, "Enum\\Keep"));
  EXPECT_FALSE(registry_.DeleteKey(kMachine, "Enum\\A"));
  EXPECT_FALSE(key->ReadString("V"));
  // The hive itself is not a key that can be deleted.
  EXPECT_FALSE(registry_.DeleteKey(kMachine, ""));
  EXPECT_FALSE(registry_.DeleteKey(kMachine, "\\"));
  EXPECT_TRUE(registry_.OpenKey(kMachine, "Enum\\Keep"));
}

// A key with values at two depths, to see that a move carries all of it.
void BuildDeviceKey(const Registry& registry, std::string_view path) {
  std::optional<RegistryKey> key = registry.CreateKey(kMachine, path);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("PORTNAME", "COM3"));
  ASSERT_TRUE(key->WriteString("", "default"));
  std::optional<RegistryKey> sub = key->CreateSubkey("Device Parameters\\Deeper");
  ASSERT_TRUE(sub && sub->WriteString("PortName", "COM3"));
}

void ExpectDeviceKey(const Registry& registry, std::string_view path) {
  std::optional<RegistryKey> key = registry.OpenKey(kMachine, path);
  ASSERT_TRUE(key) << path;
  EXPECT_EQ(key->ReadString("PORTNAME"), "COM3");
  EXPECT_EQ(key->ReadString(""), "default");
  std::optional<RegistryKey> sub = key->OpenSubkey("Device Parameters\\Deeper");
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->ReadString("PortName"), "COM3");
}

TEST_F(RegistryTest, MoveCarriesEveryValueAndSubkeyToTheNewName) {
  BuildDeviceKey(registry_, "Enum\\Serial\\X");
  EXPECT_TRUE(registry_.MoveKey(kMachine, "ENUM\\SERIAL\\x", "ENUM\\Serial\\XRemoved"));
  EXPECT_FALSE(registry_.OpenKey(kMachine, "Enum\\Serial\\X"));
  ExpectDeviceKey(registry_, "Enum\\Serial\\XRemoved");
  // The new name is spelled as given, in the stored parent.
  EXPECT_TRUE(fs::is_directory(folder_.Machine() / "Enum" / "Serial" / "XRemoved"));
  // Parents of the new name are created.
  EXPECT_TRUE(registry_.MoveKey(kMachine, "Enum\\Serial\\XRemoved", "Other\\Tree\\X"));
  ExpectDeviceKey(registry_, "Other\\Tree\\X");
}

TEST_F(RegistryTest, MoveDoesNothingUnlessOnlyTheOldKeyExists) {
  BuildDeviceKey(registry_, "Enum\\X");
  ASSERT_TRUE(registry_.CreateKey(kMachine, "Enum\\Taken\\Child"));
  ASSERT_TRUE(registry_.CreateKey(kMachine, "Enum\\empty"));
  struct Case {
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"Enum\\X", "Enum\\Taken"},       // the new key exists
      {"Enum\\X", "ENUM\\EMPTY"},       // exists in another spelling, even when empty
      {"Enum\\Missing", "Enum\\New"},   // the old key does not exist
      {"Enum\\X", "Enum\\X\\Inside"},   // into itself
      {"Enum\\X\\Device Parameters", "Enum\\X"},  // onto its own parent
      {"Enum\\X\\Device Parameters", "Enum\\X\\"},
      {"Enum\\X", ""},
      {"", "Enum\\Y"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(registry_.MoveKey(kMachine, c.from, c.to)) << c.from << " -> " << c.to;
    ExpectDeviceKey(registry_, "Enum\\X");
    EXPECT_TRUE(registry_.OpenKey(kMachine, "Enum\\Taken\\Child"));
  }
  EXPECT_FALSE(registry_.OpenKey(kMachine, "Enum\\New"));
}

TEST_F(RegistryTest, AMovedOrDeletedKeyObjectFailsQuietly) {
  std::optional<RegistryKey> key = registry_.CreateKey(kMachine, "A");
  ASSERT_TRUE(key && key->WriteString("V", "1"));
  ASSERT_TRUE(registry_.MoveKey(kMachine, "A", "B"));
  EXPECT_FALSE(key->ReadString("V"));
  EXPECT_FALSE(key->WriteString("V", "2"));
  EXPECT_FALSE(key->CreateSubkey("C"));
  EXPECT_TRUE(key->ValueNames().empty());
  EXPECT_FALSE(registry_.OpenKey(kMachine, "A"));
  EXPECT_EQ(registry_.OpenKey(kMachine, "B")->ReadString("V"), "1");
}

}  // namespace
}  // namespace ecr
