#include "netcontroller/server/nc_server_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/settings_store.h"
#include "tests/support/temp_dir.h"

namespace ecr::nc {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(const NcServerSettings& settings) {
  Bytes bytes(NcServerSettings::size());
  std::memcpy(bytes.data(), settings.data(), bytes.size());
  return bytes;
}

// The record as the file holds it, unscrambled with the file's own key and check byte.
Bytes RecordInFile(const std::string& fileName) {
  const std::string file = ReadWholeFile(fileName);
  if (file.size() < TCodeStru::kHeaderSize + NcServerSettings::size()) return {};
  TCodeStru::KeyBytes key{};
  std::memcpy(key.data(), file.data(), key.size());
  const auto checkByte = static_cast<std::uint8_t>(file[12]);
  Bytes record(NcServerSettings::size());
  std::memcpy(record.data(), file.data() + TCodeStru::kHeaderSize, record.size());
  TCodeStru::Scramble(record.data(), record.size(), key, checkByte);
  return record;
}

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + length));
}

TEST(NcServerSettings, BuiltInValuesOfANewInstallation) {
  const NcServerSettings settings;
  EXPECT_EQ(settings.Reserved, 1);
  EXPECT_EQ(settings.ComSpeed, 4800);
  EXPECT_EQ(settings.IPPort, 4999);
  EXPECT_EQ(settings.ServerPassword.Get(), "");
  EXPECT_EQ(settings.NextNotifyId, 1);
  EXPECT_EQ(settings.CodeTableIndex, 1);
  for (int s = 1; s <= kNcSetCount; ++s) EXPECT_EQ(settings.SetPassword(s).Get(), "");
  for (int e = 1; e <= kNcEcrCount; ++e) {
    const NcEcrSettings& ecr = settings.Ecr(e);
    EXPECT_EQ(ecr.NotifyId, 0);
    EXPECT_EQ(ecr.Sequence, 1);
    EXPECT_EQ(ecr.Filler, (std::array<std::uint8_t, 2>{0, 0}));
    EXPECT_EQ(ecr.SerialNumber, 0);
    EXPECT_EQ(ecr.Reserved, 18);
    EXPECT_EQ(ecr.Mode, 0);
    EXPECT_EQ(ecr.KeepAlive, 0);
  }
}

TEST(NcServerSettings, FileLayoutIsPackedLittleEndian) {
  NcServerSettings settings;
  settings.ComSpeed = 9600;
  settings.IPPort = 0xABCD;
  settings.ServerPassword = "adm";
  settings.NextNotifyId = 0x01020304;
  settings.CodeTableIndex = 6;
  settings.SetPassword(1) = "one";
  settings.SetPassword(14) = "fourteen";
  settings.Ecr(1).NotifyId = -2;
  settings.Ecr(1).Sequence = 0x0506;
  settings.Ecr(1).SerialNumber = 0x0A0B0C0D;
  settings.Ecr(1).Mode = 2;
  settings.Ecr(1).KeepAlive = 15;
  settings.Ecr(16).KeepAlive = 0x77;

  const Bytes bytes = BytesOf(settings);
  ASSERT_EQ(bytes.size(), 420u);
  struct Field {
    std::size_t offset;
    Bytes expected;
  };
  const Field fields[] = {
      {0, {1, 0}},                       // Reserved
      {2, {0x80, 0x25}},                 // 9600
      {4, {0xCD, 0xAB}},
      {6, {3, 'a', 'd', 'm', 0, 0, 0, 0, 0, 0}},
      {16, {0x04, 0x03, 0x02, 0x01}},
      {20, {6, 0, 0, 0}},
      {24, {3, 'o', 'n', 'e'}},
      {24 + 10 * 13, {8, 'f', 'o', 'u', 'r', 't', 'e', 'e', 'n'}},
      {164, {0xFE, 0xFF, 0xFF, 0xFF, 0x06, 0x05, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 18, 0, 2, 15}},
      {164 + 16, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 18, 0, 0, 0}},  // ECR 2 as built
      {419, {0x77}},  // ECR 16's KeepAlive is the last byte
  };
  for (const Field& field : fields) {
    SCOPED_TRACE(testing::Message() << "offset " << field.offset);
    EXPECT_EQ(Slice(bytes, field.offset, field.expected.size()), field.expected);
  }
}

