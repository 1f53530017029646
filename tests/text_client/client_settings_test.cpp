#include "text_client/client_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/text_client/file_size_limit.h"
#include "tests/text_client/temp_folder.h"

namespace ecr {
namespace {

using testing_support::FileSizeLimit;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

TEST(ClientSettings, MissingFileGivesTheDefaults) {
    TempFolder folder;
    IniFile ini(folder.Path() + "wexhaven.ini");
    ClientSettings settings = LoadSettings(ini, "/opt/wx");
    EXPECT_EQ(settings.Address, "127.0.0.1");
    EXPECT_EQ(settings.Port, 4999);
    EXPECT_EQ(settings.TimeOut, 10);
    EXPECT_EQ(settings.InputPath, "/opt/wx/");
    EXPECT_EQ(settings.OutputPath, "/opt/wx/");
    EXPECT_EQ(settings.InputExt, "INP");
    EXPECT_EQ(settings.OutputExt, "OUT");
    EXPECT_EQ(settings.Action, "REPLACE");
    EXPECT_FALSE(settings.SELL_WITH_EXT_PLU);
    EXPECT_EQ(settings.Encoding, TextEncoding::Windows);
}

TEST(ClientSettings, ValuesAndTheirRules) {
    struct Case {
        const char* port;
        const char* timeOut;
        int expectedPort;
        int expectedTimeOut;
    };
    const Case cases[] = {
        {"5000", "1", 5000, 1},    {"x", "10000", 4999, 10000}, {"70000", "0", 4999, 10},
        {"-1", "10001", 4999, 10}, {"0", "abc", 0, 10},         {"65535", "$10", 65535, 16},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        WriteFile(folder.Path() + "w.ini", std::string("[Server]\nPort=") + c.port +
                                               "\nTimeOut=" + c.timeOut + "\n");
        ClientSettings settings = LoadSettings(IniFile(folder.Path() + "w.ini"), "/p");
        EXPECT_EQ(settings.Port, c.expectedPort) << c.port;
        EXPECT_EQ(settings.TimeOut, c.expectedTimeOut) << c.timeOut;
    }

    TempFolder folder;
    WriteFile(folder.Path() + "w.ini",
              "[directories]\ninputpath=/data/in\nOutputPath=\n"
              "[Output]\nAction=append\nSELL_WITH_EXT_PLU=2\n[Encoding]\nEncoding=dos\n");
    ClientSettings settings = LoadSettings(IniFile(folder.Path() + "w.ini"), "/p");
    EXPECT_EQ(settings.InputPath, "/data/in/");
    EXPECT_EQ(settings.OutputPath, "/p/");
    EXPECT_EQ(settings.Action, "append");  // as read; it acts as no output
    EXPECT_TRUE(settings.SELL_WITH_EXT_PLU);
    EXPECT_EQ(settings.Encoding, TextEncoding::Dos);
}

TEST(ClientSettings, SaveWritesEveryKeyAndLoadsBack) {
    TempFolder folder;
    IniFile ini(folder.Path() + "w.ini");
    ClientSettings settings = DefaultClientSettings("/srv/wx");
    settings.Address = "10.1.2.3";
    settings.SELL_WITH_EXT_PLU = true;
    settings.Encoding = TextEncoding::Dos;
    settings.Action = "UNIQUE";
    ASSERT_TRUE(SaveSettings(ini, settings));
    EXPECT_EQ(ReadFile(ini.path()),
              "[Server]\nAddress=10.1.2.3\nPort=4999\nTimeOut=10\n"
              "[Directories]\nInputPath=/srv/wx/\nInputExt=INP\nOutputPath=/srv/wx/\nOutputExt=OUT\n"
              "[Output]\nAction=UNIQUE\nSELL_WITH_EXT_PLU=1\n"
              "[Encoding]\nEncoding=DOS\n");
    ClientSettings loaded = LoadSettings(ini, "/elsewhere");
    EXPECT_EQ(loaded.Address, "10.1.2.3");
    EXPECT_EQ(loaded.InputPath, "/srv/wx/");
    EXPECT_TRUE(loaded.SELL_WITH_EXT_PLU);
    EXPECT_EQ(loaded.Encoding, TextEncoding::Dos);
}

TEST(ClientSettings, SaveOnAFullDiskLeavesTheOldFileWhole) {
    TempFolder folder;
    IniFile ini(folder.Path() + "w.ini");
    const ClientSettings old = DefaultClientSettings("/srv/wx");
    ASSERT_TRUE(SaveSettings(ini, old));
    const std::string before = ReadFile(ini.path());
    ClientSettings changed = old;
    changed.Address = "192.168.100.200";
    changed.InputPath = "/srv/wexhaven/input/";
    changed.OutputPath = "/srv/wexhaven/output/";
    changed.Action = "NO_OUTPUT";
    {
        // Room for the new address, but not for every change.
        FileSizeLimit full(before.size() + 10);
        EXPECT_FALSE(SaveSettings(ini, changed));
    }
    EXPECT_EQ(ReadFile(ini.path()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left behind
}

// An editor may begin the file with a UTF-8 byte order mark: the first section counts all
// the same, and a save keeps its keys where they are.
TEST(ClientSettings, ByteOrderMarkAtTheStartIsSkipped) {
    TempFolder folder;
    IniFile ini(folder.Path() + "w.ini");
    WriteFile(ini.path(), "\xEF\xBB\xBF[Server]\r\nPort=5001\r\n[Output]\r\nAction=APPEND\r\n");
    EXPECT_EQ(LoadSettings(ini, "/p").Port, 5001);
    WriteFile(ini.path(), "\xEF\xBB\xBF[Output]\nAction=APPEND\n[Server]\nPort=5001\n");
    ClientSettings settings = LoadSettings(ini, "/p");
    EXPECT_EQ(settings.Action, "APPEND");
    EXPECT_EQ(settings.Port, 5001);

    settings.Port = 5002;
    ASSERT_TRUE(SaveSettings(ini, settings));
    const std::string saved = ReadFile(ini.path());
    EXPECT_EQ(saved.rfind("[Output]\nAction=APPEND\n", 0), 0u) << saved;
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '['), 4) << "no section written twice:\n" << saved;
    EXPECT_EQ(LoadSettings(ini, "/p").Port, 5002);
    EXPECT_EQ(LoadSettings(ini, "/p").Action, "APPEND");
}

TEST(ClientPasswords, ShortStringRecord) {
    ClientPasswords passwords;
    EXPECT_EQ(passwords.SystemPassword(), "");
    EXPECT_EQ(passwords.LoginPassword(), "");
    passwords.SetSystemPassword("abc");
    passwords.SetLoginPassword(std::string(300, 'p'));
    EXPECT_EQ(passwords.SystemPasswordBytes[0], 3);
    EXPECT_EQ(passwords.SystemPasswordBytes[1], 'a');
    EXPECT_EQ(passwords.SystemPassword(), "abc");
    EXPECT_EQ(passwords.LoginPassword(), std::string(255, 'p'));
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&passwords);
    EXPECT_EQ(raw[256], 255);  // the login password starts at offset 256
}

TEST(ClientPasswords, KeepWholeUtf8CharactersWithin255Bytes) {
    const std::string a254(254, 'a');
    ClientPasswords passwords;
    passwords.SetSystemPassword(a254 + "жж");  // the first "ж" would need bytes 255 and 256
    passwords.SetLoginPassword(a254 + "ж");
    EXPECT_EQ(passwords.SystemPassword(), a254);
    EXPECT_EQ(passwords.SystemPasswordBytes[0], 254);
    EXPECT_EQ(passwords.LoginPassword(), a254);
    passwords.SetSystemPassword(std::string(253, 'a') + "ж");
    EXPECT_EQ(passwords.SystemPassword(), std::string(253, 'a') + "ж");
}

}  // namespace
}  // namespace ecr
