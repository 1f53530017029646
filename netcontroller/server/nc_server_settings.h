#pragma once
// The one settings record of the network-controller server: the line speed behind the
// controller, the TCP port, the administrator and SET passwords, the code table, the next
// notification id, and a block of counters for each of the 16 registers. It goes into the
// settings file byte for byte (420 bytes, packed, little-endian), so its layout is part of
// the file format. The two Reserved fields are read by nobody; they are kept so that they
// go back to the file exactly as they came from it.
//
// The record itself takes no lock. The per-register fields and NextNotifyId change on the
// controller link's reader thread inside the request processing's serialisation; the rest
// changes on the main thread. Whoever owns the record says which lock guards a save.

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "server/record_fields.h"

namespace ecr::nc {

inline constexpr int kNcEcrCount = 16;
inline constexpr int kNcSetCount = 14;
inline constexpr std::size_t kNcPasswordCapacity = 9;

struct NcEcrSettings {
  LittleEndian<std::int32_t> NotifyId{0};
  LittleEndian<std::uint16_t> Sequence{1};
  // Always written as 0; what a file holds here is kept.
  std::array<std::uint8_t, 2> Filler{};
  LittleEndian<std::int32_t> SerialNumber{0};
  LittleEndian<std::uint16_t> Reserved{18};
  // How the register was last heard: an ecr::EcrMode value (server/server_settings.h).
  LittleEndian<std::uint8_t> Mode{0};
  // Display countdown: set to 15 with each Mode, counted down by the monitor.
  LittleEndian<std::uint8_t> KeepAlive{0};
};

struct NcServerSettings {
  LittleEndian<std::uint16_t> Reserved{1};
  // Speed of the register line behind the controller: 4800 or 9600.
  LittleEndian<std::uint16_t> ComSpeed{4800};
  LittleEndian<std::uint16_t> IPPort{4999};
  FixedShortString<kNcPasswordCapacity> ServerPassword;
  LittleEndian<std::int32_t> NextNotifyId{1};
  // Row 1..6 of the language list.
  LittleEndian<std::int32_t> CodeTableIndex{1};
  // SET s (1..14) at index s - 1; see SetPassword().
  std::array<FixedShortString<kNcPasswordCapacity>, kNcSetCount> SetPasswords;
  // Register e (1..16) at index e - 1; see Ecr().
  std::array<NcEcrSettings, kNcEcrCount> Ecrs;

  // logNo 1..16; outside that range the behaviour is undefined (callers check first).
  NcEcrSettings& Ecr(int logNo) { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
  const NcEcrSettings& Ecr(int logNo) const { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
  // setNo 1..14.
  FixedShortString<kNcPasswordCapacity>& SetPassword(int setNo) {
    return SetPasswords[static_cast<std::size_t>(setNo - 1)];
  }
  const FixedShortString<kNcPasswordCapacity>& SetPassword(int setNo) const {
    return SetPasswords[static_cast<std::size_t>(setNo - 1)];
  }

  // The record as it goes to the settings store.
  void* data() { return this; }
  const void* data() const { return this; }
  static constexpr std::size_t size() { return 420; }
};

static_assert(sizeof(NcEcrSettings) == 16);
static_assert(offsetof(NcEcrSettings, Sequence) == 4);
static_assert(offsetof(NcEcrSettings, Filler) == 6);
static_assert(offsetof(NcEcrSettings, SerialNumber) == 8);
static_assert(offsetof(NcEcrSettings, Reserved) == 12);
static_assert(offsetof(NcEcrSettings, Mode) == 14);
static_assert(offsetof(NcEcrSettings, KeepAlive) == 15);
static_assert(sizeof(NcServerSettings) == NcServerSettings::size());
static_assert(std::is_standard_layout_v<NcServerSettings>);
static_assert(std::is_trivially_copyable_v<NcServerSettings>);
static_assert(offsetof(NcServerSettings, ComSpeed) == 2);
static_assert(offsetof(NcServerSettings, IPPort) == 4);
static_assert(offsetof(NcServerSettings, ServerPassword) == 6);
static_assert(offsetof(NcServerSettings, NextNotifyId) == 16);
static_assert(offsetof(NcServerSettings, CodeTableIndex) == 20);
static_assert(offsetof(NcServerSettings, SetPasswords) == 24);
static_assert(offsetof(NcServerSettings, Ecrs) == 164);

}  // namespace ecr::nc
