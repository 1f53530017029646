#include "foundation/fields.h"

#include <stdexcept>

namespace ecr {

namespace {

void CheckFieldNumber(int n) {
  if (n < 1 || n > 255) throw std::out_of_range("field number out of range 1..255");
}

// Start of field n (0-based offset) and the offset of its separator; false when s holds
// fewer than n separators.
bool LocateField(std::string_view s, int n, char sep, std::size_t& begin, std::size_t& end) {
  std::size_t start = 0;
  for (int field = 1;; ++field) {
    const auto found = s.find(sep, start);
    if (found == std::string_view::npos) return false;
    if (field == n) {
      begin = start;
      end = found;
      return true;
    }
    start = found + 1;
  }
}

}  // namespace

std::string GetField(std::string_view s, int n, char sep) {
  CheckFieldNumber(n);
  std::size_t begin = 0;
  std::size_t end = 0;
  if (!LocateField(s, n, sep, begin, end)) return {};
  return std::string(s.substr(begin, end - begin));
}

std::string CutField(std::string& s, int n, char sep) {
  CheckFieldNumber(n);
  std::size_t begin = 0;
  std::size_t end = 0;
  if (!LocateField(s, n, sep, begin, end)) return {};
  std::string field = s.substr(begin, end - begin);
  s.erase(begin, end - begin + 1);
  return field;
}

void InsertField(std::string& s, std::string_view value, int n) {
  CheckFieldNumber(n);
  std::string piece(value);
  piece += ';';
  int field = 1;
  std::size_t at = s.size();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (field == n) {
      at = i;
      break;
    }
    if (s[i] == ';') ++field;
  }
  s.insert(at, piece);
  if (s.size() > kShortStringMax) s.resize(kShortStringMax);
}

std::string RemoveSpaces(std::string_view s) {
  std::string result;
  result.reserve(s.size());
  for (const char c : s) {
    if (c != ' ') result += c;
  }
  return result;
}

}  // namespace ecr
