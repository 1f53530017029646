#include "text_client/input_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/exclusive_file.h"
#include "tests/text_client/file_size_limit.h"
#include "tests/text_client/temp_folder.h"

namespace ecr {
namespace {

using namespace std::string_literals;
using testing_support::FileSizeLimit;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

// prefix + eight digits + "." + extension
bool IsUniqueName(const std::string& name, const std::string& prefix, const std::string& extension) {
    if (name.size() != prefix.size() + 9 + extension.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < prefix.size() + 8; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return name.substr(prefix.size() + 8) == "." + extension;
}

TEST(InputLine, ShapesLettersAndRegisterNumbers) {
    struct Case {
        std::string line;
        bool valid;
        int registerNumber;
        int cop;
        std::string data;
        std::uint32_t resultOffset;  // for line start 100
    };
    const Case cases[] = {
        {"S,1,______,_,__;2;1.50;", true, 1, 4, "1;2;1.50;", 104},
        {"s,1,______,_,__;2;1.50;", true, 1, 4, "1;2;1.50;", 104},
        {"S,12,______,_,__;x;", true, 12, 4, "1;x;", 105},
        {"P,07,______,_,__;abc;", true, 7, 5, "abc;", 105},
        {"T,16,______,_,__;", true, 16, 6, "", 105},
        {"S,1,______,_,__;", true, 1, 4, "1;", 104},
        {"C,2,______,_,__;c", true, 2, 8, "c", 104},
        {"i,2,______,_,__;", true, 2, 9, "", 104},
        {"H,2,______,_,__;", true, 2, 10, "", 104},
        {"f,2,______,_,__;", true, 2, 11, "", 104},
        {"N,12,______,_,__;_;__;____;", true, 12, 12, "_;__;____;", 105},
        {"Z,2,______,_,__;", true, 2, 13, "", 104},
        {"a,2,______,_,__;", true, 2, 14, "", 104},
        {"Y,2,______,_,__;", true, 2, 15, "", 104},
        {"N,12,______,_,__;_;__;___1;", false, 0, 0, "", 0},
        {"N,1,______,_,__;", false, 0, 0, "", 0},
        {"X,1,______,_,__;", false, 0, 0, "", 0},
        {"G,1,______,_,__;", false, 0, 0, "", 0},
        {"S,0,______,_,__;", false, 0, 0, "", 0},
        {"S,17,______,_,__;", false, 0, 0, "", 0},
        {"S,-1,______,_,__;", false, 0, 0, "", 0},
        {"S,x,______,_,__;", false, 0, 0, "", 0},
        {"S,1,______,_,__", false, 0, 0, "", 0},    // 15 bytes
        {"S;1,______,_,__;", false, 0, 0, "", 0},
        {"S,123,_____,_,__;", false, 0, 0, "", 0},
        {"S,1,001234,0,Ok;2;1.50;", false, 0, 0, "", 0},  // already sold
        {"S,12,______,_,__", false, 0, 0, "", 0},   // two-character shape needs 17 bytes
    };
    for (const Case& c : cases) {
        auto request = ParseInputLine(c.line, 100, false, TextEncoding::Windows);
        ASSERT_EQ(request.has_value(), c.valid) << c.line;
        if (!request) continue;
        EXPECT_EQ(request->RegisterNumber, c.registerNumber) << c.line;
        EXPECT_EQ(request->COP, c.cop) << c.line;
        EXPECT_EQ(request->Data, c.data) << c.line;
        EXPECT_EQ(request->ResultOffset, c.resultOffset) << c.line;
    }
}

TEST(InputLine, DataRules) {
    auto withPlu = ParseInputLine("S,1,______,_,__;2;1.50;", 0, true, TextEncoding::Windows);
    ASSERT_TRUE(withPlu);
    EXPECT_EQ(withPlu->Data, "2;1.50;");

    std::string longLine = "S,1,______,_,__;" + std::string(300, 'd');
    auto cut = ParseInputLine(longLine, 0, false, TextEncoding::Windows);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Data, "1;" + std::string(253, 'd'));

    auto dos = ParseInputLine("P,1,______,_,__;\x80\xC1\x7F\xFF"s, 0, false, TextEncoding::Dos);
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->Data, "\xC0\x01\x7F\x3F"s);
    EXPECT_EQ(DosToWindows("\xBF\xC0"s), "\xFF\x00"s);
}

TEST(LineResult, ElevenByteForm) {
    struct Case {
        std::int32_t number;
        std::uint8_t digit;
        std::uint8_t code;
        const char* text;
    };
    const Case cases[] = {
        {1234, 0, 0, "001234,0,Ok"},   {1234, 3, 5, "001234,3,Er"},
        {1234, 3, 22, "001234,3,Er"},  {0, 0, 10, "000000,0,0A"},
        {0, 0, 255, "000000,0,FF"},    {0, 0, 8, "000000,0,08"},
        {1234567, 0, 0, "1234567,0,O"},  // a wider number pushes the code out: 11 bytes only
        {5, 12, 0, "000005,12,O"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatLineResult(c.number, c.digit, c.code), c.text);
}

TEST(LineResult, TwentyOneByteForm) {
    struct Case {
        std::uint8_t code;
        const char* payload;
        const char* text;
        int negatives;
    };
    const Case cases[] = {
        {0, "a;b;2;15;42;", "001234,3,Ok;2;15;0042", 0},
        {22, "a;b;2;15;42;", "001234,3,16;2;15;0042", 0},
        {5, "a;b;2;15;42;", "001234,3,Er;2;15;0042", 0},
        {0, "a;b;;x;", "001234,3,Ok;0;00;0000", 0},
        {0, "", "001234,3,Ok;0;00;0000", 0},
        {0, "a;b;-2;-15;7;", "001234,3,Ok;0;00;0007", 2},
        {0, "a;b;12;1;1;", "001234,3,Ok;12;01;000", 0},
    };
    for (const Case& c : cases) {
        int negatives = 0;
        EXPECT_EQ(FormatLineResultWithTotals(1234, 3, c.payload, c.code,
                                             [&](int, std::string_view) { ++negatives; }),
                  c.text)
            << c.payload;
        EXPECT_EQ(negatives, c.negatives) << c.payload;
    }
}

class InputFileTest : public ::testing::Test {
protected:
    InputFileTest() {
        settings_.InputPath = folder_.Sub("in");
        settings_.OutputPath = folder_.Sub("out");
    }
    InputFile MakeInput() {
        return InputFile(settings_, [this](const std::string& text) { log_.push_back(text); }, 1);
    }
    std::string In(const std::string& name) const { return settings_.InputPath + name; }
    std::string Out(const std::string& name) const { return settings_.OutputPath + name; }
    void FinishAndCheck(const char* action, const std::string& outputFolder,
                        std::optional<rlim_t> roomForBytes, bool moved);

    TempFolder folder_;
    ClientSettings settings_;
    std::vector<std::string> log_;
};

TEST_F(InputFileTest, ResultsAreWrittenInPlaceIntoTheirOwnLines) {
    const std::string content =
        "S,1,______,_,__;2;1.50;\r\n"
        "\r\n\n"
        "bad line\n"
        "N,12,______,_,__;_;__;____;\r"
        "P,07,______,_,__;text;\n"
        "S,1,______,_,__;";  // last line without an end
    WriteFile(In("sale.inp"), content);
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    EXPECT_EQ(input.FileName(), In("sale.inp"));

    std::vector<std::uint64_t> ids;
    while (input.ParseNextInputLine()) ids.push_back(input.NewestLine()->Id);
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_TRUE(input.EndOfFile());
    EXPECT_EQ(input.OutstandingLines(), 4);
    // Numbered as an editor numbers them: CR LF, LF and CR alone each end a line.
    EXPECT_EQ(input.LineNumberOf(ids[0]), 1);
    EXPECT_EQ(input.LineNumberOf(ids[1]), 5);
    EXPECT_EQ(input.LineNumberOf(ids[2]), 6);
    EXPECT_EQ(input.LineNumberOf(ids[3]), 7);

    // Out of order: newest first, the oldest last.
    EXPECT_EQ(input.WriteLineResult(ids[3], 99, 1, 0), ResultWrite::Written);
    EXPECT_EQ(input.WriteLineResultWithTotals(ids[1], 1234, 3, "x;y;2;15;42;", 0), ResultWrite::Written);
    EXPECT_EQ(input.WriteLineResult(ids[2], 5, 0, 22), ResultWrite::Written);
    EXPECT_EQ(input.WriteLineResult(ids[0], 1234, 0, 0), ResultWrite::Written);
    // no longer outstanding
    EXPECT_EQ(input.WriteLineResult(ids[0], 1, 1, 1), ResultWrite::NotOutstanding);
    EXPECT_EQ(input.OutstandingLines(), 0);
    input.FinishInputFile();

    EXPECT_EQ(ReadFile(Out("sale.OUT")),
              "S,1,001234,0,Ok;2;1.50;\r\n"
              "\r\n\n"
              "bad line\n"
              "N,12,001234,3,Ok;2;15;0042;\r"
              "P,07,000005,0,Er;text;\n"
              "S,1,000099,1,Ok;");
    EXPECT_FALSE(std::filesystem::exists(In("sale.inp")));
}

// Totals need the room of a totals line: on a sale line they would overwrite its data.
TEST_F(InputFileTest, TotalsAreNotWrittenBeyondTheResultPlaceOfALineOfAnotherKind) {
    WriteFile(In("a.inp"), "S,1,______,_,__;2;15;\n");
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    ASSERT_TRUE(input.ParseNextInputLine());
    const std::uint64_t id = input.NewestLine()->Id;
    EXPECT_EQ(input.WriteLineResultWithTotals(id, 44, 1, "1;2;2;15;42;", 0), ResultWrite::NotOutstanding);
    EXPECT_EQ(ReadFile(In("a.inp")), "S,1,______,_,__;2;15;\n");
    EXPECT_EQ(input.OutstandingLines(), 1);
}

TEST_F(InputFileTest, LineNotExecutedShowsItsPlaceholderAgain) {
    WriteFile(In("a.inp"), "S,1,______,_,__;x;\n");
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    ASSERT_TRUE(input.ParseNextInputLine());
    const std::uint64_t id = input.NewestLine()->Id;
    EXPECT_EQ(input.WritePendingResult(id, 12, 3), ResultWrite::Written);
    EXPECT_EQ(ReadFile(In("a.inp")), "S,1,000012,3,??;x;\n");
    EXPECT_FALSE(input.HasUnsoldLines());
    EXPECT_EQ(input.WriteUnsold(id), ResultWrite::Written);
    EXPECT_EQ(ReadFile(In("a.inp")), "S,1,______,_,__;x;\n");
    EXPECT_TRUE(input.HasUnsoldLines());
    EXPECT_EQ(input.OutstandingLines(), 1);
    input.KeepInputFile();
}

TEST_F(InputFileTest, FileWithoutValidLinesYieldsNoLine) {
    const char* contents[] = {"", "\r\n\r\n", "S,1,001234,0,Ok;2;1.50;\r\nP,2,000001,0,Er;\r\n",
                              "short\nS,0,______,_,__;\n"};
    for (const char* content : contents) {
        WriteFile(In("a.INP"), content);
        InputFile input = MakeInput();
        ASSERT_TRUE(input.OpenNextInputFile());
        EXPECT_FALSE(input.ParseNextInputLine()) << content;
        EXPECT_TRUE(input.EndOfFile());
        input.FinishInputFile();
    }
}

TEST_F(InputFileTest, SearchIgnoresCaseAndTakesTheFirstFileByName) {
    WriteFile(In("b.Inp"), "x");
    WriteFile(In("a.inp"), "x");
    WriteFile(In("c.txt"), "x");
    std::filesystem::create_directory(In("dir.INP"));
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    EXPECT_EQ(input.FileName(), In("a.inp"));
    input.FinishInputFile();
    ASSERT_TRUE(input.OpenNextInputFile());
    EXPECT_EQ(input.FileName(), In("b.Inp"));
    input.FinishInputFile();
    EXPECT_FALSE(input.OpenNextInputFile());
}

TEST_F(InputFileTest, FileHeldByTheWritingApplicationIsLeftAlone) {
    WriteFile(In("a.inp"), "S,1,______,_,__;\n");
    WriteFile(In("b.inp"), "S,1,______,_,__;\n");
    {
        ExclusiveFile writer(In("a.inp"), O_RDWR);
        ASSERT_TRUE(writer.IsOpen());
        InputFile input = MakeInput();
        EXPECT_FALSE(input.OpenNextInputFile());  // the first file holds up the others
        EXPECT_TRUE(input.FileName().empty());
    }
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    // While in work the file is ours alone.
    ExclusiveFile other(In("a.inp"), O_RDWR);
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(InputFileTest, OutputActions) {
    struct Case {
        const char* action;
        const char* outputName;  // nullptr: the file is deleted
    };
    const Case cases[] = {
        {"REPLACE", "day.OUT"}, {"APPEND", "day.OUT"}, {"UNIQUE", "unique"},
        {"replace", nullptr},   {"NO_OUTPUT", nullptr}, {"", nullptr},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        settings_.InputPath = folder.Sub("in");
        settings_.OutputPath = folder.Sub("out");
        settings_.Action = c.action;
        WriteFile(Out("day.OUT"), "old\n");
        WriteFile(In("day.inp"), "new\n");
        InputFile input = MakeInput();
        ASSERT_TRUE(input.OpenNextInputFile());
        input.FinishInputFile();
        EXPECT_FALSE(std::filesystem::exists(In("day.inp"))) << c.action;
        if (c.outputName == nullptr) {
            EXPECT_EQ(ReadFile(Out("day.OUT")), "old\n") << c.action;
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(settings_.OutputPath),
                                    std::filesystem::directory_iterator()),
                      1);
        } else if (std::string(c.outputName) == "unique") {
            std::vector<std::string> names;
            for (auto& entry : std::filesystem::directory_iterator(settings_.OutputPath)) {
                names.push_back(entry.path().filename().string());
            }
            ASSERT_EQ(names.size(), 2u);
            std::string unique = names[0] == "day.OUT" ? names[1] : names[0];
            EXPECT_TRUE(IsUniqueName(unique, "Wx", "OUT")) << unique;
            EXPECT_EQ(ReadFile(Out(unique)), "new\n");
        } else if (std::string(c.action) == "APPEND") {
            EXPECT_EQ(ReadFile(Out("day.OUT")), "old\nnew\n");
        } else {
            EXPECT_EQ(ReadFile(Out("day.OUT")), "new\n");
        }
    }
}

TEST_F(InputFileTest, FailedAppendKeepsTheInputAndLogsIt) {
    settings_.Action = "APPEND";
    std::filesystem::create_directory(Out("day.OUT"));  // the output cannot be opened
    const std::string content = "S,1,______,_,__;\n";
    WriteFile(In("day.inp"), content);
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile());
    input.FinishInputFile();
    EXPECT_EQ(ReadFile(In("day.inp")), content);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("Cannot append"), std::string::npos) << log_[0];

    // Once the output can be written the next finish appends it and removes the input.
    std::filesystem::remove(Out("day.OUT"));
    ASSERT_TRUE(input.OpenNextInputFile());
    input.FinishInputFile();
    EXPECT_EQ(ReadFile(Out("day.OUT")), content);
    EXPECT_FALSE(std::filesystem::exists(In("day.inp")));
}

