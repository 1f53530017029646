#include "platform/elf_version_note.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace ecr {

namespace {

// Reads little- or big-endian integers out of a byte buffer, within its bounds.
class ByteReader {
 public:
  ByteReader(const std::vector<unsigned char>& bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  std::uint64_t Read(std::uint64_t offset, unsigned width) const {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
      const unsigned char b = bytes_[offset + (big_ ? i : width - 1 - i)];
      value = (value << 8) | b;
    }
    return value;
  }

 private:
  const std::vector<unsigned char>& bytes_;
  const bool big_;
};

class Descriptor {
 public:
  explicit Descriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

bool ReadAt(int fd, std::uint64_t offset, std::uint64_t length, std::vector<unsigned char>& out) {
  out.resize(length);
  std::uint64_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

// Walks the notes of one SHT_NOTE section (name and descriptor padded to 4 bytes).
std::optional<VersionNumbers> FindInNotes(const std::vector<unsigned char>& notes, bool bigEndian) {
  const ByteReader r(notes, bigEndian);
  std::uint64_t at = 0;
  const auto align4 = [](std::uint64_t v) { return (v + 3) & ~std::uint64_t{3}; };
  while (r.Has(at, 12)) {
    const std::uint64_t nameSize = r.Read(at, 4);
    const std::uint64_t descSize = r.Read(at + 4, 4);
    const std::uint64_t type = r.Read(at + 8, 4);
    const std::uint64_t nameAt = at + 12;
    if (!r.Has(nameAt, align4(nameSize))) return std::nullopt;
    const std::uint64_t descAt = nameAt + align4(nameSize);
    if (!r.Has(descAt, descSize)) return std::nullopt;
    if (type == kVersionNoteType && nameSize == sizeof(kVersionNoteOwner) && descSize == 8 &&
        std::memcmp(notes.data() + nameAt, kVersionNoteOwner, sizeof(kVersionNoteOwner)) == 0) {
      VersionNumbers v;
      v.Major = static_cast<std::uint16_t>(r.Read(descAt, 2));
      v.Minor = static_cast<std::uint16_t>(r.Read(descAt + 2, 2));
      v.Release = static_cast<std::uint16_t>(r.Read(descAt + 4, 2));
      v.Build = static_cast<std::uint16_t>(r.Read(descAt + 6, 2));
      return v;
    }
    at = descAt + align4(descSize);
  }
  return std::nullopt;
}

}  // namespace

std::optional<VersionNumbers> ReadElfVersionNote(const std::string& path) {
  const Descriptor fd(path);
  if (fd.Get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);

  std::vector<unsigned char> header;
  if (fileSize < EI_NIDENT || !ReadAt(fd.Get(), 0, EI_NIDENT, header)) return std::nullopt;
  if (std::memcmp(header.data(), ELFMAG, SELFMAG) != 0) return std::nullopt;
  const bool is64 = header[EI_CLASS] == ELFCLASS64;
  if (!is64 && header[EI_CLASS] != ELFCLASS32) return std::nullopt;
  if (header[EI_DATA] != ELFDATA2LSB && header[EI_DATA] != ELFDATA2MSB) return std::nullopt;
  const bool big = header[EI_DATA] == ELFDATA2MSB;

  const std::uint64_t headerSize = is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
  if (fileSize < headerSize || !ReadAt(fd.Get(), 0, headerSize, header)) return std::nullopt;
  const ByteReader h(header, big);
  const std::uint64_t shoff = is64 ? h.Read(offsetof(Elf64_Ehdr, e_shoff), 8) : h.Read(offsetof(Elf32_Ehdr, e_shoff), 4);
  const std::uint64_t shentsize =
      is64 ? h.Read(offsetof(Elf64_Ehdr, e_shentsize), 2) : h.Read(offsetof(Elf32_Ehdr, e_shentsize), 2);
  std::uint64_t shnum = is64 ? h.Read(offsetof(Elf64_Ehdr, e_shnum), 2) : h.Read(offsetof(Elf32_Ehdr, e_shnum), 2);
  const std::uint64_t minEntry = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
  if (shoff == 0 || shentsize < minEntry || shoff > fileSize) return std::nullopt;

  std::vector<unsigned char> sections;
  if (shnum == 0) {
    // More than 0xff00 sections: the real count is in the first section header's size.
    if (!ReadAt(fd.Get(), shoff, std::min<std::uint64_t>(shentsize, fileSize - shoff), sections) ||
        sections.size() < minEntry)
      return std::nullopt;
    const ByteReader s0(sections, big);
    shnum = is64 ? s0.Read(offsetof(Elf64_Shdr, sh_size), 8) : s0.Read(offsetof(Elf32_Shdr, sh_size), 4);
  }
  if (shnum == 0 || shnum > (fileSize - shoff) / shentsize) return std::nullopt;
  if (!ReadAt(fd.Get(), shoff, shnum * shentsize, sections)) return std::nullopt;
  const ByteReader s(sections, big);

  std::vector<unsigned char> notes;
  for (std::uint64_t i = 0; i < shnum; ++i) {
    const std::uint64_t at = i * shentsize;
    const std::uint64_t type = s.Read(at + (is64 ? offsetof(Elf64_Shdr, sh_type) : offsetof(Elf32_Shdr, sh_type)), 4);
    if (type != SHT_NOTE) continue;
    const std::uint64_t offset = is64 ? s.Read(at + offsetof(Elf64_Shdr, sh_offset), 8)
                                      : s.Read(at + offsetof(Elf32_Shdr, sh_offset), 4);
    const std::uint64_t size =
        is64 ? s.Read(at + offsetof(Elf64_Shdr, sh_size), 8) : s.Read(at + offsetof(Elf32_Shdr, sh_size), 4);
    if (offset > fileSize || size > fileSize - offset) continue;
    if (!ReadAt(fd.Get(), offset, size, notes)) continue;
    if (auto found = FindInNotes(notes, big)) return found;
  }
  return std::nullopt;
}

}  // namespace ecr
