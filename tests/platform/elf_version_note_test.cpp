#include "platform/elf_version_note.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

// Builds a small ELF file: header, one note section, and a section header table of a
// null entry and the note's entry. Offsets are kept so that cases can damage them.
class ElfImage {
 public:
  ElfImage(bool is64, bool bigEndian, const char* owner, std::uint32_t type, std::vector<std::uint16_t> numbers)
      : is64_(is64), big_(bigEndian) {
    const std::size_t headerSize = is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    bytes_.assign(headerSize, 0);
    std::memcpy(bytes_.data(), ELFMAG, SELFMAG);
    bytes_[EI_CLASS] = is64 ? ELFCLASS64 : ELFCLASS32;
    bytes_[EI_DATA] = bigEndian ? ELFDATA2MSB : ELFDATA2LSB;
    bytes_[EI_VERSION] = EV_CURRENT;

    noteOffset = bytes_.size();
    const std::size_t nameSize = std::strlen(owner) + 1;
    Append(nameSize, 4);
    Append(numbers.size() * 2, 4);
    Append(type, 4);
    bytes_.insert(bytes_.end(), owner, owner + nameSize);
    Pad();
    for (const std::uint16_t n : numbers) Append(n, 2);
    Pad();
    noteSize = bytes_.size() - noteOffset;

    sectionTableOffset = bytes_.size();
    const std::size_t entrySize = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    bytes_.resize(bytes_.size() + 2 * entrySize, 0);
    noteEntry = sectionTableOffset + entrySize;
    Put(noteEntry + (is64 ? offsetof(Elf64_Shdr, sh_type) : offsetof(Elf32_Shdr, sh_type)), SHT_NOTE, 4);
    Put(noteEntry + (is64 ? offsetof(Elf64_Shdr, sh_offset) : offsetof(Elf32_Shdr, sh_offset)), noteOffset, is64 ? 8 : 4);
    Put(noteEntry + (is64 ? offsetof(Elf64_Shdr, sh_size) : offsetof(Elf32_Shdr, sh_size)), noteSize, is64 ? 8 : 4);
    Put(is64 ? offsetof(Elf64_Ehdr, e_shoff) : offsetof(Elf32_Ehdr, e_shoff), sectionTableOffset, is64 ? 8 : 4);
    Put(is64 ? offsetof(Elf64_Ehdr, e_shentsize) : offsetof(Elf32_Ehdr, e_shentsize), entrySize, 2);
    Put(is64 ? offsetof(Elf64_Ehdr, e_shnum) : offsetof(Elf32_Ehdr, e_shnum), 2, 2);
  }

  void Put(std::size_t at, std::uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) {
      bytes_[at + (big_ ? width - 1 - i : i)] = static_cast<unsigned char>(value >> (8 * i));
    }
  }
  std::size_t ShOff() const { return is64_ ? offsetof(Elf64_Ehdr, e_shoff) : offsetof(Elf32_Ehdr, e_shoff); }
  std::size_t ShNum() const { return is64_ ? offsetof(Elf64_Ehdr, e_shnum) : offsetof(Elf32_Ehdr, e_shnum); }
  std::size_t NoteSizeField() const {
    return noteEntry + (is64_ ? offsetof(Elf64_Shdr, sh_size) : offsetof(Elf32_Shdr, sh_size));
  }
  unsigned AddressWidth() const { return is64_ ? 8 : 4; }
  std::vector<unsigned char>& Bytes() { return bytes_; }

  std::size_t noteOffset = 0, noteSize = 0, sectionTableOffset = 0, noteEntry = 0;

 private:
  void Append(std::uint64_t value, unsigned width) {
    bytes_.resize(bytes_.size() + width);
    Put(bytes_.size() - width, value, width);
  }
  void Pad() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }

  bool is64_;
  bool big_;
  std::vector<unsigned char> bytes_;
};

class ElfVersionNoteTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<unsigned char>& bytes) {
    const auto path = (folder_ / ("image" + std::to_string(count_++))).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  const TempDir dir_;
  const std::filesystem::path folder_ = dir_.Path();
  int count_ = 0;
};

TEST_F(ElfVersionNoteTest, ReadsTheNoteOfBothClassesAndByteOrders) {
  struct Case {
    bool is64, big;
    VersionNumbers expected;
  };
  const Case cases[] = {
      {true, false, {1, 0, 21, 1}},
      {true, true, {2, 70, 1, 1}},
      {false, false, {65535, 65535, 65535, 65535}},
      {false, true, {0, 0, 0, 7}},
  };
  for (const auto& c : cases) {
    ElfImage image(c.is64, c.big, kVersionNoteOwner, kVersionNoteType,
                   {c.expected.Major, c.expected.Minor, c.expected.Release, c.expected.Build});
    const auto found = ReadElfVersionNote(Write(image.Bytes()));
    ASSERT_TRUE(found.has_value()) << c.is64 << c.big;
    EXPECT_EQ(*found, c.expected);
  }
}

TEST_F(ElfVersionNoteTest, DamagedOrForeignFilesGiveNothing) {
  using Damage = std::function<void(ElfImage&)>;
  const std::pair<const char*, Damage> cases[] = {
      {"cut inside the header", [](ElfImage& e) { e.Bytes().erase(e.Bytes().begin() + 20, e.Bytes().end()); }},
      {"cut inside the section table", [](ElfImage& e) { e.Bytes().erase(e.Bytes().end() - 10, e.Bytes().end()); }},
      {"section table behind the end", [](ElfImage& e) { e.Put(e.ShOff(), 1u << 30, e.AddressWidth()); }},
      {"too many sections", [](ElfImage& e) { e.Put(e.ShNum(), 0xFF00, 2); }},
      {"note section longer than the file", [](ElfImage& e) { e.Put(e.NoteSizeField(), 1u << 30, e.AddressWidth()); }},
      {"note name size past the section", [](ElfImage& e) { e.Put(e.noteOffset, 0x7FFFFFF0u, 4); }},
      {"note descriptor size past the section", [](ElfImage& e) { e.Put(e.noteOffset + 4, 0xFFFFFFFFu, 4); }},
      {"another owner", [](ElfImage& e) { e.Bytes()[e.noteOffset + 12] = 'X'; }},
      {"another type", [](ElfImage& e) { e.Put(e.noteOffset + 8, 2, 4); }},
      {"bad magic", [](ElfImage& e) { e.Bytes()[1] = 'X'; }},
      {"unknown class", [](ElfImage& e) { e.Bytes()[EI_CLASS] = 7; }},
  };
  for (const auto& [what, damage] : cases) {
    for (const bool is64 : {true, false}) {
      ElfImage image(is64, false, kVersionNoteOwner, kVersionNoteType, {1, 0, 21, 1});
      damage(image);
      EXPECT_FALSE(ReadElfVersionNote(Write(image.Bytes())).has_value()) << what << (is64 ? " (64)" : " (32)");
    }
  }
}

TEST_F(ElfVersionNoteTest, FilesWithoutTheNoteGiveNothing) {
  EXPECT_FALSE(ReadElfVersionNote(Write({'h', 'e', 'l', 'l', 'o'})).has_value());
  EXPECT_FALSE(ReadElfVersionNote(Write({})).has_value());
  EXPECT_FALSE(ReadElfVersionNote((folder_ / "missing").string()).has_value());
  EXPECT_FALSE(ReadElfVersionNote(folder_.string()).has_value());
  // A real executable that the build did not stamp: this test itself.
  EXPECT_FALSE(ReadElfVersionNote("/proc/self/exe").has_value());
}

}  // namespace
}  // namespace ecr
