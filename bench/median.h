#pragma once
// The median of a set of figures: the middle value, or the mean of the two middle ones; 0 for
// none. A loaded machine stalls a few samples by milliseconds; the median shows the rest.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace ecr {

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  if (values.size() % 2 == 1) return *middle;
  return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

}  // namespace ecr
