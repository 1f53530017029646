#include "foundation/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "platform/program_path.h"
#include "tests/support/temp_dir.h"
#include "tests/text_client/file_size_limit.h"

namespace ecr {
namespace {

class EcrBoom : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class LogFileTest : public ::testing::Test {
 protected:
  static std::string Read(const std::string& path) { return ReadWholeFile(path); }
  static void WriteBytes(const std::string& path, std::size_t count, char fill = 'x') {
    std::ofstream(path, std::ios::binary) << std::string(count, fill);
  }

  const TempDir dir_;
  const std::filesystem::path folder_ = dir_.Path();
  const std::string path_ = dir_.File("harbendix.log");
};

// Splits one line as the log writes it - time stamp, blank, module name, ": ", text,
// CR LF - into its time stamp and text; false when the line has another form.
bool SplitLine(const std::string& line, std::string& stamp, std::string& text,
               const std::string& module = "harbendix") {
  // " 9.12.2026 08:42:40": a digit or a blank, then digits at every place but the separators.
  static const std::string kStampForm = "#D.DD.DDDD DD:DD:DD";
  const std::string prefix = " " + module + ": ";
  if (line.size() < kStampForm.size() + prefix.size() + 2) return false;
  for (std::size_t i = 0; i < kStampForm.size(); ++i) {
    const char c = line[i];
    const bool digit = c >= '0' && c <= '9';
    const char form = kStampForm[i];
    if ((form == 'D' && !digit) || (form == '#' && !digit && c != ' ') || (form != 'D' && form != '#' && c != form))
      return false;
  }
  if (line.compare(kStampForm.size(), prefix.size(), prefix) != 0) return false;
  if (line.compare(line.size() - 2, 2, "\r\n") != 0) return false;
  stamp = line.substr(0, kStampForm.size());
  text = line.substr(kStampForm.size() + prefix.size(), line.size() - 2 - kStampForm.size() - prefix.size());
  return true;
}

// The lines of a log's content, each with its CR LF.
std::vector<std::string> LinesOf(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < content.size()) {
    auto end = content.find("\r\n", at);
    end = end == std::string::npos ? content.size() : end + 2;
    lines.push_back(content.substr(at, end - at));
    at = end;
  }
  return lines;
}

TEST(LogTimestamp, PadsTheDayWithABlankAndTheOtherFieldsWithZeros) {
  struct Case {
    LocalTime when;
    const char* expected;
  };
  const Case cases[] = {
      {{2026, 12, 9, 8, 42, 40}, " 9.12.2026 08:42:40"},
      {{2027, 1, 31, 23, 5, 9}, "31.01.2027 23:05:09"},
      {{2030, 7, 1, 0, 0, 0}, " 1.07.2030 00:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogTimestamp(c.when), c.expected);
}

TEST_F(LogFileTest, WritesOneTimeStampedLinePerCall) {
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  const std::string before = LogTimestamp();
  ASSERT_EQ(log.Write("Service started"), LogResult::Done);
  const std::string after = LogTimestamp();
  ASSERT_EQ(log.Write(""), LogResult::Done);
  const std::string content = Read(path_);
  const auto lines = LinesOf(content);
  ASSERT_EQ(lines.size(), 2u);
  std::string stamp, text;
  ASSERT_TRUE(SplitLine(lines[0], stamp, text)) << lines[0];
  EXPECT_TRUE(stamp == before || stamp == after) << stamp;
  EXPECT_EQ(text, "Service started");
  ASSERT_TRUE(SplitLine(lines[1], stamp, text)) << lines[1];
  EXPECT_EQ(text, "");
  EXPECT_EQ(log.SizeCounter(), static_cast<std::int32_t>(content.size()));
}

TEST_F(LogFileTest, TheModuleNameIsTheFileNameCutBeforeItsFirstDot) {
  LogFile log((folder_ / "a.b.log").string());
  EXPECT_EQ(log.ModuleName(), "a");
  EXPECT_EQ(log.RotatedPath(), (folder_ / "a.b.LO0").string());
  ASSERT_EQ(log.Open(), LogResult::Done);
  ASSERT_EQ(log.Write("x"), LogResult::Done);
  EXPECT_NE(Read(log.Path()).find(" a: x\r\n"), std::string::npos);
}

TEST_F(LogFileTest, AppendsToAnExistingLogWhoseSizeCountsFromTheFirstLine) {
  std::ofstream(path_, std::ios::binary) << "earlier line\r\n";
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  EXPECT_EQ(log.SizeCounter(), 14);
  ASSERT_EQ(log.Write("next"), LogResult::Done);
  const std::string content = Read(path_);
  EXPECT_EQ(content.rfind("earlier line\r\n", 0), 0u);
  EXPECT_EQ(log.SizeCounter(), static_cast<std::int32_t>(content.size()));
}

TEST_F(LogFileTest, AFullLogMovesToLO0BeforeTheNextLine) {
  WriteBytes(path_, LogFile::kSizeLimit);
  WriteBytes((folder_ / "harbendix.LO0").string(), 10, 'o');  // an older generation goes
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  ASSERT_EQ(log.Write("first of the new log"), LogResult::Done);
  EXPECT_EQ(std::filesystem::file_size(log.RotatedPath()), static_cast<std::uintmax_t>(LogFile::kSizeLimit));
  const std::string content = Read(path_);
  std::string stamp, text;
  ASSERT_TRUE(SplitLine(content, stamp, text)) << content.size();
  EXPECT_EQ(text, "first of the new log");
  EXPECT_EQ(log.SizeCounter(), static_cast<std::int32_t>(content.size()));
}

TEST_F(LogFileTest, ALogJustBelowTheLimitGrowsByOneLineThenRotates) {
  WriteBytes(path_, LogFile::kSizeLimit - 1);
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  ASSERT_EQ(log.Write("over the limit"), LogResult::Done);
  EXPECT_FALSE(std::filesystem::exists(log.RotatedPath()));
  EXPECT_GT(std::filesystem::file_size(path_), static_cast<std::uintmax_t>(LogFile::kSizeLimit));
  ASSERT_EQ(log.Write("new log"), LogResult::Done);
  EXPECT_TRUE(std::filesystem::exists(log.RotatedPath()));
  EXPECT_NE(Read(log.RotatedPath()).find("over the limit\r\n"), std::string::npos);
  EXPECT_NE(Read(path_).find("new log\r\n"), std::string::npos);
}

TEST_F(LogFileTest, ALogThatCannotBeMovedAsideKeepsEveryLineAndTriesAgain) {
  // ".LO0" is a folder with content: the old generation cannot be deleted, so the log
  // stays where it is, full.
  const std::filesystem::path rotated = folder_ / "harbendix.LO0";
  std::filesystem::create_directories(rotated / "in the way");
  struct Case {
    const char* what;
    std::uintmax_t size;  // made sparse: the bytes cost nothing
  };
  const Case cases[] = {
      {"at the limit", static_cast<std::uintmax_t>(LogFile::kSizeLimit)},
      {"beyond what the counter holds", std::uintmax_t{3} << 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(path_, std::ios::binary | std::ios::trunc).close();
    std::filesystem::resize_file(path_, c.size);
    LogFile log(path_);
    ASSERT_EQ(log.Open(), LogResult::Done);
    for (const char* text : {"kept 1", "kept 2"}) {
      const std::uintmax_t before = std::filesystem::file_size(path_);
      ASSERT_EQ(log.Write(text), LogResult::Done);
      const std::uintmax_t after = std::filesystem::file_size(path_);
      ASSERT_GT(after, before);
      std::ifstream in(path_, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(before));
      std::string line(after - before, '\0');
      in.read(line.data(), static_cast<std::streamsize>(line.size()));
      std::string stamp, written;
      ASSERT_TRUE(SplitLine(line, stamp, written)) << line;
      EXPECT_EQ(written, text);
      // Still at or past the limit, never wrapped: the next line tries the move again.
      EXPECT_GE(log.SizeCounter(), LogFile::kSizeLimit);
    }
    EXPECT_TRUE(std::filesystem::is_directory(rotated));
  }
}

TEST_F(LogFileTest, ARotationWhoseNewLogCannotBeOpenedLeavesTheLogClosedForGood) {
  // The log's folder is taken away while the log is open and full: the log can be neither
  // moved aside nor begun again.
  const std::filesystem::path logs = folder_ / "logs";
  const std::filesystem::path moved = folder_ / "moved";
  std::filesystem::create_directory(logs);
  const std::string path = (logs / "harbendix.log").string();
  std::ofstream(path, std::ios::binary).close();
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(LogFile::kSizeLimit));
  LogFile log(path);
  ASSERT_EQ(log.Open(), LogResult::Done);
  std::filesystem::rename(logs, moved);

  EXPECT_EQ(log.Write("triggers the rotation"), LogResult::WriteFailed);
  EXPECT_FALSE(log.IsOpen());
  // The folder comes back: nothing opens the log again for the rest of the run.
  std::filesystem::create_directory(logs);
  EXPECT_EQ(log.Write("later"), LogResult::NotOpen);
  EXPECT_EQ(log.Write("later still"), LogResult::NotOpen);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(path));
  // The old log is whole and got no line.
  EXPECT_EQ(std::filesystem::file_size(moved / "harbendix.log"), static_cast<std::uintmax_t>(LogFile::kSizeLimit));
  EXPECT_FALSE(std::filesystem::exists(moved / "harbendix.LO0"));
}

TEST_F(LogFileTest, ResultCodes) {
  LogFile log(path_);
  EXPECT_EQ(log.Write("closed"), LogResult::NotOpen);
  EXPECT_EQ(log.Close(), LogResult::NotOpen);
  EXPECT_EQ(log.Open(), LogResult::Done);
  EXPECT_EQ(log.Open(), LogResult::AlreadyOpen);
  EXPECT_EQ(log.Close(), LogResult::Done);
  EXPECT_FALSE(log.IsOpen());

  EXPECT_EQ(LogFile("").Open(), LogResult::NoFileName);
  EXPECT_EQ(LogFile((folder_ / "no" / "such" / "x.log").string()).Open(), LogResult::CannotOpen);

  LogFile full("/dev/full");  // every write fails with "no space left"
  ASSERT_EQ(full.Open(), LogResult::Done);
  EXPECT_EQ(full.Write("lost"), LogResult::WriteFailed);
  EXPECT_EQ(full.SizeCounter(), 0);
}

// A full disk cuts a line short: the fragment goes again, so the next line, once there is
// room, starts a line of its own instead of being glued to it.
TEST_F(LogFileTest, ALineCutShortByAFullDiskLeavesNoFragment) {
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  ASSERT_EQ(log.Write("first"), LogResult::Done);
  const auto sizeBefore = std::filesystem::file_size(path_);
  for (const std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{20}}) {
    SCOPED_TRACE(room);
    {
      const testing_support::FileSizeLimit full(static_cast<rlim_t>(sizeBefore + room));
      EXPECT_EQ(log.Write("a line longer than the room that is left on the disk"), LogResult::WriteFailed);
    }
    EXPECT_EQ(std::filesystem::file_size(path_), sizeBefore);
    EXPECT_EQ(log.SizeCounter(), static_cast<std::int32_t>(sizeBefore));
  }
  ASSERT_EQ(log.Write("next"), LogResult::Done);
  const std::vector<std::string> lines = LinesOf(Read(path_));
  ASSERT_EQ(lines.size(), 2u) << Read(path_);
  std::string stamp, text;
  ASSERT_TRUE(SplitLine(lines[0], stamp, text));
  EXPECT_EQ(text, "first");
  ASSERT_TRUE(SplitLine(lines[1], stamp, text)) << lines[1];
  EXPECT_EQ(text, "next");
}

TEST_F(LogFileTest, TheMaskFiltersOnlyLinesWithALevel) {
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  struct Case {
    std::uint8_t mask, level;
    LogResult expected;
  };
  const Case cases[] = {
      {0x00, 0x00, LogResult::Done},     {0x01, 0x00, LogResult::Done},     {0x00, 0x01, LogResult::Filtered},
      {0x01, 0x02, LogResult::Filtered}, {0x01, 0x03, LogResult::Done},     {0xFF, 0x80, LogResult::Done},
  };
  for (const auto& c : cases) {
    log.SetMask(LogLevels(c.mask));
    const std::int32_t before = log.SizeCounter();
    EXPECT_EQ(log.Write("masked", LogLevels(c.level)), c.expected) << int(c.mask) << "/" << int(c.level);
    EXPECT_EQ(log.SizeCounter() == before, c.expected == LogResult::Filtered);
  }
}

TEST_F(LogFileTest, AnExceptionSpansThreePhysicalLines) {
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  ASSERT_EQ(log.WriteException("TPolThread.Execute", EcrBoom("line lost"), ""), LogResult::Done);
  ASSERT_EQ(log.WriteException("Load", std::runtime_error("bad"), "while loading"), LogResult::Done);
  const auto lines = LinesOf(Read(path_));
  ASSERT_EQ(lines.size(), 6u);
  std::string stamp, text;
  ASSERT_TRUE(SplitLine(lines[0], stamp, text)) << lines[0];
  EXPECT_EQ(text, "EXCEPTION in TPolThread.Execute - EcrBoom:");
  EXPECT_EQ(lines[1], "line lost\r\n");
  EXPECT_EQ(lines[2], "\r\n");
  ASSERT_TRUE(SplitLine(lines[3], stamp, text)) << lines[3];
  EXPECT_EQ(text, "EXCEPTION in Load - runtime_error:");
  EXPECT_EQ(lines[4], "bad\r\n");
  EXPECT_EQ(lines[5], "while loading\r\n");
}

TEST_F(LogFileTest, LinesFromManyThreadsNeverInterleaveNorGetLostInTheRotation) {
  // Close enough to the limit that the log is moved aside while the threads write.
  const std::string oldLines(static_cast<std::size_t>(LogFile::kSizeLimit) - 20'000, 'x');
  std::ofstream(path_, std::ios::binary) << oldLines << "\r\n";
  LogFile log(path_);
  ASSERT_EQ(log.Open(), LogResult::Done);
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&log, t] {
        const std::string filler(40, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) {
          log.Write("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + filler);
        }
      });
    }
  }
  const std::string content = Read(path_);
  std::vector<std::string> lines = LinesOf(Read(log.RotatedPath()));
  ASSERT_FALSE(lines.empty()) << "the log was not moved aside";
  EXPECT_TRUE(lines.front() == oldLines + "\r\n") << "the old lines open the moved log";
  lines.erase(lines.begin());
  for (std::string& line : LinesOf(content)) lines.push_back(std::move(line));
  std::set<std::string> texts;
  for (const std::string& line : lines) {
    std::string stamp, text;
    ASSERT_TRUE(SplitLine(line, stamp, text)) << line;
    EXPECT_TRUE(texts.insert(text).second) << "line written twice: " << text;
  }
  EXPECT_EQ(texts.size(), static_cast<std::size_t>(kThreads * kLines));
  EXPECT_EQ(log.SizeCounter(), static_cast<std::int32_t>(content.size()));
}

TEST(ProcessLog, LivesBesideTheProgram) {
  EXPECT_EQ(ProcessLog().Path(), ProgramSidePath(".log"));
  EXPECT_EQ(ProcessLog().ModuleName(), "foundation_log_file_test");
  const std::string text = "process log check " + std::to_string(::getpid());
  ASSERT_EQ(LogWrite(text), LogResult::Done);
  SetLogMask(LogLevels(0x01));
  EXPECT_EQ(LogMask(), LogLevels(0x01));
  EXPECT_EQ(LogWrite("filtered", LogLevels(0x02)), LogResult::Filtered);
  SetLogMask({});
  EXPECT_NE(ReadWholeFile(ProcessLog().Path()).find(" foundation_log_file_test: " + text + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace ecr
