#pragma once
// A controller link found on COM1, which the registry stand-in of the test maps onto a
// controller emulator's pseudo-terminal, with every event of the link recorded as a line of
// text ("EcrInLine 3 <block> 0", "Error 3 151 4").

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/log_file.h"
#include "netcontroller/link/net_controller.h"
#include "platform/tick_count.h"
#include "tests/platform/registry_test_folder.h"
#include "tests/support/controller_emulator.h"

namespace ecr::test {

using namespace std::chrono_literals;

class EventRecord {
 public:
  void Add(std::string line) {
    const std::lock_guard lock(lock_);
    lines_.push_back(std::move(line));
    changed_.notify_all();
  }
  std::vector<std::string> Lines() const {
    const std::lock_guard lock(lock_);
    return lines_;
  }
  void Clear() {
    const std::lock_guard lock(lock_);
    lines_.clear();
  }
  bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count; });
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
};

inline void RecordEvents(TNetController& controller, EventRecord& record) {
  const auto block = [&record](const char* name) {
    return [&record, name](TNetController&, int ecr, const std::string& blk, std::uint8_t errC) {
      record.Add(std::string(name) + " " + std::to_string(ecr) + " " + blk + " " + std::to_string(errC));
    };
  };
  const auto notify = [&record](const char* name) {
    return [&record, name](TNetController&, int ecr, std::uint8_t errC) {
      record.Add(std::string(name) + " " + std::to_string(ecr) + " " + std::to_string(errC));
    };
  };
  controller.OnEcrInLine = block("EcrInLine");
  controller.OnInlReceived = block("InlReceived");
  controller.OnOnlReceived = block("OnlReceived");
  controller.OnInlSended = notify("InlSended");
  controller.OnOnlSended = notify("OnlSended");
  controller.OnError = [&record](TNetController&, int ecr, std::uint8_t errC, int extErr) {
    record.Add("Error " + std::to_string(ecr) + " " + std::to_string(errC) + " " + std::to_string(extErr));
  };
}

// For state of the link, which signals nobody: re-tested every 5 ms until it holds or the
// time is up.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Points COMn at a device path in the test's own registry tree.
inline void MapPort(const RegistryTestFolder& folder, int n, const std::string& device) {
  folder.AddDeviceKey("Enum/Test/port" + std::to_string(n), "COM" + std::to_string(n), device);
}

class NcLinkTest : public ::testing::Test {
 protected:
  NcLinkTest() : environment_("ECR_REGISTRY", folder_.RegistryRoot().c_str()) {
    std::filesystem::create_directories(folder_.Machine() / "Enum");
  }

  void SetUp() override {
    MapPort(folder_, 1, nc_.PortPath());
    log_.Open();
    controller_.SetLog(log_);
    // The reports' waits run on a clock the test moves on (MoveClock) instead of waiting.
    controller_.SetClock([this] { return TickCount() + clock_offset_.load(); });
    AssignEvents();
    controller_.FindController();
    ASSERT_EQ(controller_.Com(), 1);
    ASSERT_TRUE(nc_.WaitForCommands("MASK 0000", 1, 5s));
    nc_.ClearRecord();
  }

  // The controller's events are assigned here, before the search starts the reader thread
  // that raises them; a fixture that needs other handlers overrides this.
  virtual void AssignEvents() { RecordEvents(controller_, events_); }

  // The reports' clock jumps `ms` ahead; the reader sees it within its next pass.
  void MoveClock(std::uint32_t ms) { clock_offset_ += ms; }

  std::string LogText() const { return RegistryTestFolder::ReadFile(LogPath()); }
  std::filesystem::path LogPath() const { return folder_.Folder() / "link.log"; }

  RegistryTestFolder folder_;
  SavedEnvironment environment_;
  ControllerEmulator nc_;
  LogFile log_{(folder_.Folder() / "link.log").string()};
  EventRecord events_;
  std::atomic<std::uint32_t> clock_offset_{0};
  TNetController controller_;
};

}  // namespace ecr::test
