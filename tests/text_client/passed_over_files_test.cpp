#include "text_client/passed_over_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "tests/text_client/temp_folder.h"

namespace ecr {
namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

class PassedOverFilesTest : public ::testing::Test {
protected:
    PassedOverFiles Open() {
        return PassedOverFiles(store_, [this](const std::string& text) { log_.push_back(text); });
    }
    // Passes `path` over, as it is now, in the store.
    void PassOver(PassedOverFiles& files, const std::string& path, PassedOverFiles::Reason reason) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        files.Add(fd, path, reason);
        ::close(fd);
    }

    TempFolder folder_;
    std::string store_ = folder_.Path() + "wexhaven.passed";
    std::vector<std::string> log_;
};

// The files passed over are known again by a new start, until the name no longer holds
// them unchanged: edited, moved away, or replaced by another file.
TEST_F(PassedOverFilesTest, KeptAcrossStartsUntilTheFileChangesOrGoes) {
    const std::string edited = folder_.Path() + "edited.inp";
    const std::string moved = folder_.Path() + "moved.inp";
    const std::string replaced = folder_.Path() + "replaced.inp";
    const std::string odd = folder_.Path() + "a\\b\nc.inp";  // kept whole in the store's lines
    for (const std::string& path : {edited, moved, replaced, odd}) WriteFile(path, "S,1,000001,0,Ok;x;\n");
    {
        PassedOverFiles files = Open();
        PassOver(files, edited, PassedOverFiles::Reason::NotRemoved);
        PassOver(files, moved, PassedOverFiles::Reason::NotSetAside);
        PassOver(files, replaced, PassedOverFiles::Reason::NotRemoved);
        PassOver(files, odd, PassedOverFiles::Reason::NotSetAside);
    }
    PassedOverFiles files = Open();
    ASSERT_EQ(files.Entries().size(), 4u);
    EXPECT_EQ(files.Entries()[3].path, odd);
    EXPECT_EQ(files.Entries()[1].reason, PassedOverFiles::Reason::NotSetAside);
    for (const std::string& path : {edited, moved, replaced, odd}) EXPECT_TRUE(files.Holds(path)) << path;
    EXPECT_EQ(PassedOverText(files.Entries()[0]), edited + " (finished, but it could not be removed)");
    EXPECT_EQ(PassedOverText(files.Entries()[1]), moved + " (set aside for a check, but it could not be moved)");

    WriteFile(edited, "S,1,000001,0,Ok;xy;\n");  // written anew in place
    std::filesystem::rename(moved, moved + ".checked");
    WriteFile(replaced + ".new", "S,1,______,_,__;y;\n");
    std::filesystem::rename(replaced + ".new", replaced);
    for (const std::string& path : {edited, moved, replaced}) EXPECT_FALSE(files.Holds(path)) << path;
    EXPECT_TRUE(files.Holds(odd));
    files.ForgetChanged();
    ASSERT_EQ(files.Entries().size(), 1u);
    EXPECT_EQ(log_.size(), 3u);
    EXPECT_EQ(Open().Entries().size(), 1u);  // saved

    std::filesystem::remove(odd);
    files.ForgetChanged();
    EXPECT_TRUE(files.Entries().empty());
    EXPECT_FALSE(std::filesystem::exists(store_)) << "an empty store is removed";
}

TEST_F(PassedOverFilesTest, DamagedLinesAreSkippedAndAStoreThatCannotBeWrittenIsLogged) {
    const std::string file = folder_.Path() + "day.inp";
    WriteFile(file, "x\n");
    WriteFile(store_, "not a line of the store\n1 2 3 4\n");
    {
        PassedOverFiles files = Open();
        EXPECT_TRUE(files.Entries().empty());
        EXPECT_EQ(log_.size(), 2u);
    }
    log_.clear();
    store_ = folder_.Path() + "missing/wexhaven.passed";
    PassedOverFiles files = Open();
    PassOver(files, file, PassedOverFiles::Reason::NotRemoved);
    EXPECT_TRUE(files.Holds(file)) << "passed over for this run all the same";
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].rfind("Cannot write " + store_, 0), 0u) << log_[0];
}

}  // namespace
}  // namespace ecr
