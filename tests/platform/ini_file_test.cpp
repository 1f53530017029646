#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (dir_ / "client.ini").string();
    }

    void Put(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    TempDir temp_;
    std::filesystem::path dir_ = temp_.Path();
    std::string path_;
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsNotCreatedByReading) {
    IniFile ini(path_);
    EXPECT_EQ(ini.readString("Server", "Address", "127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ini.readInteger("Server", "Port", 4999), 4999);
    EXPECT_TRUE(ini.readBool("Output", "SELL_WITH_EXT_PLU", true));
    EXPECT_FALSE(ini.sectionExists("Server"));
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase) {
    Put("; comment\r\n[server]\r\n  ADDRESS = 10.0.0.7 \r\nport=\"5000\"\r\n[Other]\r\nAddress=x\r\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.readString("Server", "Address", "?"), "10.0.0.7");
    EXPECT_EQ(ini.readInteger("SERVER", "Port", 0), 5000);
    EXPECT_EQ(ini.readString("other", "address", "?"), "x");
    EXPECT_EQ(ini.readString("Server", "Missing", "dflt"), "dflt");
    EXPECT_TRUE(ini.sectionExists("OTHER"));
}

TEST_F(IniFileTest, IntegerRules) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"4999", 4999},   {"-12", -12},          {"+7", 7},       {"0x1F", 31},
        {"0X402", 0x402}, {"$0409", 0x409},      {"-$10", -16},   {" 12 ", 12},
        {"", {}},         {"abc", {}},           {"12a", {}},     {"0x", {}},
        {"$", {}},        {"1.5", {}},           {"- 3", {}},     {"99999999999999999999", {}},
        {"-9223372036854775808", INT64_MIN},     {"9223372036854775808", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIniInteger(c.text), c.value) << '"' << c.text << '"';
    }
    Put("[Options]\nLanguageID=fr\nOldFPMode=1\nFlag=0\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.readInteger("Options", "LanguageID", 1026), 1026);
    EXPECT_EQ(ini.findInteger("Options", "LanguageID"), std::nullopt);
    EXPECT_TRUE(ini.readBool("Options", "OldFPMode", false));
    EXPECT_FALSE(ini.readBool("Options", "Flag", true));
    EXPECT_TRUE(ini.readBool("Options", "LanguageID", true));
}

TEST_F(IniFileTest, WritingCreatesTheFileWithItsSections) {
    IniFile ini(path_);
    ASSERT_TRUE(ini.writeString("Server", "Address", "127.0.0.1"));
    ASSERT_TRUE(ini.writeInteger("Server", "Port", 4999));
    ASSERT_TRUE(ini.writeString("Directories", "InputPath", "/srv/in/"));
    ASSERT_TRUE(ini.writeBool("Output", "SELL_WITH_EXT_PLU", true));
    EXPECT_EQ(Get(),
              "[Server]\nAddress=127.0.0.1\nPort=4999\n"
              "[Directories]\nInputPath=/srv/in/\n"
              "[Output]\nSELL_WITH_EXT_PLU=1\n");
    EXPECT_EQ(ini.readString("directories", "inputpath", ""), "/srv/in/");
}

TEST_F(IniFileTest, WrittenKeyIsUpdatedInPlaceOrAppendedToItsSection) {
    Put("; kept\r\n[Server]\r\nPORT = 1\r\n\r\n[Encoding]\r\nEncoding=DOS\r\n\r\nstray line\r\n");
    IniFile ini(path_);
    ASSERT_TRUE(ini.writeInteger("server", "Port", 4999));
    ASSERT_TRUE(ini.writeString("Server", "TimeOut", "10"));
    ASSERT_TRUE(ini.writeString("ENCODING", "encoding", "WINDOWS"));
    ASSERT_TRUE(ini.writeString("Output", "Action", "APPEND"));
    EXPECT_EQ(Get(),
              "; kept\r\n[Server]\r\nPort=4999\r\nTimeOut=10\r\n\r\n"
              "[Encoding]\r\nencoding=WINDOWS\r\n\r\nstray line\r\n"
              "[Output]\r\nAction=APPEND\r\n");
}

// An editor may begin the file with a UTF-8 byte order mark: the first section is read all
// the same, and a write updates it in place instead of adding it again.
TEST_F(IniFileTest, ByteOrderMarkAtTheStartHidesNoSection) {
    Put("\xEF\xBB\xBF[Options]\r\nComPort=3\r\n[Output]\r\nAction=APPEND\r\n");
    IniFile ini(path_);
    EXPECT_TRUE(ini.sectionExists("Options"));
    EXPECT_EQ(ini.readInteger("Options", "ComPort", 1), 3);
    EXPECT_EQ(ini.readString("Output", "Action", "REPLACE"), "APPEND");
    ASSERT_TRUE(ini.writeInteger("Options", "ComPort", 4));
    EXPECT_EQ(Get(), "[Options]\r\nComPort=4\r\n[Output]\r\nAction=APPEND\r\n");
    // Only a mark at the very start is one.
    Put("\n\xEF\xBB\xBF[Options]\nComPort=3\n");
    EXPECT_FALSE(ini.sectionExists("Options"));
}

TEST_F(IniFileTest, LastLineWithoutEndIsClosedBeforeAppending) {
    Put("[Server]\nAddress=1.2.3.4");
    IniFile ini(path_);
    ASSERT_TRUE(ini.writeString("Server", "Port", "7"));
    ASSERT_TRUE(ini.writeString("New", "Key", "v"));
    EXPECT_EQ(Get(), "[Server]\nAddress=1.2.3.4\nPort=7\n[New]\nKey=v\n");
}

TEST_F(IniFileTest, WriteThatWouldNotReadBackIsRefusedAndTheFileKept) {
    const std::string before = "[Server]\nPort=1\n";
    Put(before);
    IniFile ini(path_);
    struct Case {
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"Server", "Address", "x\n[Server]\nPort=2"},  // a value must not add lines
        {"Server", "Address", "x\rPort=2"},
        {"Server", "Port\nAddress", "1"},
        {"Ser\nver", "Port", "1"},
        {"Server", "", "1"},
        {"", "Port", "1"},
        {"Server", "Port=Address", "1"},  // reads back as the key "Port"
        {"Server", ";Port", "1"},         // reads back as a comment
        {"Server", "[Other]", "1"},       // reads back as a section
        {"Server", " Port", "1"},
        {"Ser]ver", "Port", "1"},
        {" Server", "Port", "1"},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_FALSE(ini.writeString(c.section, c.key, c.value)) << c.section << "/" << c.key;
        EXPECT_EQ(errno, EINVAL) << c.section << "/" << c.key;
    }
    EXPECT_EQ(Get(), before);
    // Blanks and quotes inside a value are ordinary data.
    ASSERT_TRUE(ini.writeString("Server", "Address", "a = \"b\" ; c"));
    EXPECT_EQ(ini.readString("Server", "Address", ""), "a = \"b\" ; c");
}

