// Plays the network controller, with registers 1..16 behind it, on a pseudo-terminal for a
// person to watch, or for a demonstration to talk to. It answers the PC's commands as the
// controller does, prints the terminal's path, then one line for every command of the PC,
// every reply of the controller and every block a register sends. Lines typed on standard
// input make a register send a block.
//
//   controller_emulator [--link PATH]
//
//   --link PATH    also make PATH a symbolic link to the terminal (removed at exit)
//   stdin "N BLOCK"
//                  register N (1..16) sends BLOCK: a block of exactly 7 characters
//                  announces an InLine exchange, any other length is an OnLine block
//
// Runs until SIGINT or SIGTERM.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/console_lines.h"
#include "tests/support/controller_emulator.h"
#include "tests/support/printable_bytes.h"
#include "tests/support/terminal_link.h"

namespace {

using namespace std::chrono_literals;
using ecr::support::Printable;

constexpr std::uint8_t kFirstEcrCode = 0x81;
constexpr std::uint8_t kLastEcrCode = 0x90;
constexpr std::uint8_t kTextStart = 0x0A;

std::string EcrHead(int ecr) {
  char head[16];
  std::snprintf(head, sizeof head, "ECR %02d  ", ecr);
  return head;
}

// One frame of the controller: every byte up to the 0x00, its last three Code, Status, Ack.
struct ControllerFrame {
  std::string bytes;
  std::uint8_t Code() const { return static_cast<std::uint8_t>(bytes[bytes.size() - 4]); }
  std::uint8_t Status() const { return static_cast<std::uint8_t>(bytes[bytes.size() - 3]); }
  bool Acked() const { return static_cast<std::uint8_t>(bytes[bytes.size() - 2]) == ecr::ControllerEmulator::kAck; }
  bool IsEcrBlock() const { return bytes.size() >= 4 && Code() >= kFirstEcrCode && Code() <= kLastEcrCode; }
};

// Where the frame that starts at `at` ends (its 0x00), npos while it is incomplete. The
// identify reply is 12 bytes long and its flag byte, the seventh, is 0x00 when the
// controller asks for nothing: that byte does not end it.
std::size_t FrameEnd(const std::string& bytes, std::size_t at) {
  constexpr std::size_t kIdentifyLength = 12;
  constexpr std::size_t kFlagAt = 6;
  const std::size_t end = bytes.find('\0', at);
  if (end == std::string::npos) return end;
  const bool identify =
      bytes.size() >= at + kIdentifyLength && (end == at + kFlagAt || end == at + kIdentifyLength - 1) &&
      static_cast<std::uint8_t>(bytes[at + kIdentifyLength - 4]) == 0x0C && bytes[at + kIdentifyLength - 1] == '\0';
  return identify ? at + kIdentifyLength - 1 : end;
}

// The reply code that answers a command, from the command's first byte.
std::uint8_t ReplyCodeOf(const ecr::ControllerEmulator::TimedCommand& command) {
  const auto first = static_cast<std::uint8_t>(command.raw[0]);
  if (first != kTextStart) return first;
  return static_cast<std::uint8_t>(command.raw.back());  // 0D OnLine answer, 14 InLine data
}

std::string DescribeReply(const ControllerFrame& frame) {
  if (frame.bytes.size() < 4) return "NC      a short frame " + Printable(frame.bytes);
  std::string what;
  switch (frame.Code()) {
    case 0x01: what = "speed 4800"; break;
    case 0x02: what = "speed 9600"; break;
    case 0x07: what = "mask"; break;
    case 0x08: what = "start"; break;
    case 0x09: what = "stop"; break;
    case 0x0B: what = "reset"; break;
    case 0x0C: {
      const std::size_t idLength = std::min<std::size_t>(6, frame.bytes.size());
      what = "identify, identification \"" + Printable(frame.bytes.substr(0, idLength)) + "\"";
      break;
    }
    case 0x0D: what = "OnLine answer delivered to the register"; break;
    case 0x14: what = "InLine data delivered to the register"; break;
    default: what = "code " + std::to_string(frame.Code()); break;
  }
  return "NC      " + std::string(frame.Acked() ? "ACK " : "NAK ") + what + " (status " +
         std::to_string(frame.Status()) + ")";
}

std::string DescribeBlock(int ecr, std::string_view block) {
  return EcrHead(ecr) + (block.size() == 7 ? "announces an InLine exchange \"" : "sends \"") + Printable(block) +
         "\"";
}

// Prints what crosses the line in the order it crossed: each command of the PC with the
// controller's reply after it. Blocks that registers send are printed by the caller of
// SendBlock, which sends them; the controller's record of them is skipped here.
// Threads: Run on a thread of its own; SendBlock and Stop from any other.
class LinePrinter {
 public:
  explicit LinePrinter(ecr::ControllerEmulator& emulator) : emulator_(emulator) {}

