#pragma once
// The fixed command-line parameter table: ten records, one per argument 1..10, filled once
// when the process starts and only read afterwards. Arguments beyond the tenth are not seen.
//
// Threads: filled by the constructor; afterwards any thread may call the const members.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ecr {

class ParamTable {
 public:
  static constexpr std::size_t kRecordCount = 10;
  static constexpr std::size_t kNameLength = 10;
  static constexpr std::size_t kValueLength = 30;

  struct Record {
    std::string Name;   // upper case (ASCII), at most 10 characters; empty for no argument
    std::string Value;  // text after the first ":", as typed, at most 30 characters
  };

  // The arguments after the program name (argv[1], argv[2], ...).
  explicit ParamTable(const std::vector<std::string>& arguments);
  // From main's argc and argv; argv[0] is the program and is skipped.
  ParamTable(int argc, const char* const* argv);

  // At the first record whose Name equals Name in upper case, sets Value to that record's
  // Value and gives true; otherwise false and Value unchanged. An empty Name matches the
  // first record of an absent argument.
  bool FindParam(std::string_view Name, std::string& Value) const;

  const std::array<Record, kRecordCount>& Records() const { return records_; }

  // One argument as the table stores it (exposed for the table's own tests).
  static Record ParseArgument(std::string_view argument);

 private:
  std::array<Record, kRecordCount> records_;
};

}  // namespace ecr