TEST_F(IniFileTest, FailedWriteReportsItAndLeavesNoTemporaryBehind) {
    // A folder where the file should be: the rename over it fails.
    std::filesystem::create_directory(path_);
    IniFile ini(path_);
    EXPECT_FALSE(ini.writeInteger("Server", "Port", 2));
    EXPECT_TRUE(std::filesystem::is_directory(path_));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(IniFileTest, FailedWriteLeavesTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
    Put("[Server]\nPort=1\n");
    ::chmod(dir_.c_str(), 0500);
    IniFile ini(path_);
    EXPECT_FALSE(ini.writeInteger("Server", "Port", 2));
    ::chmod(dir_.c_str(), 0700);
    EXPECT_EQ(Get(), "[Server]\nPort=1\n");
}

TEST_F(IniFileTest, WriteValuesWritesEveryKeyAtOnceOrNone) {
    IniFile ini(path_);
    ASSERT_TRUE(ini.writeValues({{"A", "x", "1"}, {"B", "y", "2"}, {"A", "z", "3"}, {"A", "x", "4"}}));
    EXPECT_EQ(Get(), "[A]\nx=4\nz=3\n[B]\ny=2\n");
    // One entry that would not read back refuses them all.
    errno = 0;
    EXPECT_FALSE(ini.writeValues({{"A", "x", "5"}, {"B", "y", "line\nbreak"}}));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Get(), "[A]\nx=4\nz=3\n[B]\ny=2\n");
}

}  // namespace
}  // namespace ecr