// The names in `folder`.
std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A folder on a file system of its own (tmpfs under /dev/shm), removed with its content;
// Path() is empty when there is none, or when it lies on the file system of `besides`.
class OtherFileSystemFolder {
public:
    explicit OtherFileSystemFolder(const std::string& besides) {
        char pattern[] = "/dev/shm/wexhaven-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        made_ = pattern;
        struct stat mine {};
        struct stat theirs {};
        if (::stat(made_.c_str(), &mine) == 0 && ::stat(besides.c_str(), &theirs) == 0 &&
            mine.st_dev != theirs.st_dev) {
            path_ = made_ + "/";
        }
    }
    ~OtherFileSystemFolder() {
        std::error_code ignored;
        if (!made_.empty()) std::filesystem::remove_all(made_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string made_;
    std::string path_;
};

// Finishes "day.inp" of `content` with `action` into `outputFolder`; `roomForBytes` limits
// the files written meanwhile. Then checks that the file was moved whole into the output
// folder as its only file, or else kept whole with "Cannot move" logged.
void InputFileTest::FinishAndCheck(const char* action, const std::string& outputFolder,
                                   std::optional<rlim_t> roomForBytes, bool moved) {
    const std::string content = "S,1,001234,0,Ok;" + std::string(200, 'x') + "\n";
    const std::string name = std::string(action) + " into " + outputFolder;
    settings_.Action = action;
    settings_.OutputPath = outputFolder;
    log_.clear();
    WriteFile(In("day.inp"), content);
    InputFile input = MakeInput();
    ASSERT_TRUE(input.OpenNextInputFile()) << name;
    {
        std::optional<FileSizeLimit> full;
        if (roomForBytes) full.emplace(*roomForBytes);
        EXPECT_EQ(input.FinishInputFile(), FinishOutcome::ActionApplied) << name;
    }
    if (moved) {
        EXPECT_FALSE(std::filesystem::exists(In("day.inp"))) << name;
        const std::vector<std::string> written = NamesIn(outputFolder);
        ASSERT_EQ(written.size(), 1u) << name;
        EXPECT_EQ(ReadFile(outputFolder + written[0]), content) << name;
        EXPECT_TRUE(log_.empty()) << name;
        std::filesystem::remove(outputFolder + written[0]);
    } else {
        EXPECT_EQ(ReadFile(In("day.inp")), content) << name;
        if (std::filesystem::exists(outputFolder)) {
            EXPECT_TRUE(NamesIn(outputFolder).empty()) << name;
        }
        ASSERT_EQ(log_.size(), 1u) << name;
        EXPECT_EQ(log_[0].rfind("Cannot move " + In("day.inp"), 0), 0u) << log_[0];
    }
}

TEST_F(InputFileTest, FailedMoveToAMissingOutputFolderKeepsTheInput) {
    for (const char* action : {"REPLACE", "UNIQUE"}) {
        FinishAndCheck(action, folder_.Path() + "missing/", std::nullopt, false);
    }
}

TEST_F(InputFileTest, MoveAcrossFileSystemsCopiesAndDeletesOrKeepsTheInput) {
    OtherFileSystemFolder other(folder_.Path());
    if (other.Path().empty()) {
        GTEST_SKIP() << "/dev/shm is missing or on the file system of " << folder_.Path()
                     << ": no move across file systems to test";
    }
    for (const char* action : {"REPLACE", "UNIQUE"}) {
        FinishAndCheck(action, other.Path(), std::nullopt, true);
        // The copy runs out of room: the part copied goes, the input stays.
        FinishAndCheck(action, other.Path(), 16, false);
    }
}

TEST_F(InputFileTest, OutputThatWouldBeAnInputFileKeepsTheFile) {
    const std::string content = "S,1,001234,0,Ok;x;\n";
    struct Case {
        const char* action;
        const char* outputExt;
        const char* outputFolder;  // below the test's folder; "in" is the input folder
    };
    const Case cases[] = {
        {"REPLACE", "INP", "in/"},       // the target is the input file itself
        {"REPLACE", "inp", "in/"},       // another name, but an input file too
        {"REPLACE", "Inp", "in/./"},
        {"REPLACE", "INP", "in-link/"},  // a symbolic link to the input folder
        {"REPLACE", "INP", "out/../in/"},
        {"APPEND", "INP", "in/"},
        {"APPEND", "inp", "in/"},
        {"UNIQUE", "inp", "in/"},
    };
    for (const Case& c : cases) {
        const std::string name = std::string(c.action) + " " + c.outputExt + " " + c.outputFolder;
        TempFolder folder;
        folder.Sub("out");
        settings_.Action = c.action;
        settings_.InputPath = folder.Sub("in");
        settings_.OutputPath = folder.Path() + c.outputFolder;
        settings_.OutputExt = c.outputExt;
        std::filesystem::create_directory_symlink(settings_.InputPath, folder.Path() + "in-link");
        log_.clear();
        WriteFile(In("day.INP"), content);
        InputFile input = MakeInput();
        ASSERT_TRUE(input.OpenNextInputFile()) << name;
        EXPECT_EQ(input.FinishInputFile(), FinishOutcome::KeptOutputNamesInput) << name;
        EXPECT_EQ(NamesIn(settings_.InputPath), std::vector<std::string>{"day.INP"}) << name;
        EXPECT_EQ(ReadFile(In("day.INP")), content) << name;
        ASSERT_EQ(log_.size(), 1u) << name;
        EXPECT_EQ(log_[0].rfind("Cannot finish " + In("day.INP") + ": its output ", 0), 0u) << log_[0];
        EXPECT_NE(log_[0].find("would be an input file; the file is kept"), std::string::npos) << log_[0];

        // Finished again, it stays again; with another output folder it goes there.
        ASSERT_TRUE(input.OpenNextInputFile());
        EXPECT_EQ(input.FinishInputFile(), FinishOutcome::KeptOutputNamesInput) << name;
        settings_.OutputPath = folder.Path() + "out/";
        ASSERT_TRUE(input.OpenNextInputFile());
        EXPECT_EQ(input.FinishInputFile(), FinishOutcome::ActionApplied) << name;
        EXPECT_TRUE(NamesIn(settings_.InputPath).empty()) << name;
        ASSERT_EQ(NamesIn(settings_.OutputPath).size(), 1u) << name;
    }
}

// The file in work loses its name to a new file (written aside and renamed into place):
// finishing it works on what is open and never touches the new file; where the file sold
// cannot go out, it is kept in the input folder under a name of its own.
TEST_F(InputFileTest, FileSoldWhoseNameWentToANewFileIsFinishedFromWhatIsOpen) {
    const std::string sold = "S,1,000011,1,Ok;a1;\n";
    const std::string handedOver = "S,1,______,_,__;b1;\n";
    struct Case {
        const char* name;
        const char* action;
        const char* outputFolder;  // below the test's folder
        bool keep;                 // KeepInputFile in place of FinishInputFile
        const char* output;        // the file sold in the output folder, or nullptr
    };
    const Case cases[] = {
        {"replace", "REPLACE", "out/", false, "day.OUT"},
        {"append", "APPEND", "out/", false, "day.OUT"},
        {"no output", "NO_OUTPUT", "out/", false, nullptr},
        {"replace into a missing folder", "REPLACE", "missing/", false, nullptr},
        {"kept", "REPLACE", "out/", true, nullptr},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        settings_.InputPath = folder.Sub("in");
        folder.Sub("out");
        settings_.OutputPath = folder.Path() + c.outputFolder;
        settings_.Action = c.action;
        log_.clear();
        WriteFile(In("day.inp"), sold);
        InputFile input = MakeInput();
        ASSERT_TRUE(input.OpenNextInputFile()) << c.name;
        WriteFile(In("day.new"), handedOver);
        std::filesystem::rename(In("day.new"), In("day.inp"));
        if (c.keep) {
            input.KeepInputFile();
        } else {
            EXPECT_EQ(input.FinishInputFile(), FinishOutcome::ActionApplied) << c.name;
        }
        EXPECT_EQ(ReadFile(In("day.inp")), handedOver) << c.name;
        std::vector<std::string> names = NamesIn(settings_.InputPath);
        if (c.output) {
            EXPECT_EQ(names, std::vector<std::string>{"day.inp"}) << c.name;
            EXPECT_EQ(ReadFile(settings_.OutputPath + c.output), sold) << c.name;
        } else if (std::string(c.action) == "NO_OUTPUT") {
            EXPECT_EQ(names, std::vector<std::string>{"day.inp"}) << c.name;
            EXPECT_TRUE(NamesIn(settings_.OutputPath).empty()) << c.name;
        } else {
            // Kept under a unique name with the input extension: sold again if it must be.
            ASSERT_EQ(names.size(), 2u) << c.name;
            const std::string kept = names[0] == "day.inp" ? names[1] : names[0];
            EXPECT_TRUE(IsUniqueName(kept, "Wx", "INP")) << kept;
            EXPECT_EQ(ReadFile(In(kept)), sold) << c.name;
        }
        EXPECT_FALSE(log_.empty()) << c.name;
    }
}

TEST_F(InputFileTest, UniqueNamesAvoidExistingFiles) {
    InputFile first = MakeInput();
    std::string name = first.MakeUniqueOutputName(settings_.OutputPath, "Wxyz", "OUT");
    EXPECT_TRUE(IsUniqueName(name, "Wxy", "OUT")) << name;
    WriteFile(Out(name), "");
    InputFile sameSeed = MakeInput();  // would draw the same name first
    EXPECT_NE(sameSeed.MakeUniqueOutputName(settings_.OutputPath, "Wxyz", "OUT"), name);
}

TEST_F(InputFileTest, NothingHappensWithoutAFile) {
    InputFile input = MakeInput();
    EXPECT_EQ(input.ReadInputByte(), -1);
    EXPECT_FALSE(input.ParseNextInputLine());
    EXPECT_TRUE(input.EndOfFile());
    EXPECT_EQ(input.WriteLineResult(1, 0, 0, 0), ResultWrite::NotOutstanding);
    EXPECT_EQ(input.FinishInputFile(), FinishOutcome::NothingOpen);
    EXPECT_FALSE(input.OpenNextInputFile());
}

}  // namespace
}  // namespace ecr
