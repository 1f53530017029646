// The toolkit's platform, chosen before the application object: a start that can reach
// no display (cron, ssh, a service) runs offscreen instead of being ended by the toolkit.
#include "foundation/widgets/toolkit_platform.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/registry_test_folder.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

// A listening stream socket at `path`, as a Wayland compositor has one.
class ListeningSocket {
 public:
  explicit ListeningSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    EXPECT_EQ(::listen(fd_, 4), 0);
  }
  ~ListeningSocket() { ::close(fd_); }
  ListeningSocket(const ListeningSocket&) = delete;
  ListeningSocket& operator=(const ListeningSocket&) = delete;

 private:
  int fd_;
};

TEST(ToolkitPlatform, WithoutADisplayThatAnswersTheProgramRunsOffscreen) {
  const TempDir folder;
  const std::string runtime = folder.Path().string();
  const ListeningSocket compositor(runtime + "/wayland-7");
  const std::string absent = runtime + "/wayland-9";
  struct Case {
    const char* what;
    const char* platform;  // QT_QPA_PLATFORM before
    const char* display;
    const char* waylandDisplay;
    std::vector<std::string> arguments;
    bool steered;
    const char* platformAfter;
  };
  const std::vector<Case> cases = {
      {"cron: no display at all", nullptr, nullptr, nullptr, {}, true, "offscreen"},
      {"empty display variables", "", "", "", {}, true, "offscreen"},
      {"an X display nobody serves", nullptr, ":4711", nullptr, {}, true, "offscreen"},
      {"a Wayland compositor that answers", nullptr, nullptr, "wayland-7", {}, true, "wayland;offscreen"},
      {"a Wayland socket by its path that nobody serves", nullptr, nullptr, absent.c_str(), {}, true, "offscreen"},
      {"the user's platform", "minimal", nullptr, nullptr, {}, false, "minimal"},
      {"the platform as an argument", nullptr, nullptr, nullptr, {"-platform", "minimal"}, false, nullptr},
      {"the platform as an argument with its value", nullptr, nullptr, nullptr, {"--platform=minimal"}, false,
       nullptr},
  };
  const test::SavedEnvironment platform("QT_QPA_PLATFORM"), display("DISPLAY"), wayland("WAYLAND_DISPLAY"),
      runtimeFolder("XDG_RUNTIME_DIR", runtime.c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform.Set(c.platform);
    display.Set(c.display);
    wayland.Set(c.waylandDisplay);
    std::vector<std::string> arguments{"program"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    EXPECT_EQ(SteerClearOfMissingDisplay(static_cast<int>(arguments.size()), argv.data()), c.steered);
    const char* after = std::getenv("QT_QPA_PLATFORM");
    EXPECT_EQ(after != nullptr ? std::optional<std::string>(after) : std::nullopt,
              c.platformAfter != nullptr ? std::optional<std::string>(c.platformAfter) : std::nullopt);
  }
}

TEST(ToolkitPlatform, DisplaysAnswerOnlyWhereSomebodyServes) {
  const TempDir folder;
  const std::string runtime = folder.Path().string();
  const ListeningSocket compositor(runtime + "/wayland-3");
  EXPECT_TRUE(WaylandDisplayAnswers("wayland-3", runtime.c_str()));
  EXPECT_TRUE(WaylandDisplayAnswers((runtime + "/wayland-3").c_str(), nullptr));
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-3", nullptr)) << "a name without a runtime folder";
  EXPECT_FALSE(WaylandDisplayAnswers("wayland-4", runtime.c_str()));
  EXPECT_FALSE(WaylandDisplayAnswers(nullptr, runtime.c_str()));
  EXPECT_FALSE(X11DisplayAnswers(nullptr));
  EXPECT_FALSE(X11DisplayAnswers(""));
  EXPECT_FALSE(X11DisplayAnswers(":4711"));
}

}  // namespace
}  // namespace ecr
