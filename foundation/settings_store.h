#pragma once
// TCodeStru keeps one fixed-size settings record in a scrambled file beside the program
// and holds that file open, locked against every other opener, for its whole life: a
// second copy of the program started from the same place finds Opened() false and ends.
//
// File layout (little-endian, 17 + Size bytes as written by Save):
//   0   12    key bytes K[0..11], each a valid key byte
//   12  1     check byte C = K[0] ^ ... ^ K[11], itself a valid key byte
//   13  Size  stored byte i = record byte i ^ K[i % 12] ^ C
//   13+Size 4 checksum: signed 32-bit sum of i * i * stored byte i (wrapping)
// A valid key byte has one to three bits set in each nibble. Load accepts a file only when
// it is long enough and the checksum matches, and leaves the record untouched otherwise;
// bytes behind the checksum are ignored and survive saves (the file is never truncated).
//
// The store moves Size raw bytes between the caller's record and the file and knows none
// of its fields. Save scrambles a copy, so the caller's record never holds scrambled bytes.
//
// Thread safety: Load and Save may be called from any thread; they are serialised by the
// store's own mutex. Load writes the caller's record and Save reads it: the caller keeps
// other threads from changing the record meanwhile.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

#include "platform/exclusive_file.h"

namespace ecr {

class TCodeStru {
 public:
  static constexpr std::size_t kMaxSize = 32'768;
  static constexpr std::size_t kHeaderSize = 13;
  static constexpr std::size_t kChecksumSize = 4;
  using KeyBytes = std::array<std::uint8_t, 12>;

  // Opens (or creates) fileName and locks it; does not read it. buffer points to the
  // caller's record of `size` bytes (1..kMaxSize, else std::length_error), which must
  // outlive the store.
  TCodeStru(const std::string& fileName, void* buffer, std::size_t size);
  template <typename Record>
  TCodeStru(const std::string& fileName, Record& record) : TCodeStru(fileName, &record, sizeof(Record)) {}

  TCodeStru(const TCodeStru&) = delete;
  TCodeStru& operator=(const TCodeStru&) = delete;

  bool Opened() const { return file_.IsOpen(); }
  std::size_t Size() const { return size_; }
  void Load();
  void Save();

  // Key, check byte and checksum of the last successful load or save.
  KeyBytes Key() const;
  std::uint8_t CheckByte() const;
  std::int32_t StoredChecksum() const;

  // The byte when it is a valid key byte, else 0.
  static std::uint8_t KeyByteOk(std::uint8_t b);
  static std::uint8_t KeyXor(const KeyBytes& key);
  // Applies the xor of the layout above in place (twice restores the data).
  static void Scramble(std::uint8_t* data, std::size_t length, const KeyBytes& key, std::uint8_t checkByte);
  static std::int32_t Checksum(const std::uint8_t* data, std::size_t length);

 private:
  void NewKeyLocked();

  std::uint8_t* const buffer_;
  const std::size_t size_;
  ExclusiveFile file_;
  mutable std::mutex mutex_;
  KeyBytes key_{};
  std::uint8_t check_byte_ = 0;
  std::int32_t checksum_ = 0;
  std::mt19937 random_;
};

}  // namespace ecr
