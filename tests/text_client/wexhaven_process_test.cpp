// The selling client started as a real process, copied into a folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "foundation/settings_store.h"
#include "server/client_message.h"
#include "tests/support/child_process.h"
#include "tests/text_client/child_process.h"
#include "tests/text_client/poll_loop.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/client_settings.h"

namespace ecr {
namespace {

using testing_support::ChildProcess;
using testing_support::FakeServer;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

// The start delay is 3 s; a loaded machine may take much longer to start a Qt program.
constexpr int kStartTimeoutMs = 30000;
constexpr int kExitTimeoutMs = 15000;

class WexhavenProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string built = ECR_WEXHAVEN_PROGRAM;
        ASSERT_TRUE(std::filesystem::exists(built)) << built;
        program_ = folder_.Path() + "wexhaven";
        std::filesystem::copy_file(built, program_);
        in_ = folder_.Sub("in");
        out_ = folder_.Sub("out");
        WriteFile(folder_.Path() + "wexhaven.ini",
                  "[Server]\nPort=" + std::to_string(server_.Port()) + "\n[Directories]\nInputPath=" +
                      in_ + "\nOutputPath=" + out_ + "\n");
        ClientPasswords passwords;
        passwords.SetSystemPassword("secret");
        passwords.SetLoginPassword("login");
        TCodeStru store(folder_.Path() + "wexhaven.stg", passwords);
        store.Save();
    }

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments = {}) {
        // The test's folder is the copies' runtime folder, as a desktop session has one.
        return std::make_unique<ChildProcess>(
            program_, arguments,
            std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + folder_.Path()});
    }

    // Waits for the connection and answers the identification with `version`.
    void Identify(const std::string& version) {
        ASSERT_TRUE(server_.Accept(kStartTimeoutMs));
        ASSERT_EQ(server_.ReadMessage(), BuildClientMessage(255, 1, 0, 0, "", ""));
        server_.SendMessage(BuildClientMessage(255, 1, 0, 0, "", "Harbendix;" + version + ";"));
    }

    TempFolder folder_;
    FakeServer server_;
    std::string program_;
    std::string in_;
    std::string out_;
};

TEST_F(WexhavenProcessTest, SellsALineAndSecondStartsAskItToQuit) {
    WriteFile(in_ + "day.INP", "S,1,______,_,__;x;\nS,1,______,_,__;y;\n");
    auto first = Start();
    Identify("v1.0.21.1");
    auto open = server_.ReadMessage(10000);
    ASSERT_TRUE(open);
    EXPECT_EQ(*open, BuildClientMessage(13, 1, 1, 0, "", "login"));
    server_.SendMessage(BuildClientMessage(13, 1, 1, 0, "", ""));
    ASSERT_EQ(server_.ReadMessage(), BuildClientMessage(13, 4, 1, 0, "", "1;x;"));
    // The second line stays outstanding while the other starts come and go.

    auto plain = Start();
    EXPECT_EQ(plain->WaitForExit(kExitTimeoutMs), 0);  // another copy runs: ends at once
    auto wrong = Start({"-Q:wrong"});
    EXPECT_EQ(wrong->WaitForExit(kExitTimeoutMs), 0);
    EXPECT_FALSE(first->WaitForExit(1000).has_value());  // a wrong password changes nothing

    auto quit = Start({"/quit:secret"});
    EXPECT_EQ(quit->WaitForExit(kExitTimeoutMs), 0);
    EXPECT_EQ(first->WaitForExit(kExitTimeoutMs), 0);
    // The file in work got its output action (REPLACE): x went out and may be sold, y did
    // not.
    EXPECT_EQ(ReadFile(out_ + "day.OUT"), "S,1,000000,0,??;x;\nS,1,______,_,__;y;\n");
    EXPECT_FALSE(std::filesystem::exists(in_ + "day.INP"));
}

TEST_F(WexhavenProcessTest, RefusedServerVersionDisconnectsAndAQuitRequestStillCloses) {
    auto first = Start();
    Identify("1.0.19.9");
    // The refusal closes the connection; its error box then waits for the user.
    const auto refused = std::chrono::steady_clock::now();
    EXPECT_FALSE(server_.ReadMessage(10000).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - refused, std::chrono::milliseconds(10000));
    EXPECT_TRUE(first->Running());

    auto quit = Start({"-Q:secret"});
    EXPECT_EQ(quit->WaitForExit(kExitTimeoutMs), 0);
    EXPECT_EQ(first->WaitForExit(kExitTimeoutMs), 0);
    EXPECT_TRUE(std::filesystem::exists(folder_.Path() + "wexhaven.log"));
}

// The system's requests to end (SIGTERM: a stop of the service or the end of the session;
// SIGHUP; SIGINT) close the client as a valid close request does: no password, and the
// ordinary ending. But nobody chose to abandon the lines of the file in work that are not
// sold: whatever the action (here "No output", which would delete it), a file with such
// lines stays in the input folder; its line that went out shows that the register may
// have it. A file without such lines gets its output action.
TEST_F(WexhavenProcessTest, EachRequestToEndClosesAndKeepsAFileWithLinesToSell) {
    WriteFile(folder_.Path() + "wexhaven.ini",
              "[Server]\nPort=" + std::to_string(server_.Port()) + "\n[Directories]\nInputPath=" + in_ +
                  "\nOutputPath=" + out_ + "\n[Output]\nAction=NO_OUTPUT\n");
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
        for (const bool lineLeft : {true, false}) {
            SCOPED_TRACE(::testing::Message() << "signal " << signalNumber << (lineLeft ? ", y left" : ""));
            const std::string input = lineLeft ? "S,1,______,_,__;x;\nS,1,______,_,__;y;\n" : "S,1,______,_,__;x;\n";
            WriteFile(in_ + "day.INP", input);
            ecr::ChildProcess client(program_, {},
                                     {.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + folder_.Path()},
                                      .outputFile = folder_.Path() + "output.txt"});
            Identify("v1.0.21.1");
            ASSERT_EQ(server_.ReadMessage(10000), BuildClientMessage(13, 1, 1, 0, "", "login"));
            server_.SendMessage(BuildClientMessage(13, 1, 1, 0, "", ""));
            ASSERT_EQ(server_.ReadMessage(10000), BuildClientMessage(13, 4, 1, 0, "", "1;x;"));
            ASSERT_EQ(::kill(client.Pid(), signalNumber), 0);
            EXPECT_EQ(client.WaitForExit(std::chrono::milliseconds(kExitTimeoutMs)), 0) << client.Output();
            if (lineLeft) {
                EXPECT_EQ(ReadFile(in_ + "day.INP"), "S,1,000000,0,??;x;\nS,1,______,_,__;y;\n");
            } else {
                EXPECT_FALSE(std::filesystem::exists(in_ + "day.INP"));
            }
            EXPECT_TRUE(std::filesystem::is_empty(out_));
            std::filesystem::remove(in_ + "day.INP");
        }
    }
}

}  // namespace
}  // namespace ecr
