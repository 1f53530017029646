#include "foundation/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SettingsStoreTest : public ::testing::Test {
 protected:
  Bytes ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void WriteFile(const Bytes& bytes) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  static Bytes Pattern(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes record(size);
    for (auto& b : record) b = static_cast<std::uint8_t>(random());
    return record;
  }
  // Saves `record` in a fresh store and returns the file's bytes.
  Bytes SaveOnce(Bytes record) const {
    TCodeStru store(path_, record.data(), record.size());
    store.Save();
    return ReadFile();
  }
  // Loads the file over `record` in a fresh store.
  Bytes LoadInto(Bytes record) const {
    TCodeStru store(path_, record.data(), record.size());
    store.Load();
    return record;
  }

  const TempDir dir_;
  const std::string path_ = dir_.File("harbendix.STG");
};

TEST(SettingsStoreKey, ValidKeyBytesHaveOneToThreeBitsInEachNibble) {
  const std::pair<std::uint8_t, bool> cases[] = {
      {0x00, false}, {0xFF, false}, {0x0F, false}, {0xF0, false}, {0x1F, false}, {0xF1, false}, {0x10, false},
      {0x11, true},  {0x7E, true},  {0xE7, true},  {0x77, true},  {0x88, true},  {0x3C, true},  {0x99, true},
  };
  for (const auto& [b, valid] : cases) EXPECT_EQ(TCodeStru::KeyByteOk(b), valid ? b : 0) << int(b);
}

TEST_F(SettingsStoreTest, TheFileLayoutIsExact) {
  const Bytes record = Pattern(1363, 7);
  const Bytes file = SaveOnce(record);
  ASSERT_EQ(file.size(), 17u + record.size());
  std::uint8_t check = 0;
  for (int i = 0; i < 12; ++i) {
    EXPECT_NE(TCodeStru::KeyByteOk(file[i]), 0) << "key byte " << i;
    check ^= file[i];
  }
  EXPECT_EQ(file[12], check);
  EXPECT_NE(TCodeStru::KeyByteOk(check), 0);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < record.size(); ++i) {
    const std::uint8_t stored = file[13 + i];
    ASSERT_EQ(stored, record[i] ^ file[i % 12] ^ check) << "record byte " << i;
    sum += static_cast<std::uint32_t>(i * i) * stored;
  }
  const std::size_t at = 13 + record.size();
  const std::uint32_t written = file[at] | file[at + 1] << 8 | file[at + 2] << 16 | std::uint32_t{file[at + 3]} << 24;
  EXPECT_EQ(written, sum);
}

TEST_F(SettingsStoreTest, LoadsAFileBuiltByHand) {
  // Key 11 22 33 44 55 66 77 99 AA BB CC DD, check byte 99, record "ABC".
  WriteFile({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0x99, 0xC9, 0xF9, 0xE9, 0x9D,
             0x04, 0x00, 0x00});
  EXPECT_EQ(LoadInto(Bytes(3, 0)), (Bytes{'A', 'B', 'C'}));
}

TEST_F(SettingsStoreTest, ARoundTripGivesTheRecordBackWhateverKeyWasDrawn) {
  for (const std::size_t size : {std::size_t{1}, std::size_t{420}, std::size_t{512}, std::size_t{1363},
                                 TCodeStru::kMaxSize}) {
    for (std::uint32_t seed = 0; seed < 5; ++seed) {
      const Bytes record = Pattern(size, seed);
      SaveOnce(record);
      EXPECT_EQ(LoadInto(Bytes(size, 0)), record) << size << "/" << seed;
    }
  }
}

TEST_F(SettingsStoreTest, TwoSavesOfOneRecordDifferButHaveOneLength) {
  Bytes record = Pattern(512, 1);
  TCodeStru store(path_, record.data(), record.size());
  store.Save();
  const Bytes first = ReadFile();
  const auto firstKey = store.Key();
  store.Save();
  const Bytes second = ReadFile();
  EXPECT_EQ(first.size(), second.size());
  if (store.Key() != firstKey) {
    EXPECT_NE(first, second);
  }
}

