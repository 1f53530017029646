#pragma once
// The list of register numbers that the polling thread serves round-robin: at most 99
// numbers of 1..99, kept in ascending order without duplicates, and the position last
// served. Removing an entry does not move the round-robin position, so the entry that moves
// into a served place is skipped once; a removed number is never served again.
//
// Plain value type; the polling thread guards it with its lock.

#include <array>
#include <cstdint>

namespace ecr {

class TEcrList {
 public:
  static constexpr int kCapacity = 99;

  // Raise std::invalid_argument (number outside 1..99: the number in decimal followed by
  // "is NOT valid ECR logical number !") or std::length_error ("Too many ECRs !" when 99
  // are listed); a number already listed changes nothing.
  void Add(int number);
  void Remove(int number);
  void Clear();
  // The next number round-robin, -1 when the list is empty.
  int Next();

  int Count() const { return count_; }
  int RRIndex() const { return rr_index_; }
  // Position 1..Count().
  int At(int position) const { return ecrs_[static_cast<std::size_t>(position - 1)]; }
  bool Contains(int number) const;

 private:
  static void CheckNumber(int number);
  int rr_index_ = 0;
  int count_ = 0;
  std::array<std::int32_t, kCapacity> ecrs_{};
};

}  // namespace ecr
