// The per-register numbering of forwarded messages (notification id and sequence, kept in
// the settings record) and the repeat check of OnLine blocks.

#include <cstdint>
#include <string>

#include "netcontroller/requests/nc_exchange_context.h"

namespace ecr::nc {

namespace {

constexpr std::uint32_t kRepeatWindowMs = 80'000;

std::int32_t TakeNextNotifyId(NcServerSettings& settings) {
  const std::int32_t id = settings.NextNotifyId;
  // Wraps instead of overflowing a signed integer.
  settings.NextNotifyId = static_cast<std::int32_t>(static_cast<std::uint32_t>(id) + 1u);
  return id;
}

}  // namespace

std::int32_t NcExchangeContext::EcrNotifyId(int ecr) {
  NcEcrSettings& counters = Settings().Ecr(ecr);
  if (counters.NotifyId == 0) counters.NotifyId = TakeNextNotifyId(Settings());
  return counters.NotifyId;
}

std::int32_t NcExchangeContext::NewEcrNotifyId(int ecr) {
  const std::int32_t inForce = EcrNotifyId(ecr);
  NcEcrSettings& counters = Settings().Ecr(ecr);
  counters.NotifyId = TakeNextNotifyId(Settings());
  counters.Sequence = 1;
  SaveSettings();
  return inForce;
}

std::uint16_t NcExchangeContext::NextEcrSequence(int ecr) {
  NcEcrSettings& counters = Settings().Ecr(ecr);
  const std::uint16_t sequence = counters.Sequence;
  counters.Sequence = sequence == 0xFFFF ? std::uint16_t{1} : static_cast<std::uint16_t>(sequence + 1);
  return sequence;
}

std::uint16_t NcExchangeContext::CurrentEcrSequence(int ecr) const { return Settings().Ecr(ecr).Sequence; }

bool NcExchangeContext::IsRepeatedBlock(int ecr, std::string_view block) {
  EcrSession& session = Session(ecr);
  const std::uint32_t now = tick_count_ ? tick_count_() : 0;
  // Unsigned elapsed time stays right across the wrap of the 32-bit clock.
  const bool repeated =
      session.HasLastBlock && session.LastBlock == block && now - session.LastBlockTick < kRepeatWindowMs;
  if (!repeated) {
    session.LastBlock.assign(block);
    session.HasLastBlock = true;
  }
  session.LastBlockTick = now;
  return repeated;
}

}  // namespace ecr::nc
