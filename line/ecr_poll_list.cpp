#include "line/ecr_poll_list.h"

#include <stdexcept>
#include <string>

namespace ecr {

void TEcrList::CheckNumber(int number) {
  if (number < 1 || number > kCapacity) {
    throw std::invalid_argument(std::to_string(number) + "is NOT valid ECR logical number !");
  }
}

bool TEcrList::Contains(int number) const {
  for (int i = 0; i < count_; ++i) {
    if (ecrs_[static_cast<std::size_t>(i)] == number) return true;
  }
  return false;
}

void TEcrList::Add(int number) {
  CheckNumber(number);
  if (count_ >= kCapacity) throw std::length_error("Too many ECRs !");
  int at = 0;
  while (at < count_ && ecrs_[static_cast<std::size_t>(at)] < number) ++at;
  if (at < count_ && ecrs_[static_cast<std::size_t>(at)] == number) return;
  for (int i = count_; i > at; --i) ecrs_[static_cast<std::size_t>(i)] = ecrs_[static_cast<std::size_t>(i - 1)];
  ecrs_[static_cast<std::size_t>(at)] = number;
  ++count_;
}

void TEcrList::Remove(int number) {
  CheckNumber(number);
  int at = 0;
  while (at < count_ && ecrs_[static_cast<std::size_t>(at)] != number) ++at;
  if (at == count_) return;
  for (int i = at; i < count_ - 1; ++i) ecrs_[static_cast<std::size_t>(i)] = ecrs_[static_cast<std::size_t>(i + 1)];
  --count_;
  ecrs_[static_cast<std::size_t>(count_)] = 0;
}

void TEcrList::Clear() {
  rr_index_ = 0;
  count_ = 0;
  ecrs_.fill(0);
}

int TEcrList::Next() {
  if (count_ == 0) return -1;
  ++rr_index_;
  if (rr_index_ > count_) rr_index_ = 1;
  return ecrs_[static_cast<std::size_t>(rr_index_ - 1)];
}

}  // namespace ecr