TEST(NcServerSettings, PasswordsAreCutToNineBytes) {
  NcServerSettings settings;
  settings.ServerPassword = "123456789012";
  settings.SetPassword(3) = "abcdefghijk";
  EXPECT_EQ(settings.ServerPassword.Get(), "123456789");
  EXPECT_EQ(settings.SetPassword(3).Get(), "abcdefghi");
  // The neighbours of a cut field are untouched.
  EXPECT_EQ(settings.SetPassword(4).Get(), "");
  EXPECT_EQ(settings.NextNotifyId, 1);
  // A damaged length byte reads as the capacity.
  static_cast<std::uint8_t*>(settings.data())[6] = 200;
  EXPECT_EQ(settings.ServerPassword.Get().size(), 9u);
}

TEST(NcServerSettings, ANewInstallationRunsOnBuiltInValuesAndWritesThemAtItsFirstSave) {
  const TempDir folder;
  const std::string fileName = folder.File("lontaros.STG");
  NcServerSettings settings;
  TCodeStru store(fileName, settings);
  ASSERT_TRUE(store.Opened());
  EXPECT_EQ(store.Size(), 420u);
  store.Load();
  EXPECT_EQ(BytesOf(settings), BytesOf(NcServerSettings{}));

  store.Save();
  // Key and check byte, the record, the checksum.
  EXPECT_EQ(ReadWholeFile(fileName).size(), 13u + 420u + 4u);
  const Bytes record = RecordInFile(fileName);
  EXPECT_EQ(record, BytesOf(NcServerSettings{}));
  EXPECT_EQ(Slice(record, 0, 2), (Bytes{1, 0}));
  EXPECT_EQ(Slice(record, 164 + 12, 2), (Bytes{18, 0}));
}

TEST(NcServerSettings, GoesThroughTheStoreBitExactReservedBytesIncluded) {
  const TempDir folder;
  const std::string fileName = folder.File("lontaros.STG");
  Bytes written;
  {
    NcServerSettings settings;
    settings.ServerPassword = "admin";
    settings.ComSpeed = 9600;
    settings.NextNotifyId = 77;
    settings.SetPassword(9) = "nine";
    settings.Ecr(16).NotifyId = 76;
    settings.Ecr(16).Sequence = 65535;
    settings.Ecr(16).SerialNumber = 123456;
    settings.Ecr(16).Mode = 3;
    settings.Ecr(16).KeepAlive = 15;
    // Values a file may hold in the fields nobody reads.
    settings.Reserved = 0x7A5B;
    settings.Ecr(5).Reserved = 0x4242;
    settings.Ecr(5).Filler = {0x11, 0x22};
    written = BytesOf(settings);
    TCodeStru store(fileName, settings);
    ASSERT_TRUE(store.Opened());
    store.Save();
  }
  EXPECT_EQ(RecordInFile(fileName), written);

  NcServerSettings loaded;
  TCodeStru store(fileName, loaded);
  ASSERT_TRUE(store.Opened());
  store.Load();
  EXPECT_EQ(BytesOf(loaded), written);
  EXPECT_EQ(loaded.ServerPassword.Get(), "admin");
  EXPECT_EQ(loaded.Ecr(16).Sequence, 65535);
  EXPECT_EQ(loaded.Reserved, 0x7A5B);
  EXPECT_EQ(loaded.Ecr(5).Reserved, 0x4242);

  // A save after a change elsewhere gives the loaded bytes back unchanged.
  loaded.Ecr(1).Sequence = 2;
  store.Save();
  Bytes expected = written;
  expected[164 + 4] = 2;
  EXPECT_EQ(RecordInFile(fileName), expected);
}

}  // namespace
}  // namespace ecr::nc
