#include "server/server_settings.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "server/store_settings_saver.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

std::vector<std::uint8_t> BytesOf(const ServerSettings& settings) {
  std::vector<std::uint8_t> bytes(ServerSettings::size());
  std::memcpy(bytes.data(), settings.data(), bytes.size());
  return bytes;
}

TEST(ServerSettings, BuiltInValuesOfANewInstallation) {
  const ServerSettings settings;
  EXPECT_EQ(settings.ComPort.Get(), "COM1");
  EXPECT_EQ(settings.ComSpeed, 4800);
  EXPECT_EQ(settings.IPPort, 4999);
  EXPECT_EQ(settings.AdminPassword.Get(), "");
  EXPECT_EQ(settings.NextNotifyId, 1);
  for (int s = 1; s <= 14; ++s) EXPECT_EQ(settings.SetPassword(s).Get(), "");
  EXPECT_EQ(settings.SubscriberPassword.Get(), "");
  for (int e = 1; e <= 99; ++e) {
    EXPECT_EQ(settings.Ecr(e).NotifyId, 0);
    EXPECT_EQ(settings.Ecr(e).Sequence, 1);
    EXPECT_EQ(settings.Ecr(e).SerialNumber, 0);
    EXPECT_EQ(settings.Ecr(e).Mode, 0);
    EXPECT_EQ(settings.Ecr(e).KeepAlive, 0);
  }
}

TEST(ServerSettings, FileLayoutIsPackedLittleEndian) {
  ServerSettings settings;
  settings.ComPort = "COM12";
  settings.ComSpeed = 0x1234;
  settings.IPPort = 0xABCD;
  settings.AdminPassword = "adm";
  settings.NextNotifyId = 0x01020304;
  settings.SetPassword(1) = "one";
  settings.SetPassword(14) = "fourteen";
  settings.SubscriberPassword = "sub";
  settings.Ecr(1).NotifyId = -2;
  settings.Ecr(1).Sequence = 0x0506;
  settings.Ecr(1).SerialNumber = 0x0A0B0C0D;
  settings.Ecr(1).Mode = 2;
  settings.Ecr(1).KeepAlive = 15;
  settings.Ecr(99).KeepAlive = 0x77;

  const std::vector<std::uint8_t> bytes = BytesOf(settings);
  ASSERT_EQ(bytes.size(), 1363u);
  struct Field {
    std::size_t offset;
    std::vector<std::uint8_t> expected;
  };
  const Field fields[] = {
      {0, {5, 'C', 'O', 'M', '1', '2'}},
      {7, {0x34, 0x12}},
      {9, {0xCD, 0xAB}},
      {11, {3, 'a', 'd', 'm'}},
      {21, {0x04, 0x03, 0x02, 0x01}},
      {25, {3, 'o', 'n', 'e'}},
      {25 + 10 * 13, {8, 'f', 'o', 'u', 'r', 't', 'e', 'e', 'n'}},
      {165, {3, 's', 'u', 'b'}},
      {175, {0xFE, 0xFF, 0xFF, 0xFF, 0x06, 0x05, 0x0D, 0x0C, 0x0B, 0x0A, 2, 15}},
      {175 + 12 * 98 + 4, {1, 0}},  // ECR 99's sequence keeps its built-in 1
      {1362, {0x77}},               // ECR 99's KeepAlive is the last byte
  };
  for (const Field& field : fields) {
    SCOPED_TRACE(testing::Message() << "offset " << field.offset);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(field.offset),
                                        bytes.begin() + static_cast<long>(field.offset + field.expected.size())),
              field.expected);
  }

  // A record loaded from the file reads back the same values.
  ServerSettings loaded;
  std::memcpy(loaded.data(), bytes.data(), bytes.size());
  EXPECT_EQ(loaded.Ecr(1).NotifyId, -2);
  EXPECT_EQ(loaded.NextNotifyId, 0x01020304);
  EXPECT_EQ(loaded.SetPassword(14).Get(), "fourteen");
}

TEST(ServerSettings, PasswordsAndPortNameAreCut) {
  ServerSettings settings;
  settings.AdminPassword = "123456789012";
  settings.SetPassword(3) = "abcdefghijk";
  settings.SubscriberPassword = "0123456789";
  settings.ComPort = "/dev/ttyUSB0";
  EXPECT_EQ(settings.AdminPassword.Get(), "123456789");
  EXPECT_EQ(settings.SetPassword(3).Get(), "abcdefghi");
  EXPECT_EQ(settings.SubscriberPassword.Get(), "012345678");
  EXPECT_EQ(settings.ComPort.Get(), "/dev/t");
  // The neighbour of a cut field is untouched.
  EXPECT_EQ(settings.SetPassword(4).Get(), "");
}

TEST(ServerSettings, DamagedLengthByteReadsAsCapacity) {
  ServerSettings settings;
  auto* bytes = static_cast<std::uint8_t*>(settings.data());
  bytes[11] = 200;  // AdminPassword's length byte
  EXPECT_EQ(settings.AdminPassword.Get().size(), 9u);
}

TEST(ServerSettings, GoesThroughTheSettingsStoreWhole) {
  const TempDir temp;
  const std::filesystem::path& folder = temp.Path();
  const std::string fileName = (folder / "harbendix.STG").string();
  {
    ServerSettings settings;
    settings.AdminPassword = "admin";
    settings.Ecr(99).KeepAlive = 15;
    TCodeStru store(fileName, settings);
    ASSERT_TRUE(store.Opened());
    EXPECT_EQ(store.Size(), 1363u);
    StoreSettingsSaver saver(store);
    saver.Save();
  }
  // Key and check byte, the record, the checksum.
  EXPECT_EQ(std::filesystem::file_size(fileName), 13u + 1363u + 4u);
  {
    ServerSettings loaded;
    TCodeStru store(fileName, loaded);
    store.Load();
    EXPECT_EQ(loaded.AdminPassword.Get(), "admin");
    EXPECT_EQ(loaded.Ecr(99).KeepAlive, 15);
    EXPECT_EQ(loaded.ComPort.Get(), "COM1");
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace ecr
