#pragma once
// The request engine's memory: the register table, the reply owed for the exchange in
// progress, the OnLine exchange that waits for an answer, the polling flag, and the
// per-register counters of the settings record, with the operations on them that both the
// client handlers and the register-side callbacks use.
//
// Not thread-safe by itself: RequestEngine holds its lock around every call. Tests drive
// it directly with fakes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "server/client_sender.h"
#include "server/ecr_records.h"
#include "server/polling_control.h"
#include "server/server_settings.h"
#include "server/settings_saver.h"

namespace ecr {

// Writes one line to the program's log (level 0).
using EngineLog = std::function<void(const std::string& text)>;

class ExchangeContext {
 public:
  ExchangeContext(ServerSettings& settings, SettingsSaver& saver, EngineLog log);

  TEcrs EcrTable;
  TWaitRes WaitRes;
  TCurrentExchange CurrentExchange;
  std::uint32_t PollingActive = 0;
  // The old fiscal-printer option of the server's INI file.
  bool OldFPMode = false;

  ServerSettings& Settings() { return settings_; }
  const ServerSettings& Settings() const { return settings_; }

  // The stop of the service: table, current exchange and polling flag back to zero.
  void Reset();

  // The connection now in slot clientId (1..65535): a number of its own, given when it first
  // takes a SET and kept until EndConnection; the next connection in the slot gets a new one.
  std::uint64_t ConnectionOf(int clientId);
  // The connection in slot clientId has closed.
  void EndConnection(int clientId);

  // Opens the OnLine exchange for the connection that holds the SET now.
  void SetCurrentExchange(int ecr, int set);
  void ClearCurrentExchange();
  bool IsCurrentExchange(int ecr, int set) const;
  // The OnLine exchange in progress is register ecr's and was offered to this connection on
  // SET set.
  bool IsExchangeOfferedTo(int ecr, int set, std::uint64_t connection) const;

  // Fills WaitRes and clears Deferred (NextCommand stays). The reply remembers who asked:
  // the connection that holds SET SetNo of register LogNo and its pending command, as they
  // are now.
  void SetExchange(std::uint8_t SetNo, std::uint8_t Command, std::uint8_t LogNo,
                   std::string_view Payload, std::string_view Block);
  // Sends (or keeps, for a deferred reply) the reply owed in WaitRes. The SET's owner gets
  // it only while the connection that asked holds the SET, and the SET's pending command is
  // done only when it is the one the reply answers; the monitor SET's copy always goes.
  void AnswerCurrentExchange(ClientSender& server, std::uint8_t ErrorCode);
  // The SET whose pending command is the one the owed reply answers; null when nothing is
  // owed, or when that command was cancelled or given back since.
  TSetDescr* PendingOwedRequest();
  // A number never given out before (in this run of the program), for connections and
  // requests.
  std::uint64_t NewSerial() { return ++lastSerial_; }

  // A command or answer of `length` characters goes out whole on the line at its speed
  // (without a polling thread nothing goes out, and nothing is refused).
  static bool FitsTheLine(const PollingControl* poller, std::size_t length);

  // Nothing is sent to client 0; a failing send is ignored (the socket server closes a
  // connection that fails and reports it as a disconnect).
  static void SendToClient(ClientSender& server, int clientId, std::string_view message);
  static void SendToSubscribers(ClientSender& server, const TEcr& ecr, std::string_view message);
  // Removes the first entry of clientId from the register's subscriber queue (the entries
  // behind it move up, the freed last place becomes 0); false when it has none.
  static bool LeaveQueue(TEcr& ecr, int clientId);
  // Removes every entry of clientId: its slot number goes to the next connection, which
  // must not inherit them.
  static void LeaveQueueWholly(TEcr& ecr, int clientId);
  // To the owner of SET setNo of register logNo (1..14; other numbers send nothing).
  void SendToSetOwner(ClientSender& server, int logNo, int setNo, std::string_view message);

  // The use count of working SETs that keeps a register on the poll list. poller may be
  // null (service not running): the count still changes. When polling starts again, the
  // polling thread's wait (if any) is cancelled and no OnLine exchange is open any more.
  void EcrUseInc(PollingControl* poller, int ecr);
  void EcrUseDec(PollingControl* poller, int ecr);

  bool IsRepeatedBlock(int ecr, std::string_view block);

  std::int32_t EcrNotifyId(int ecr);
  std::int32_t NewEcrNotifyId(int ecr);
  // After 65535 the sequence goes on with 1, the value every new id starts with.
  std::uint16_t NextEcrSequence(int ecr);
  std::uint16_t CurrentEcrSequence(int ecr) const;

  // One line to the program's log.
  void Log(const std::string& text) const {
    if (log_) log_(text);
  }
  const EngineLog& Logger() const { return log_; }

 private:
  std::int32_t TakeNextNotifyId();

  ServerSettings& settings_;
  SettingsSaver& saver_;
  EngineLog log_;
  // Not reset with the table: a number stays unique across stops of the service.
  std::uint64_t lastSerial_ = 0;
  // Of the slots whose connection has taken a SET; a stop of the service closes them all.
  std::unordered_map<int, std::uint64_t> connections_;
};

}  // namespace ecr