  void Run() {
    while (!stop_.load()) {
      emulator_.WaitFor([this] { return stop_.load() || HasNews(); }, 500ms);
      const std::lock_guard lock(print_lock_);
      PrintNewsLocked();
    }
    const std::lock_guard lock(print_lock_);
    PrintNewsLocked();
  }
  void Stop() {
    stop_.store(true);
    // WaitFor re-tests its condition on every change of the emulator; the timeout bounds it.
  }
  void Print(const std::string& line) {
    const std::lock_guard lock(print_lock_);
    std::cout << line << std::endl;
  }
  void SendBlock(int ecr, const std::string& block) {
    const std::lock_guard lock(print_lock_);
    PrintNewsLocked();  // what came before the block is shown before it
    std::cout << DescribeBlock(ecr, block) << std::endl;
    last_ecr_ = ecr;
    emulator_.SendEcrBlock(ecr, block);
  }

 private:
  bool HasNews() const {
    return emulator_.SentBytes().size() > sent_seen_.load() ||
           emulator_.ReceivedTimedCommands().size() > commands_seen_.load();
  }

  // The sent record is read before the commands: the emulator records a command and its
  // reply at once, so every reply read here belongs to a command read after it.
  void PrintNewsLocked() {
    const std::string sent = emulator_.SentBytes();
    const std::vector<ecr::ControllerEmulator::TimedCommand> commands = emulator_.ReceivedTimedCommands();
    std::size_t at = sent_seen_.load();
    for (std::size_t end; (end = FrameEnd(sent, at)) != std::string::npos; at = end + 1) {
      ControllerFrame frame{sent.substr(at, end + 1 - at)};
      if (!frame.IsEcrBlock()) replies_.push_back(frame);
    }
    sent_seen_.store(at);
    for (std::size_t i = commands_seen_.load(); i < commands.size(); ++i) {
      std::cout << DescribeCommand(commands[i]) << std::endl;
      const bool answered = !replies_.empty() && replies_.front().bytes.size() >= 4 &&
                            replies_.front().Code() == ReplyCodeOf(commands[i]);
      if (answered) {
        std::cout << DescribeReply(replies_.front()) << std::endl;
        replies_.pop_front();
      }
    }
    commands_seen_.store(commands.size());
    for (const ControllerFrame& frame : replies_) std::cout << DescribeReply(frame) << std::endl;
    replies_.clear();
  }

  std::string DescribeCommand(const ecr::ControllerEmulator::TimedCommand& command) const {
    const auto first = static_cast<std::uint8_t>(command.raw[0]);
    if (first == kTextStart) {
      const std::string text = command.raw.substr(1, command.raw.size() - 2);
      const bool online = command.text.rfind("ONL ", 0) == 0;
      return "PC      " + std::string(online ? "OnLine answer" : "InLine data") + " for ECR " +
             std::to_string(last_ecr_) + " \"" + Printable(text) + "\"";
    }
    if (command.text == "SPEED4800" || command.text == "SPEED9600") return "PC      SPEED " + command.text.substr(5);
    if (command.text.rfind("MASK ", 0) == 0) return "PC      " + command.text + " (the registers it serves)";
    if (command.text == "IDENTIFY") return "PC      IDENTIFY (search or keep-alive)";
    return "PC      " + command.text;
  }

  ecr::ControllerEmulator& emulator_;
  std::atomic<bool> stop_{false};
  std::mutex print_lock_;
  // Written under print_lock_, read without it by HasNews.
  std::atomic<std::size_t> sent_seen_{0};
  std::atomic<std::size_t> commands_seen_{0};
  std::deque<ControllerFrame> replies_;  // under print_lock_
  int last_ecr_ = 0;                     // under print_lock_
};

// "N BLOCK" with N 1..16 and a block that is not empty.
bool ParseBlockLine(std::string_view line, int& ecr, std::string& block) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || space + 1 >= line.size()) return false;
  const auto [end, error] = std::from_chars(line.data(), line.data() + space, ecr);
  if (error != std::errc() || end != line.data() + space || ecr < 1 || ecr > 16) return false;
  block = std::string(line.substr(space + 1));
  return true;
}

int Usage() {
  std::cerr << "usage: controller_emulator [--link PATH]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--link" && i + 1 < argc) {
      link = argv[++i];
    } else {
      return Usage();
    }
  }

  std::optional<ecr::support::ConsoleLines> console;
  std::optional<ecr::ControllerEmulator> playing;
  try {
    console.emplace();  // before the emulator's threads start, so that they inherit its signal mask
    playing.emplace();
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  ecr::ControllerEmulator& emulator = *playing;
  const ecr::support::TerminalLink terminalLink(link, emulator.PortPath());
  LinePrinter printer(emulator);
  printer.Print("Controller on " + emulator.PortPath() +
                (terminalLink.Path().empty() ? "" : " (" + terminalLink.Path() + ")"));
  std::thread printing([&printer] { printer.Run(); });

  console->ReadUntilStopSignal([&printer](std::string_view line) {
    int ecr = 0;
    std::string block;
    if (ParseBlockLine(line, ecr, block)) {
      printer.SendBlock(ecr, block);
    } else {
      printer.Print("expected: N BLOCK, with N 1..16");
    }
  });
  printer.Stop();
  printing.join();
  return 0;
}
