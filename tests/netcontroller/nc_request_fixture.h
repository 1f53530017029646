#pragma once
// The network-controller server's request processing driven directly: the controller
// commands and the replies to clients recorded as text, a real log and a real settings store
// in a temporary folder, and a clock the test moves by hand. NcRequestRig is one such set-up
// (a test may make as many as it needs), NcRequestTest the fixture with one.
//
//   Open(5, 1, 2);                          // client 5 opens SET 1 of register 2
//   engine.HandleOnlineBlock(2, "77;9;1;x;y;5;");
//   EXPECT_EQ(Replies(), Lines{"to 5: 1/129/2 err 0 [77;9;x;y;5;1;1;]"});
//   EXPECT_EQ(Commands(), Lines{});

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/log_file.h"
#include "foundation/settings_store.h"
#include "netcontroller/nc_message_header.h"
#include "netcontroller/requests/controller_commands.h"
#include "netcontroller/requests/nc_request_engine.h"
#include "netcontroller/server/nc_server_settings.h"
#include "server/client_sender.h"
#include "tests/support/temp_dir.h"

namespace ecr::test {

using Lines = std::vector<std::string>;

// The controller commands as "MASK+ 3", "MASK- 3", "START", "STOP", "RESET", "ONL <text>",
// "INL <text>", and "FORGET 3 ONL" / "FORGET 3 INL" for a report given up by the request
// processing; a reset of one register's exchange is a "RESET" too. The link's refusals and
// the report that raised an event are played by the members below.
class RecordingCommands : public nc::ControllerCommands {
 public:
  bool AddEcr(int ecr) override {
    Record("MASK+ " + std::to_string(ecr));
    return true;
  }
  bool RemoveEcr(int ecr) override {
    Record("MASK- " + std::to_string(ecr));
    return true;
  }
  void SendStart() override { Record("START"); }
  void SendStop() override { Record("STOP"); }
  int SendReset() override {
    Record("RESET");
    if (onReset) onReset();
    return 0;
  }
  bool ResetExchangeOf(int /*ecr*/) override {
    SendReset();
    return true;
  }
  int SendOnlAnswer(int /*ecr*/, std::string_view text) override {
    Record("ONL " + std::string(text));
    return onlResult;
  }
  // As the link: more than 120 bytes are refused with 18 and nothing is sent.
  int SendInlData(int /*ecr*/, std::string_view text) override {
    if (text.size() > 120) return 18;
    Record("INL " + std::string(text));
    return inlResult;
  }
  void ReportHandled() override { reportInHand = 0; }
  std::uint8_t ReportInHand() override { return reportInHand; }
  void ForgetReport(int ecr, std::uint8_t code) override {
    Record("FORGET " + std::to_string(ecr) + (code == nc::kOnLineReportCode ? " ONL" : " INL"));
  }

  Lines Take() {
    const std::lock_guard guard(lock_);
    return std::exchange(lines_, {});
  }

  // What SendOnlAnswer and SendInlData return (101: the link holds no block of the register
  // to answer; 102: it awaits another report).
  int onlResult = 0;
  int inlResult = 0;
  // Runs inside every reset, still within the engine's lock.
  std::function<void()> onReset;
  // The end byte of the report whose event the engine handles next (0x0D, 0x14), 0 for
  // none; the engine's ReportHandled clears it.
  std::uint8_t reportInHand = 0;

 private:
  void Record(std::string line) {
    const std::lock_guard guard(lock_);
    lines_.push_back(std::move(line));
  }
  std::mutex lock_;
  Lines lines_;
};

// One reply as a client receives it.
struct SentReply {
  int Client = 0;
  int SetNo = 0;
  int Command = 0;
  int BlockLen = 0;
  int LogNo = 0;
  int ErrorCode = 0;
  std::string Payload;

  // "to 5: 1/4/2 err 0 [payload]" (SetNo/Command/LogNo).
  std::string Text() const {
    return "to " + std::to_string(Client) + ": " + std::to_string(SetNo) + "/" + std::to_string(Command) + "/" +
           std::to_string(LogNo) + " err " + std::to_string(ErrorCode) + (BlockLen != 0 ? " BLOCK" : "") + " [" +
           Payload + "]";
  }
};

class RecordingClients : public ClientSender {
 public:
  void SendData(std::uint16_t ID, std::string_view Data) override {
    const nc::RequestHeader header = nc::UnpackRequestHeader(Data);
    const std::lock_guard guard(lock_);
    sent_.push_back({ID, header.SetNo, header.Command, header.BlockLen, header.LogNo, header.Fifth, header.Body});
  }
  std::vector<SentReply> Take() {
    const std::lock_guard guard(lock_);
    return std::exchange(sent_, {});
  }

 private:
  std::mutex lock_;
  std::vector<SentReply> sent_;
};

// A client request: SetNo, Command, BlockLen, LogNo, 0, then the Payload.
inline std::string Request(int setNo, int command, int logNo, std::string_view payload = {}, int blockLen = 0) {
  std::string message;
  message += static_cast<char>(setNo);
  message += static_cast<char>(command);
  message += static_cast<char>(blockLen);
  message += static_cast<char>(logNo);
  message += '\0';
  message += payload;
  return message;
}

class NcRequestRig {
 public:
  NcRequestRig() { log.Open(); }
  NcRequestRig(const NcRequestRig&) = delete;
  NcRequestRig& operator=(const NcRequestRig&) = delete;

  void Send(int client, int setNo, int command, int logNo, std::string_view payload = {}) {
    engine.HandleClientMessage(static_cast<std::int16_t>(client), Request(setNo, command, logNo, payload));
  }
  // Opens a SET (password field from `password`) and forgets what that sent.
  void Open(int client, int setNo, int logNo, const std::string& password = "") {
    Send(client, setNo, 1, logNo, password.empty() ? "" : password + ";");
    Clear();
  }
  void Clear() {
    clients.Take();
    commands.Take();
  }

  Lines Replies() {
    Lines lines;
    for (const SentReply& reply : clients.Take()) lines.push_back(reply.Text());
    return lines;
  }
  Lines Commands() { return commands.Take(); }
  std::string LogText() const { return ReadWholeFile(dir.Path() / "lontaros.log"); }

  void SetCounters(int ecr, int sequence, int notifyId) {
    engine.WithSettings([&](nc::NcServerSettings& record) {
      record.Ecr(ecr).Sequence = static_cast<std::uint16_t>(sequence);
      record.Ecr(ecr).NotifyId = notifyId;
    });
  }
  nc::NcEcrSettings Counters(int ecr) {
    nc::NcEcrSettings copy;
    engine.WithSettings([&](nc::NcServerSettings& record) { copy = record.Ecr(ecr); });
    return copy;
  }
  nc::SetSlot Slot(int ecr, int setNo) { return engine.SessionSnapshot(ecr).Slot(setNo); }

  TempDir dir;
  LogFile log{dir.File("lontaros.log")};
  nc::NcServerSettings settings;
  TCodeStru store{dir.File("lontaros.STG"), settings};
  int saves = 0;
  std::uint32_t now = 1'000'000;
  RecordingCommands commands;
  RecordingClients clients;
  nc::NcRequestEngine engine{nc::NcRequestEngineParts{clients, commands, settings,
                                                      [this] {
                                                        ++saves;
                                                        store.Save();
                                                      },
                                                      log, [this] { return now; }}};
};

class NcRequestTest : public ::testing::Test, public NcRequestRig {};

}  // namespace ecr::test
