#include "foundation/currency.h"

#include <cstdio>

namespace ecr {

std::string Currency::ToString() const {
  // Work on the magnitude as unsigned so that the most negative value prints too.
  const bool negative = scaled_ < 0;
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(scaled_) + 1u : static_cast<std::uint64_t>(scaled_);
  char text[40];
  std::snprintf(text, sizeof text, "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / kScale), static_cast<unsigned long long>(magnitude % kScale));
  return text;
}

}  // namespace ecr
