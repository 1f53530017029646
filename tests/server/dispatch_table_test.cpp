// Which handler the dispatcher runs for every SET and command: each of the 14 x 15 cells is
// sent through DispatchRequest, and the handler that ran is told by what it did.

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "server/client_message.h"
#include "server/commands.h"
#include "server/request_engine.h"
#include "tests/server/engine_fakes.h"

namespace ecr {
namespace {

// The dispatch table, one row per SET 1..14, one column per Command 1..15; "-" is an
// empty cell, answered "Unknown command".
// clang-format off
constexpr std::array<std::string_view, 14> kDispatchTable = {
    // 1      2       3      4      5      6     7     8        9      10    11    12    13    14    15
    "open   close   cancel answer finish -     state answer-c -      -     -     -     -     -     -",  // SET 1
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 2
    "open   close   -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 3
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 4
    "open   close   cancel queue  queue  queue state queue    queue  queue queue queue queue -     -",  // SET 5
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 6
    "open   close   -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 7
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 8
    "open   close   cancel answer finish -     state answer-c finish -     -     -     -     -     -",  // SET 9
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 10
    "open   close   cancel answer finish -     state -        -      -     -     -     -     -     -",  // SET 11
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 12
    "open   close   cancel queue  queue  queue state queue    queue  queue queue queue queue queue queue",  // SET 13
    "open-m close-m -      -      -      -     -     -        -      -     -     -     -     -     -",  // SET 14
};
// clang-format on

constexpr std::array<std::string_view, 11> kHandlerNames = {
    "-", "open", "open-m", "close", "close-m", "cancel", "answer", "answer-c", "finish", "state", "queue"};

constexpr int kEcr = 4;
constexpr std::uint16_t kOwner = 1;      // holds the SET the request names
constexpr std::uint16_t kNextOwner = 2;  // holds the SET after it

// What one request on SET setNo did: the messages sent, the calls into the polling thread,
// and the SET's record and the register's use count afterwards.
std::string Observe(int setNo, int command) {
  ServerSettings settings;
  testing_support::CountingSaver saver;
  testing_support::RecordingSender sender;
  testing_support::RecordingPoller poller;
  RequestEngine engine{settings, saver, "v1.0.0.1"};
  // The requester holds the SET with a command pending, the SET after it has an owner, and
  // the register's OnLine exchange waits on this SET: every handler leaves its own trace.
  engine.WithContext([&](ExchangeContext& context) {
    TEcr& ecr = context.EcrTable.At(kEcr);
    TSetDescr& set = ecr.Set(setNo);
    set.ClientId = kOwner;
    set.Command = 9;
    set.State = kStateQueued;
    set.Payload = "queued";
    if (setNo < 14) ecr.Set(setNo + 1).ClientId = kNextOwner;
    ecr.UseCount = 5;
    context.SetCurrentExchange(kEcr, setNo);
  });
  engine.DispatchRequest(sender, &poller, kOwner,
                         BuildClientMessage(static_cast<std::uint8_t>(setNo), static_cast<std::uint8_t>(command),
                                            kEcr, 0, {}, "pw"));
  std::ostringstream seen;
  for (const std::string& line : testing_support::Describe(sender.Take())) seen << line << "; ";
  seen << "| ";
  for (const std::string& call : poller.Take()) seen << call << "; ";
  const TEcr ecr = engine.EcrSnapshot(kEcr);
  const TSetDescr& set = ecr.Set(setNo);
  seen << "| owner " << set.ClientId << " pending " << int(set.Command) << "/" << int(set.State) << " uses "
       << int(ecr.UseCount) << " exchange " << int(engine.CurrentExchangeSnapshot().Set);
  return seen.str();
}

// What the named handler does with that request, as Observe reports it.
std::string Expected(std::string_view handler, int setNo, int command) {
  const std::string head = std::to_string(setNo) + "/" + std::to_string(command) + "/" + std::to_string(kEcr);
  const auto to = [&](std::uint16_t client, int error, std::string_view payload) {
    return "to " + std::to_string(client) + ": " + head + " err " + std::to_string(error) + " [" +
           std::string(payload) + "]; ";
  };
  const auto withCopy = [&](int error, std::string_view payload = {}) {
    return to(kOwner, error, payload) + (setNo < 14 ? to(kNextOwner, error, payload) : "");
  };
  // Every request that has a handler reaches the owner of the next SET before it runs.
  std::string sent = handler == "-" || setNo == 14 ? "" : to(kNextOwner, 0, "pw");
  std::string calls;
  int owner = kOwner, pending = 9, state = kStateQueued, uses = 5, exchange = setNo;
  if (handler == "-") {
    sent += withCopy(erUnknownCommand);
  } else if (handler == "open") {
    sent += withCopy(erSetTaken, "HARBENDIX");
  } else if (handler == "open-m") {
    sent += to(kOwner, erSetTaken, "");
  } else if (handler == "close") {
    sent += withCopy(erNoError);
    owner = pending = state = 0;
    uses = 4;
  } else if (handler == "close-m") {
    sent += to(kOwner, erNoError, "");
    owner = pending = state = 0;
  } else if (handler == "cancel") {
    sent += withCopy(erNoError);
    pending = state = 0;
  } else if (handler == "answer" || handler == "answer-c") {
    calls = std::string("SetOnLineAnswer ") + (handler == "answer-c" ? "C;" : "") + "pw; ";
    exchange = 0;
  } else if (handler == "finish") {
    calls = "CancelExchange; ";
    sent += withCopy(erNoError);
    exchange = 0;
  } else if (handler == "state") {
    sent += withCopy(kStateQueued);
  } else if (handler == "queue") {
    sent += withCopy(erEcrBusy);
  }
  return sent + "| " + calls + "| owner " + std::to_string(owner) + " pending " + std::to_string(pending) + "/" +
         std::to_string(state) + " uses " + std::to_string(uses) + " exchange " + std::to_string(exchange);
}

std::vector<std::string> Cells(std::string_view row) {
  std::vector<std::string> cells;
  std::istringstream in{std::string(row)};
  for (std::string cell; in >> cell;) cells.push_back(cell);
  return cells;
}

TEST(DispatchTable, EverySetAndCommandRunsItsHandlerOrNone) {
  // The traces of the handlers differ from each other in every cell.
  for (int setNo = 1; setNo <= 14; ++setNo) {
    for (int command = 1; command <= 15; ++command) {
      for (std::size_t a = 0; a < kHandlerNames.size(); ++a) {
        for (std::size_t b = a + 1; b < kHandlerNames.size(); ++b) {
          ASSERT_NE(Expected(kHandlerNames[a], setNo, command), Expected(kHandlerNames[b], setNo, command))
              << kHandlerNames[a] << " and " << kHandlerNames[b] << " on SET " << setNo << " Command " << command;
        }
      }
    }
  }
  for (int setNo = 1; setNo <= 14; ++setNo) {
    const std::vector<std::string> row = Cells(kDispatchTable[static_cast<std::size_t>(setNo - 1)]);
    ASSERT_EQ(row.size(), 15u) << "SET " << setNo;
    for (int command = 1; command <= 15; ++command) {
      const std::string& handler = row[static_cast<std::size_t>(command - 1)];
      const std::string seen = Observe(setNo, command);
      if (seen == Expected(handler, setNo, command)) continue;
      std::string ran = "no handler of the table";
      for (const std::string_view other : kHandlerNames) {
        if (seen == Expected(other, setNo, command)) ran = std::string(other);
      }
      ADD_FAILURE() << "SET " << setNo << " Command " << command << ": expected " << handler << ", ran " << ran
                    << "\n  seen:     " << seen << "\n  expected: " << Expected(handler, setNo, command);
    }
  }
}

}  // namespace
}  // namespace ecr
