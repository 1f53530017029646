// Every window program opens its log when it starts, before anything else: a run that
// writes no line still leaves its (empty) log beside the program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;

struct Program {
  const char* name;
  const char* built;  // nullptr when the build has no such program
};

#ifdef ECR_HARBENDIX_PROGRAM
constexpr const char* kHarbendix = ECR_HARBENDIX_PROGRAM;
#else
constexpr const char* kHarbendix = nullptr;
#endif
#ifdef ECR_LONTAROS_PROGRAM
constexpr const char* kLontaros = ECR_LONTAROS_PROGRAM;
#else
constexpr const char* kLontaros = nullptr;
#endif
#ifdef ECR_WEXHAVEN_PROGRAM
constexpr const char* kWexhaven = ECR_WEXHAVEN_PROGRAM;
#else
constexpr const char* kWexhaven = nullptr;
#endif

TEST(ProgramLog, ARunThatWritesNoLineStillLeavesItsEmptyLog) {
  const Program programs[] = {{"harbendix", kHarbendix}, {"lontaros", kLontaros}, {"wexhaven", kWexhaven}};
  for (const Program& program : programs) {
    SCOPED_TRACE(program.name);
    if (program.built == nullptr) continue;  // built without the window programs
    const TempDir dir;
    const std::filesystem::path copy = dir.Path() / program.name;
    std::filesystem::copy_file(program.built, copy);
    // A close request that no running copy receives: the program says so and ends at once
    // with status 1, having written no line.
    ChildProcess process(copy.string(), {"-Q:nobody"},
                         {.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + dir.Path().string()},
                          .outputFile = dir.Path() / "output.txt"});
    ASSERT_EQ(process.WaitForExit(60s), 1) << ReadWholeFile(dir.Path() / "output.txt");
    EXPECT_NE(ReadWholeFile(dir.Path() / "output.txt").find("The close request reached no running copy.\n"),
              std::string::npos);
    const std::filesystem::path log = dir.Path() / (std::string(program.name) + ".log");
    ASSERT_TRUE(std::filesystem::exists(log));
    EXPECT_EQ(std::filesystem::file_size(log), 0u) << ReadWholeFile(log);
  }
}

}  // namespace
}  // namespace ecr
