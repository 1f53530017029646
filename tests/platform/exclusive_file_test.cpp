#include "platform/exclusive_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

class ExclusiveFileTest : public ::testing::Test {
 protected:
  // Runs `probe` in a child process and returns its exit code (bounded wait).
  template <typename Probe>
  int InChildProcess(Probe probe) {
    const pid_t child = fork();
    if (child == 0) _exit(probe());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const TempDir dir_;
  const std::string path_ = dir_.File("locked.STG");
};

TEST_F(ExclusiveFileTest, ASecondProcessCannotOpenTheFileWhileItIsHeld) {
  const auto probe = [this] {
    const ExclusiveFile second(path_, O_RDWR | O_CREAT);
    if (second.IsOpen()) return 1;
    return second.LastError() == EWOULDBLOCK ? 0 : 2;
  };
  {
    ExclusiveFile first(path_, O_RDWR | O_CREAT);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(InChildProcess(probe), 0);
  }
  // Released by the destructor: the other process now gets it.
  EXPECT_EQ(InChildProcess(probe), 1);
}

TEST_F(ExclusiveFileTest, ASecondOpenInTheSameProcessFailsToo) {
  ExclusiveFile first(path_, O_RDWR | O_CREAT);
  ASSERT_TRUE(first.IsOpen());
  const ExclusiveFile second(path_, O_RDWR | O_CREAT);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.LastError(), EWOULDBLOCK);
  EXPECT_TRUE(first.Close());
  const ExclusiveFile third(path_, O_RDWR);
  EXPECT_TRUE(third.IsOpen());
}

TEST_F(ExclusiveFileTest, AMissingFileWithoutCreateReportsTheOpenError) {
  const ExclusiveFile file(path_, O_RDWR);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.LastError(), ENOENT);
}

TEST_F(ExclusiveFileTest, MovingKeepsTheLockWithTheNewOwner) {
  ExclusiveFile first(path_, O_RDWR | O_CREAT);
  ExclusiveFile moved(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is defined
  ASSERT_TRUE(moved.IsOpen());
  EXPECT_FALSE(ExclusiveFile(path_, O_RDWR).IsOpen());
  ExclusiveFile assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(assigned.IsOpen());
  EXPECT_FALSE(ExclusiveFile(path_, O_RDWR).IsOpen());
  assigned = ExclusiveFile();
  EXPECT_TRUE(ExclusiveFile(path_, O_RDWR).IsOpen());
}

TEST_F(ExclusiveFileTest, IsAtTellsWhetherTheNameStillHoldsTheOpenFile) {
  const std::string other = dir_.File("other.STG");
  const std::string moved = dir_.File("moved.STG");
  ExclusiveFile file(path_, O_RDWR | O_CREAT);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.IsAt(path_));
  ASSERT_EQ(::close(::open(other.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)), 0);
  EXPECT_FALSE(file.IsAt(other));
  ASSERT_EQ(::rename(path_.c_str(), moved.c_str()), 0);
  EXPECT_FALSE(file.IsAt(path_));  // the name is gone
  EXPECT_TRUE(file.IsAt(moved));   // the file went with its new name
  ASSERT_EQ(::rename(other.c_str(), path_.c_str()), 0);
  EXPECT_FALSE(file.IsAt(path_));  // the name holds another file now
  EXPECT_FALSE(ExclusiveFile().IsAt(path_));
}

}  // namespace
}  // namespace ecr
