#pragma once
// A demonstration client's session with a server over TCP on 127.0.0.1: it sends client
// messages, waits for the ones it expects, and hands the emulator that plays its register
// "N BLOCK" lines through the emulator's input FIFO. Every message that crosses the
// connection is printed on standard output, one readable line each, as it goes. Calls
// block, each for at most the session's wait. One thread uses a session.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "server/client_message.h"

namespace ecr::support {

// A step of the session that did not get what it expects; the text says which.
struct DemoFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How a demonstration client is started:
//   PROGRAM --port P --register N --INPUT-OPTION PATH [--wait-seconds S]
struct DemoClientSettings {
  std::uint16_t port = 0;
  std::uint8_t logNo = 0;
  std::string emulatorInput;       // the FIFO the emulator reads "N BLOCK" lines from
  std::chrono::seconds wait{20};   // for the server to answer, and for each expected message
};

// nullopt when the arguments are not of that form or a value is out of range: port
// 1..65535, register 1..maxLogNo, wait 1..600 s.
std::optional<DemoClientSettings> ParseDemoClientSettings(int argc, char** argv, std::string_view inputOption,
                                                          int maxLogNo);

// What the session's failures call the emulator and the line it hands it:
// "cannot reach the <emulator> through PATH", "cannot hand the <emulator> <handed>".
struct EmulatorWords {
  std::string emulator;
  std::string handed;
};

class DemoSession {
 public:
  // The part of a received message's line after its address and before its payload: the
  // error byte and what the message means to this client.
  using Meaning = std::function<std::string(const ClientMessage&)>;

  // Connects, retrying for the wait since the server may still be starting; throws
  // DemoFailure when no server answers.
  DemoSession(const DemoClientSettings& settings, EmulatorWords words, Meaning meaning);
  ~DemoSession();
  DemoSession(const DemoSession&) = delete;
  DemoSession& operator=(const DemoSession&) = delete;

  std::uint8_t LogNo() const { return settings_.logNo; }

  // Sends a request for the session's register; meaning explains it in the printed line.
  void Send(std::uint8_t setNo, std::uint8_t command, std::string_view payload, std::string_view meaning);

  // Reads messages, printing each, until one satisfies wanted; throws "no <what> within
  // S s" after the wait, or when the server closes the connection.
  ClientMessage AwaitMessage(const std::function<bool(const ClientMessage&)>& wanted, const std::string& what);

  // Makes the emulated register send block; the caller prints what that means.
  void HandToEmulator(std::string_view block);

 private:
  std::optional<ClientMessage> NextMessage(std::chrono::steady_clock::time_point deadline);
  void Print(const ClientMessage& message) const;

  const DemoClientSettings settings_;
  const EmulatorWords words_;
  const Meaning meaning_;
  int fd_ = -1;
  std::string buffer_;
};

// Runs steps on a session made from settings and prints how it ended. Returns the exit
// code: 0 when every step got what it expects, 1 when one did not.
int RunDemoSession(const DemoClientSettings& settings, EmulatorWords words, DemoSession::Meaning meaning,
                   const std::function<void(DemoSession&)>& steps);

}  // namespace ecr::support
