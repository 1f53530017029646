#pragma once
// The one settings record of the register server: line and TCP ports, passwords and a
// block of counters for each of the 99 registers. It goes into the settings file byte for
// byte (1363 bytes, packed, little-endian), so its layout is part of the file format.
//
// The record itself takes no lock. While the service runs, the request engine owns it and
// touches it under its own lock (RequestEngine::UpdateSettings); the settings dialogs
// change it only while the service is stopped.

#include <array>
#include <cstddef>
#include <cstdint>

#include "server/record_fields.h"

namespace ecr {

inline constexpr int kEcrCount = 99;
inline constexpr std::size_t kPasswordCapacity = 9;

// How a register was last heard (EcrSettings::Mode).
enum EcrMode : std::uint8_t { EcrModeOff = 0, EcrModeInLine = 1, EcrModeOnLine = 2, EcrModePrn = 3 };

struct EcrSettings {
  LittleEndian<std::int32_t> NotifyId{0};
  LittleEndian<std::uint16_t> Sequence{1};
  LittleEndian<std::int32_t> SerialNumber{0};
  LittleEndian<std::uint8_t> Mode{0};
  LittleEndian<std::uint8_t> KeepAlive{0};
};

struct ServerSettings {
  FixedShortString<6> ComPort{"COM1"};
  LittleEndian<std::uint16_t> ComSpeed{4800};
  LittleEndian<std::uint16_t> IPPort{4999};
  FixedShortString<kPasswordCapacity> AdminPassword;
  LittleEndian<std::int32_t> NextNotifyId{1};
  // SET s (1..14) at index s - 1; see SetPassword().
  std::array<FixedShortString<kPasswordCapacity>, 14> SetPasswords;
  FixedShortString<kPasswordCapacity> SubscriberPassword;
  // Register e (1..99) at index e - 1; see Ecr().
  std::array<EcrSettings, kEcrCount> Ecrs;

  // logNo 1..99; outside that range the behaviour is undefined (callers check first).
  EcrSettings& Ecr(int logNo) { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
  const EcrSettings& Ecr(int logNo) const { return Ecrs[static_cast<std::size_t>(logNo - 1)]; }
  // setNo 1..14.
  FixedShortString<kPasswordCapacity>& SetPassword(int setNo) {
    return SetPasswords[static_cast<std::size_t>(setNo - 1)];
  }
  const FixedShortString<kPasswordCapacity>& SetPassword(int setNo) const {
    return SetPasswords[static_cast<std::size_t>(setNo - 1)];
  }

  // The record as it goes to the settings store.
  void* data() { return this; }
  const void* data() const { return this; }
  static constexpr std::size_t size() { return 1363; }
};

static_assert(sizeof(EcrSettings) == 12);
static_assert(sizeof(ServerSettings) == ServerSettings::size());
static_assert(std::is_standard_layout_v<ServerSettings>);
static_assert(std::is_trivially_copyable_v<ServerSettings>);
static_assert(offsetof(ServerSettings, ComSpeed) == 7);
static_assert(offsetof(ServerSettings, IPPort) == 9);
static_assert(offsetof(ServerSettings, AdminPassword) == 11);
static_assert(offsetof(ServerSettings, NextNotifyId) == 21);
static_assert(offsetof(ServerSettings, SetPasswords) == 25);
static_assert(offsetof(ServerSettings, SubscriberPassword) == 165);
static_assert(offsetof(ServerSettings, Ecrs) == 175);

}  // namespace ecr
