// Plays registers on a pseudo-terminal for a person to watch, or for a demonstration to
// talk to. Prints the terminal's path, then one line for every frame the PC sends and every
// block a register sends. Lines typed on standard input queue OnLine messages, or make a
// register ask for its receipt lines from then on.
//
//   register_emulator [--pace BAUD] [--link PATH] [--status N:TEXT]... [--message N:TEXT]... N...
//
//   N               a logical number to play (1..99)
//   --status N:TEXT the status block of register N (at most 7 characters)
//   --message N:TEXT queue an OnLine message for register N
//   --pace BAUD     send the registers' bytes at BAUD bit/s
//   --link PATH     also make PATH a symbolic link to the terminal (removed at exit)
//   stdin "N TEXT"  queue the OnLine message TEXT for register N
//   stdin "ask N SERIAL"
//                   register N keeps asking for receipt lines with serial number SERIAL,
//                   numbering its messages on once an answer has arrived
//
// Runs until SIGINT or SIGTERM.

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/asking_register.h"
#include "tests/support/console_lines.h"
#include "tests/support/register_emulator.h"
#include "tests/support/terminal_link.h"

namespace {

struct NumberedText {
  int number = 0;
  std::string text;
};

bool ParseNumber(std::string_view text, int& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() && number >= 1 && number <= 99;
}

bool ParseNumberedText(std::string_view arg, char separator, NumberedText& out) {
  const std::size_t at = arg.find(separator);
  if (at == std::string_view::npos) return false;
  out.text = std::string(arg.substr(at + 1));
  return ParseNumber(arg.substr(0, at), out.number);
}

// Registers that ask for their receipt lines, each on a thread of its own; they stop and
// are joined before the emulator goes.
class AskingRegisters {
 public:
  explicit AskingRegisters(ecr::RegisterEmulator& emulator) : emulator_(emulator) {}
  ~AskingRegisters() {
    stop_.store(true);
    for (std::thread& thread : threads_) thread.join();
  }
  AskingRegisters(const AskingRegisters&) = delete;
  AskingRegisters& operator=(const AskingRegisters&) = delete;

  // False when the register asks already.
  bool Start(int number, const std::string& serial) {
    if (!numbers_.insert(number).second) return false;
    auto asking = std::make_unique<ecr::testing_support::AskingRegister>(emulator_, emulator_.AddRegister(number),
                                                                         serial);
    threads_.emplace_back([this, asking = std::move(asking)] {
      while (!stop_.load()) asking->AskUntil([this] { return stop_.load(); }, std::chrono::hours(1));
    });
    return true;
  }

 private:
  ecr::RegisterEmulator& emulator_;
  std::atomic<bool> stop_{false};
  std::set<int> numbers_;
  std::vector<std::thread> threads_;
};

// "ask N SERIAL"
bool ParseAsk(std::string_view line, NumberedText& out) {
  constexpr std::string_view kAsk = "ask ";
  if (line.substr(0, kAsk.size()) != kAsk) return false;
  return ParseNumberedText(line.substr(kAsk.size()), ' ', out) && !out.text.empty() &&
         out.text.find(';') == std::string::npos;
}

int Usage() {
  std::cerr << "usage: register_emulator [--pace BAUD] [--link PATH] [--status N:TEXT]... "
               "[--message N:TEXT]... N...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> numbers;
  std::vector<NumberedText> statuses;
  std::vector<NumberedText> messages;
  std::uint32_t pace = 0;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    NumberedText item;
    if (arg == "--pace" && hasValue) {
      pace = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--link" && hasValue) {
      link = argv[++i];
    } else if (arg == "--status" && hasValue && ParseNumberedText(argv[i + 1], ':', item)) {
      statuses.push_back(item);
      ++i;
    } else if (arg == "--message" && hasValue && ParseNumberedText(argv[i + 1], ':', item)) {
      messages.push_back(item);
      ++i;
    } else if (int number = 0; ParseNumber(arg, number)) {
      numbers.push_back(number);
    } else {
      return Usage();
    }
  }
  if (numbers.empty()) return Usage();

  std::optional<ecr::support::ConsoleLines> console;
  try {
    console.emplace();  // before the emulator's threads start, so that they inherit its signal mask
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }

  ecr::RegisterEmulator emulator;
  std::mutex printLock;
  emulator.SetTrace([&](const std::string& line) {
    const std::lock_guard lock(printLock);
    std::cout << line << std::endl;
  });
  emulator.SetPacing(pace);
  for (const int number : numbers) emulator.AddRegister(number);
  for (const NumberedText& s : statuses) emulator.AddRegister(s.number).SetStatus(s.text);
  for (const NumberedText& m : messages) emulator.AddRegister(m.number).QueueOnLineMessage(m.text);

  const ecr::support::TerminalLink terminalLink(link, emulator.PortPath());
  {
    const std::lock_guard lock(printLock);
    std::cout << "Registers on " << emulator.PortPath()
              << (terminalLink.Path().empty() ? "" : " (" + terminalLink.Path() + ")") << std::endl;
  }

  AskingRegisters asking(emulator);
  console->ReadUntilStopSignal([&](std::string_view line) {
    NumberedText item;
    if (ParseAsk(line, item)) {
      const bool started = asking.Start(item.number, item.text);
      const std::lock_guard lock(printLock);
      std::cout << "Register " << item.number
                << (started ? " asks for its receipt lines from now on" : " asks already") << std::endl;
    } else if (ParseNumberedText(line, ' ', item)) {
      emulator.AddRegister(item.number).QueueOnLineMessage(item.text);
    } else {
      const std::lock_guard lock(printLock);
      std::cout << "expected: N TEXT, or ask N SERIAL" << std::endl;
    }
  });
  return 0;
}