TEST_F(SettingsStoreTest, EveryDetectedDamageLeavesTheRecordUntouched) {
  constexpr std::size_t kSize = 40;
  const Bytes saved = Pattern(kSize, 3);
  const Bytes good = SaveOnce(saved);
  const Bytes builtIn(kSize, 0x5A);
  // Every stored record byte but byte 0, and every checksum byte.
  for (std::size_t offset = 14; offset < 17 + kSize; ++offset) {
    Bytes damaged = good;
    damaged[offset] ^= 0x01;
    WriteFile(damaged);
    EXPECT_EQ(LoadInto(builtIn), builtIn) << "offset " << offset;
  }
  // Short files, the last one missing one checksum byte.
  for (const std::size_t length : {std::size_t{0}, std::size_t{12}, std::size_t{13}, 13 + kSize, 13 + kSize + 3}) {
    WriteFile(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
    EXPECT_EQ(LoadInto(builtIn), builtIn) << "length " << length;
  }
  // A file written for a record of another size.
  WriteFile(good);
  EXPECT_EQ(LoadInto(Bytes(kSize + 4, 0x5A)), Bytes(kSize + 4, 0x5A));
  EXPECT_EQ(LoadInto(Bytes(kSize - 4, 0x5A)), Bytes(kSize - 4, 0x5A));
}

TEST_F(SettingsStoreTest, DamageThatTheChecksumCannotSeeIsUnscrambledAsRead) {
  constexpr std::size_t kSize = 24;
  const Bytes saved = Pattern(kSize, 4);
  const Bytes good = SaveOnce(saved);
  // Stored byte 0 has factor 0 in the checksum.
  Bytes damaged = good;
  damaged[13] ^= 0x40;
  WriteFile(damaged);
  Bytes expected = saved;
  expected[0] ^= 0x40;
  EXPECT_EQ(LoadInto(Bytes(kSize, 0)), expected);
  // A header byte: the key read from the file is used as it stands.
  damaged = good;
  damaged[12] ^= 0x01;
  WriteFile(damaged);
  expected = saved;
  for (auto& b : expected) b ^= 0x01;
  EXPECT_EQ(LoadInto(Bytes(kSize, 0)), expected);
}

TEST_F(SettingsStoreTest, ALongerFileIsAcceptedAndItsTailSurvivesSaves) {
  constexpr std::size_t kSize = 30;
  const Bytes saved = Pattern(kSize, 5);
  Bytes file = SaveOnce(saved);
  const Bytes tail{'T', 'A', 'I', 'L'};
  file.insert(file.end(), tail.begin(), tail.end());
  WriteFile(file);
  EXPECT_EQ(LoadInto(Bytes(kSize, 0)), saved);
  const Bytes after = SaveOnce(Pattern(kSize, 6));
  ASSERT_EQ(after.size(), file.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), after.end() - 4));
  EXPECT_EQ(LoadInto(Bytes(kSize, 0)), Pattern(kSize, 6));
}

TEST_F(SettingsStoreTest, AMissingFileIsCreatedEmptyAndKeepsTheBuiltInValues) {
  const Bytes builtIn(16, 0x21);
  EXPECT_EQ(LoadInto(builtIn), builtIn);
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
}

TEST_F(SettingsStoreTest, RecordSizesOutsideTheLimitAreRefused) {
  Bytes record(TCodeStru::kMaxSize + 1);
  EXPECT_THROW(TCodeStru(path_, record.data(), record.size()), std::length_error);
  EXPECT_THROW(TCodeStru(path_, record.data(), 0), std::length_error);
}

TEST_F(SettingsStoreTest, SaveNeverShowsScrambledBytesInTheCallersRecord) {
  const Bytes original = Pattern(1363, 8);
  Bytes record = original;
  TCodeStru store(path_, record.data(), record.size());
  std::atomic<bool> stop{false};
  std::atomic<int> saves{0};
  std::jthread saver([&] {
    while (!stop) {
      store.Save();
      ++saves;
    }
  });
  // The reader only reads, as the status window does while the polling thread saves.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (saves < 50 && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(record, original);
  }
  stop = true;
  saver.join();
  EXPECT_GE(saves.load(), 1);
  EXPECT_EQ(record, original);
}

TEST_F(SettingsStoreTest, ASecondProcessFindsTheStoreNotOpened) {
  const auto openedInChild = [this] {
    const pid_t child = fork();
    if (child == 0) {
      Bytes record(8);
      const TCodeStru store(path_, record.data(), record.size());
      _exit(store.Opened() ? 1 : 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  {
    Bytes record(8, 1);
    TCodeStru first(path_, record.data(), record.size());
    ASSERT_TRUE(first.Opened());
    first.Save();
    EXPECT_EQ(openedInChild(), 0);
  }
  EXPECT_EQ(openedInChild(), 1);
}

TEST_F(SettingsStoreTest, AStoreThatIsNotOpenedNeitherLoadsNorSaves) {
  Bytes record = Pattern(10, 9);
  TCodeStru first(path_, record.data(), record.size());
  first.Save();
  const Bytes file = ReadFile();
  Bytes other(10, 0x33);
  TCodeStru second(path_, other.data(), other.size());
  ASSERT_FALSE(second.Opened());
  second.Load();
  EXPECT_EQ(other, Bytes(10, 0x33));
  second.Save();
  EXPECT_EQ(ReadFile(), file);
}

}  // namespace
}  // namespace ecr
