// The selling client started as a real process, copied into a folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "foundation/settings_store.h"
#include "server/client_message.h"
#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"
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

    // The test's folder is the copies' runtime folder, as a desktop session has one.
    std::vector<std::string> Environment(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + folder_.Path()};
        environment.insert(environment.end(), extra.begin(), extra.end());
        return environment;
    }

    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments = {}) {
        return std::make_unique<ChildProcess>(program_, arguments, Environment());
    }

    // The copy as a test signals it, its output in the folder.
    std::unique_ptr<ecr::ChildProcess> StartCopy(const std::vector<std::string>& extra = {}) {
        return std::make_unique<ecr::ChildProcess>(
            program_, std::vector<std::string>{},
            ecr::ChildProcessOptions{.environment = Environment(extra), .outputFile = folder_.Path() + "output.txt"});
    }

    std::string Log() const { return ReadFile(folder_.Path() + "wexhaven.log"); }

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

// Where the keep-awake binding fails, two error boxes hold the start, one after the other.
// A close request with a wrong password is answered meanwhile and changes nothing; a
// request to end (a signal, or a close request with the system password) rejects the box
// that shows and the one after it, the start goes on, and the program ends.
TEST_F(WexhavenProcessTest, TheBoxesOfAFailedKeepAwakeBindingGiveWayToARequestToEnd) {
    for (const std::string request : {"SIGTERM", "-Q:secret"}) {
        SCOPED_TRACE(request);
        std::filesystem::remove(folder_.Path() + "wexhaven.log");
        auto client = StartCopy({"ECR_KEEP_AWAKE_LIBRARY=libno-such-keep-awake-library.so.0"});
        // Answered from the event loop of the first box: the only one before the window exists.
        ASSERT_TRUE(support::WaitUntil([&] { return Start({"-Q:wrong"})->WaitForExit(kExitTimeoutMs) == 0; },
                                       std::chrono::milliseconds(kStartTimeoutMs)))
            << Log() << client->Output();
        EXPECT_TRUE(client->Running());
        EXPECT_EQ(Log().find("Keep-awake request failed"), std::string::npos) << "the window is not made yet";
        if (request == "SIGTERM") {
            ASSERT_EQ(::kill(client->Pid(), SIGTERM), 0);
        } else {
            EXPECT_EQ(Start({request})->WaitForExit(kExitTimeoutMs), 0);
        }
        EXPECT_EQ(client->WaitForExit(std::chrono::milliseconds(kExitTimeoutMs)), 0) << Log() << client->Output();
        EXPECT_NE(Log().find("wexhaven: Keep-awake request failed: libno-such-keep-awake-library.so.0"),
                  std::string::npos)
            << Log();
    }
}

// A signal that comes while the program starts, from the first moment of its main on, is
// kept: the start goes on, then the program ends with status 0 (it logs nothing). One that
// comes before main ran ends the process before it has done anything (no log yet).
TEST_F(WexhavenProcessTest, ASignalAtAnyMomentOfTheStartIsKeptOnceMainBegan) {
    for (const StartMoment moment : StartMoments()) {
        SCOPED_TRACE(::testing::Message() << "SIGTERM " << moment.delayMs << " ms after "
                                          << (moment.fromMain ? "main began" : "the start"));
        std::filesystem::remove(folder_.Path() + "wexhaven.log");
        auto client = StartCopy();
        const SignalledStart signalled = SignalAtMoment(*client, moment, folder_.Path() + "wexhaven.log",
                                                        std::chrono::milliseconds(kStartTimeoutMs));
        ASSERT_TRUE(signalled.exit.has_value()) << client->Output();
        if (!signalled.beforeMain) {
            EXPECT_EQ(signalled.exit, 0) << Log() << client->Output();
        }
    }
}

// Once the close has begun, the signals that follow never end the program by the signal.
TEST_F(WexhavenProcessTest, SignalsThatFollowTheFirstNeverEndItByTheSignal) {
    for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        auto client = StartCopy();
        Identify("v1.0.21.1");  // it runs: connected and identified
        EXPECT_EQ(client->SignalUntilEnded(SIGTERM, {SIGTERM, SIGINT, SIGHUP},
                                           std::chrono::milliseconds(kStartTimeoutMs)),
                  0)
            << client->Output();
    }
}

}  // namespace
}  // namespace ecr
