#include "text_client/output_target.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/text_client/temp_folder.h"

namespace ecr {
namespace {

using testing_support::TempFolder;

TEST(OutputTarget, SameFolderAsTheFileSystemSeesIt) {
    TempFolder folder;
    const std::string in = folder.Sub("in");
    const std::string out = folder.Sub("out");
    std::filesystem::create_directory_symlink(in, folder.Path() + "in-link");
    struct Case {
        std::string first;
        std::string second;
        bool same;
    };
    const Case cases[] = {
        {in, in, true},
        {in, folder.Path() + "in", true},               // without the final "/"
        {in, in + "./", true},
        {in, out + "../in/", true},
        {in, folder.Path() + "in-link/", true},         // a symbolic link to it
        {in, folder.Path() + "IN/", false},             // letters of folders count as on disk
        {in, out, false},
        {in, folder.Path() + "gone/../in/", false},     // the system cannot walk through "gone"
        {in, folder.Path() + "gone/", false},           // only one of them exists
        {folder.Path() + "gone/", folder.Path() + "gone", true},  // neither: by their paths
        {folder.Path() + "gone/", out + "../gone/", true},
        {folder.Path() + "gone/", folder.Path() + "other/", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSameFolder(c.first, c.second), c.same) << c.first << " " << c.second;
        EXPECT_EQ(IsSameFolder(c.second, c.first), c.same) << c.second << " " << c.first;
    }
}

TEST(OutputTarget, OutputNamesInputFilesWhenTheSearchWouldFindThem) {
    TempFolder folder;
    const std::string in = folder.Sub("in");
    const std::string out = folder.Sub("out");
    struct Case {
        const char* action;
        const char* inputExt;
        const char* outputExt;
        bool sameFolder;
        bool refused;
    };
    const Case cases[] = {
        {"REPLACE", "INP", "OUT", true, false},   // the defaults
        {"REPLACE", "INP", "INP", true, true},
        {"REPLACE", "INP", "inp", true, true},    // extensions compared without regard to case
        {"APPEND", "INP", "Inp", true, true},
        {"UNIQUE", "INP", "INP", true, true},
        {"UNIQUE", "INP", "OUT", true, false},
        {"REPLACE", "IN?", "INX", true, true},    // the input extension is a pattern
        {"REPLACE", "*", "OUT", true, true},
        {"REPLACE", "A.B", "B", true, true},      // "x.A.B" gives "x.A.B" again
        {"REPLACE", "INP", "INP", false, false},  // another folder
        {"NO_OUTPUT", "INP", "INP", true, false}, // nothing is written
        {"replace", "INP", "INP", true, false},   // acts as no output
    };
    for (const Case& c : cases) {
        ClientSettings settings;
        settings.Action = c.action;
        settings.InputPath = in;
        settings.InputExt = c.inputExt;
        settings.OutputPath = c.sameFolder ? in : out;
        settings.OutputExt = c.outputExt;
        EXPECT_EQ(OutputNamesInputFiles(settings), c.refused)
            << c.action << " " << c.inputExt << " " << c.outputExt << " " << c.sameFolder;
    }
}

TEST(OutputTarget, ExtensionReplacedOrAppended) {
    EXPECT_EQ(WithExtension("day.inp", "OUT"), "day.OUT");
    EXPECT_EQ(WithExtension("day.2024.inp", "OUT"), "day.2024.OUT");
    EXPECT_EQ(WithExtension("day", "OUT"), "day.OUT");
}

}  // namespace
}  // namespace ecr
