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

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/register_emulator.h"
#include "tests/support/asking_register.h"

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

  // Signals are taken through a descriptor, before any thread starts, so every thread
  // inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

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

  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(emulator.PortPath().c_str(), link.c_str()) != 0) {
      std::cerr << "cannot create the link " << link << "\n";
      link.clear();
    }
  }
  {
    const std::lock_guard lock(printLock);
    std::cout << "Registers on " << emulator.PortPath() << (link.empty() ? "" : " (" + link + ")") << std::endl;
  }

  AskingRegisters asking(emulator);
  bool readStdin = true;
  std::string pending;
  for (;;) {
    pollfd entries[2] = {{signalFd, POLLIN, 0}, {readStdin ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(entries, 2, -1) < 0) continue;
    if (entries[0].revents != 0) break;
    if (entries[1].revents == 0) continue;
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      readStdin = false;  // without input the registers play on until a signal
      continue;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string_view line = std::string_view(pending).substr(0, end);
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
    }
  }
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}
