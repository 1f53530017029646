#include "foundation/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace ecr {

namespace {

bool ReadExactly(int fd, std::uint8_t* data, std::size_t length, off_t offset) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, data + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void WriteIgnoringResult(int fd, const std::vector<std::uint8_t>& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::uint32_t Seed() {
  std::random_device device;
  const auto clock = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return device() ^ static_cast<std::uint32_t>(clock) ^ static_cast<std::uint32_t>(clock >> 32);
}

}  // namespace

TCodeStru::TCodeStru(const std::string& fileName, void* buffer, std::size_t size)
    : buffer_(static_cast<std::uint8_t*>(buffer)), size_(size), random_(Seed()) {
  if (size == 0 || size > kMaxSize) throw std::length_error("settings record size out of range");
  if (buffer == nullptr) throw std::invalid_argument("settings record missing");
  file_ = ExclusiveFile(fileName, O_RDWR | O_CREAT, 0644);
}

std::uint8_t TCodeStru::KeyByteOk(std::uint8_t b) {
  const int low = std::popcount(static_cast<unsigned>(b & 0x0F));
  const int high = std::popcount(static_cast<unsigned>(b >> 4));
  return (low >= 1 && low <= 3 && high >= 1 && high <= 3) ? b : 0;
}

std::uint8_t TCodeStru::KeyXor(const KeyBytes& key) {
  std::uint8_t c = 0;
  for (const std::uint8_t k : key) c ^= k;
  return c;
}

void TCodeStru::Scramble(std::uint8_t* data, std::size_t length, const KeyBytes& key, std::uint8_t checkByte) {
  for (std::size_t i = 0; i < length; ++i) data[i] ^= key[i % key.size()] ^ checkByte;
}

std::int32_t TCodeStru::Checksum(const std::uint8_t* data, std::size_t length) {
  // The sum wraps modulo 2^32; unsigned arithmetic keeps that well defined.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto index = static_cast<std::uint32_t>(i);
    sum += index * index * data[i];
  }
  return static_cast<std::int32_t>(sum);
}

void TCodeStru::NewKeyLocked() {
  std::uniform_int_distribution<int> draw(1, 255);
  do {
    for (std::uint8_t& k : key_) {
      do {
        k = static_cast<std::uint8_t>(draw(random_));
      } while (KeyByteOk(k) == 0);
    }
    check_byte_ = KeyXor(key_);
  } while (KeyByteOk(check_byte_) == 0);
}

void TCodeStru::Save() {
  const std::lock_guard lock(mutex_);
  if (!file_.IsOpen()) return;
  NewKeyLocked();
  std::vector<std::uint8_t> image(kHeaderSize + size_ + kChecksumSize);
  std::copy(key_.begin(), key_.end(), image.begin());
  image[key_.size()] = check_byte_;
  std::uint8_t* const record = image.data() + kHeaderSize;
  std::copy(buffer_, buffer_ + size_, record);
  Scramble(record, size_, key_, check_byte_);
  checksum_ = Checksum(record, size_);
  const auto sum = static_cast<std::uint32_t>(checksum_);
  for (std::size_t i = 0; i < kChecksumSize; ++i) image[kHeaderSize + size_ + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  WriteIgnoringResult(file_.Descriptor(), image);
  ::fdatasync(file_.Descriptor());
}

void TCodeStru::Load() {
  const std::lock_guard lock(mutex_);
  if (!file_.IsOpen()) return;
  const int fd = file_.Descriptor();
  std::uint8_t header[kHeaderSize];
  if (!ReadExactly(fd, header, kHeaderSize, 0)) return;
  std::vector<std::uint8_t> work(size_);
  if (!ReadExactly(fd, work.data(), size_, kHeaderSize)) return;
  std::uint8_t stored[kChecksumSize];
  if (!ReadExactly(fd, stored, kChecksumSize, static_cast<off_t>(kHeaderSize + size_))) return;
  std::uint32_t storedSum = 0;
  for (std::size_t i = 0; i < kChecksumSize; ++i) storedSum |= static_cast<std::uint32_t>(stored[i]) << (8 * i);
  if (Checksum(work.data(), size_) != static_cast<std::int32_t>(storedSum)) return;
  std::copy(header, header + key_.size(), key_.begin());
  check_byte_ = header[key_.size()];
  checksum_ = static_cast<std::int32_t>(storedSum);
  Scramble(work.data(), size_, key_, check_byte_);
  std::copy(work.begin(), work.end(), buffer_);
}

TCodeStru::KeyBytes TCodeStru::Key() const {
  const std::lock_guard lock(mutex_);
  return key_;
}

std::uint8_t TCodeStru::CheckByte() const {
  const std::lock_guard lock(mutex_);
  return check_byte_;
}

std::int32_t TCodeStru::StoredChecksum() const {
  const std::lock_guard lock(mutex_);
  return checksum_;
}

}  // namespace ecr
