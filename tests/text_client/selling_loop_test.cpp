#include "text_client/selling_loop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

#include "server/client_message.h"
#include "server/receipt_ref.h"
#include "tests/text_client/frozen_folder.h"
#include "tests/text_client/poll_loop.h"
#include "tests/text_client/temp_folder.h"

namespace ecr {
namespace {

using namespace std::string_literals;
using testing_support::FakeServer;
using testing_support::FrozenFolder;
using testing_support::PollLoop;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

// The host's side, recorded; timers run on the poll loop.
class TestHost : public SellingLoopHost {
public:
    explicit TestHost(PollLoop& loop) : loop_(loop) {}
    SellingLoop* sellingLoop = nullptr;

    void StartTimer(LoopTimer timer, int milliseconds) override {
        loop_.StartTimer(timer, milliseconds, [this](LoopTimer fired) { sellingLoop->OnTimer(fired); });
    }
    void StopTimer() override { loop_.StopTimer(); }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void ShowNotReadyDialog(const std::string& text) override { notReady.push_back(text); dialogShown = true; }
    void CloseNotReadyDialog() override { dialogShown = false; }
    bool AskPassword(const std::string& password) override {
        ++passwordQuestions;
        if (duringPassword) duringPassword();
        return typedPassword == password;
    }
    void ShowRunning(bool isRunning) override { running = isRunning; }
    void ShowStartStopItem(bool showsStart) override { startItem = showsStart; }
    void EnableConfigure(bool enabled) override { configureEnabled = enabled; }
    void HideTrayIcon() override { trayHidden = true; }
    void RefreshStatusIfShown() override {}
    void SavePasswords() override { ++passwordSaves; }
    void CloseMainWindow() override {
        ++closeRequests;
        if (sellingLoop->CloseQuery()) closed = true;
    }

    std::vector<std::string> errors;
    std::vector<std::string> notReady;
    bool dialogShown = false;
    std::string typedPassword;
    std::function<void()> duringPassword;
    int passwordQuestions = 0;
    bool running = false;
    bool startItem = false;
    bool configureEnabled = false;
    bool trayHidden = false;
    int passwordSaves = 0;
    int closeRequests = 0;
    bool closed = false;

private:
    PollLoop& loop_;
};

// The Block of a sale reply: only the register's serial and message numbers count here.
std::string ReceiptBlock(std::int32_t serial, std::uint8_t digit) {
    return ReceiptRef{0, 0, serial, digit}.Encode();
}

class SellingLoopTest : public ::testing::Test {
protected:
    SellingLoopTest() : host_(loop_) {
        MakeLoop();
        settings_.Address = "127.0.0.1";
        settings_.Port = server_.Port();
        settings_.InputPath = folder_.Sub("in");
        settings_.OutputPath = folder_.Sub("out");
        settings_.TimeOut = 1;
        passwords_.SetLoginPassword("login");
        passwords_.SetSystemPassword("secret");
    }

    // The loop and its socket, as the program starts them, over the files passed over of
    // the program's folder.
    void MakeLoop() {
        socket_ = std::make_unique<TSockClient>(loop_);
        loop_.Attach(*socket_);
        socket_->SetEnabled(true);
        socket_->OnException = [this](const std::exception& e) { host_.errors.push_back(e.what()); };
        sellingLoop_ = std::make_unique<SellingLoop>(
            host_, *socket_, settings_, passwords_, [this](const std::string& t) { log_.push_back(t); }, 7,
            PassedOverStore());
        host_.sellingLoop = sellingLoop_.get();
    }
    std::string PassedOverStore() const { return folder_.Path() + "wexhaven.passed"; }

    // The program is killed (the loop and its connection go without a close: the file in
    // work is closed as the end of the process closes it) and started anew.
    void KillAndRestart() {
        sellingLoop_.reset();
        socket_.reset();
        loop_.StopTimer();
        host_.dialogShown = false;
        MakeLoop();
    }

    // Connects and answers the identification request with `version`.
    void Identify(const std::string& version, std::uint8_t errorCode = 0) {
        sellingLoop_->ConnectToServer();
        AcceptAndIdentify(version, errorCode);
    }
    // Takes the connection that the loop opens and answers its identification request.
    void AcceptAndIdentify(const std::string& version = "1.0.20.0", std::uint8_t errorCode = 0) {
        ASSERT_TRUE(server_.Accept());
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 3; }));
        auto request = server_.ReadMessage();
        ASSERT_EQ(request, BuildClientMessage(255, 1, 0, 0, "", ""));
        server_.SendMessage(BuildClientMessage(255, 1, 0, errorCode, "", "Harbendix;" + version + ";"));
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() != 3; }));
    }

    // Identifies the server, answers the SET opening of register `logNo` and returns the
    // request of the file's first line.
    ClientMessage SellFirstLine(std::uint8_t logNo) {
        Identify("1.0.20.0");
        EXPECT_EQ(Next().Command, 1);
        Reply(1, logNo, 0);
        return Next();
    }

    // The next request of the client, parsed.
    ClientMessage Next(int timeoutMs = 5000) {
        std::optional<std::string> message;
        loop_.RunUntil([&] {
            message = server_.ReadMessage(0);
            return message.has_value();
        }, timeoutMs);
        if (!message) {
            ADD_FAILURE() << "no request came";
            return {};
        }
        return ParseClientMessage(*message);
    }

    void Reply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
               const std::string& block = "", const std::string& payload = "") {
        server_.SendMessage(BuildClientMessage(13, command, logNo, errorCode, block, payload));
    }

    void Settle() { loop_.RunFor(50); }

    // The loop closes its connection and connects anew (identified at once).
    void ExpectConnectionOpenedAnew() {
        EXPECT_TRUE(loop_.RunUntil([&] { return server_.ClientClosed(0); }, 10000));
        AcceptAndIdentify();
        EXPECT_EQ(sellingLoop_->ProcessState(), 1);
    }

    // The user answers the not-ready dialog.
    void Answer(NotReadyAnswer answer) {
        host_.dialogShown = false;
        sellingLoop_->NotReadyDialogClosed(answer);
    }

    std::string In(const std::string& name) const { return settings_.InputPath + name; }
    std::string Out(const std::string& name) const { return settings_.OutputPath + name; }

    TempFolder folder_;
    ClientSettings settings_;
    ClientPasswords passwords_;
    FakeServer server_;
    PollLoop loop_;
    TestHost host_;
    std::unique_ptr<TSockClient> socket_;
    std::vector<std::string> log_;
    std::unique_ptr<SellingLoop> sellingLoop_;
};

TEST_F(SellingLoopTest, BeginShowsStopAndArmsTheStartTimer) {
    sellingLoop_->Begin();
    EXPECT_EQ(sellingLoop_->ProcessState(), 0);
    EXPECT_FALSE(host_.startItem);
    EXPECT_FALSE(host_.configureEnabled);
    EXPECT_EQ(loop_.Timer(), LoopTimer::Start);
}

TEST_F(SellingLoopTest, ServerVersionCheck) {
    struct Case {
        std::string version;
        std::uint8_t errorCode;
        bool accepted;
        std::string shownVersion;
    };
    const Case cases[] = {
        {"1.0.20.0", 0, true, "1.0.20.0"},  {"v1.0.21.1", 0, true, "v1.0.21.1"},
        {"2.0.0.0", 0, true, "2.0.0.0"},    {"1.0.19.9", 0, false, "1.0.19.9"},
        {"1.0.20", 0, false, "1.0.20"},     {"1.0.20.0", 7, false, "unknown"},
    };
    for (const Case& c : cases) {
        host_.errors.clear();
        Identify(c.version, c.errorCode);
        EXPECT_EQ(sellingLoop_->ServerVersionText(), c.shownVersion);
        if (c.accepted) {
            EXPECT_EQ(sellingLoop_->ProcessState(), 1) << c.version;
            EXPECT_TRUE(host_.running);
            EXPECT_EQ(loop_.Timer(), LoopTimer::ProcessingTick);
            EXPECT_TRUE(host_.errors.empty());
            sellingLoop_->StopProcessing();
        } else {
            EXPECT_EQ(sellingLoop_->ProcessState(), 0) << c.version;
            ASSERT_EQ(host_.errors.size(), 1u);
            EXPECT_EQ(host_.errors[0], "Error!\r\nWrong Harbendix version!\r\nCurrent: " +
                                           c.shownVersion + "\r\nRequired: v1.0.20.0 or above");
            EXPECT_TRUE(host_.startItem);
            EXPECT_TRUE(host_.configureEnabled);
        }
        EXPECT_TRUE(loop_.RunUntil([&] { return !socket_->HasSocket(); }));
    }
}

TEST_F(SellingLoopTest, MissingIdentificationReplyStopsAfterOneSecond) {
    sellingLoop_->ConnectToServer();
    ASSERT_TRUE(server_.Accept());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop_.RunUntil([&] { return !host_.errors.empty(); }, 10000));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_EQ(host_.errors[0],
              "Selvaro did not respond to indentification request.\r\n"
              "Please, check the application settings and Selvaro version");
    EXPECT_EQ(sellingLoop_->ProcessState(), 0);
    EXPECT_FALSE(socket_->Connected());
}

TEST_F(SellingLoopTest, SellsAFileWithTwoLinesOutstanding) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"),
              "S,1,______,_,__;2;1.50;\r\n"
              "N,1,______,_,__;_;__;____;\r\n"
              "P,1,______,_,__;thanks;\r\n");
    Identify("1.0.20.0");

    ClientMessage open = Next();
    EXPECT_EQ(open.SetNo, 13);
    EXPECT_EQ(open.Command, 1);
    EXPECT_EQ(open.LogNo, 1);
    EXPECT_EQ(open.Payload, "login");
    EXPECT_EQ(sellingLoop_->ProcessState(), 2);
    Reply(1, 1, 0);
    ClientMessage sale = Next();
    EXPECT_EQ(sale.Command, 4);
    EXPECT_EQ(sale.Payload, "1;2;1.50;");
    EXPECT_EQ(sellingLoop_->HeldSetList(), std::set<std::string>{"1"});

    // The answer reached the register: the next line goes out before the sale's own reply.
    Reply(160, 1, 0, ReceiptBlock(1234, 0), "1;2;1.50;");
    ClientMessage totals = Next();
    EXPECT_EQ(totals.Command, 12);
    EXPECT_EQ(totals.Payload, "_;__;____;");
    Reply(4, 1, 0, ReceiptBlock(1234, 0), "1;2;1.50;");
    Reply(12, 1, 0, ReceiptBlock(1234, 3), "1234;3;2;15;42;");
    ClientMessage print = Next();  // after a totals reply the next line follows
    EXPECT_EQ(print.Command, 5);
    Reply(160, 1, 0, ReceiptBlock(1235, 4));
    Settle();
    Reply(5, 1, 22, ReceiptBlock(1235, 4));
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.OUT")); }));
    EXPECT_EQ(ReadFile(Out("day.OUT")),
              "S,1,001234,0,Ok;2;1.50;\r\n"
              "N,1,001234,3,Ok;2;15;0042;\r\n"
              "P,1,001235,4,Er;thanks;\r\n");
    EXPECT_EQ(sellingLoop_->ProcessState(), 1);
}

TEST_F(SellingLoopTest, RefusedOpeningOfTheNewerLineReachesItsOwnLine) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"),
              "S,1,______,_,__;a;\n"
              "S,2,______,_,__;b;\n"
              "S,1,______,_,__;c;\n");
    Identify("1.0.20.0");
    EXPECT_EQ(Next().Command, 1);
    Reply(1, 1, 0);
    EXPECT_EQ(Next().Payload, "1;a;");
    Reply(160, 1, 0, ReceiptBlock(10, 1));
    ClientMessage openTwo = Next();
    EXPECT_EQ(openTwo.Command, 1);
    EXPECT_EQ(openTwo.LogNo, 2);
    Reply(1, 2, 8);  // wrong SET password for register 2
    ClientMessage third = Next();  // a third line while the first is still outstanding
    EXPECT_EQ(third.Command, 4);
    EXPECT_EQ(third.LogNo, 1);
    EXPECT_EQ(third.Payload, "1;c;");
    Reply(160, 1, 0, ReceiptBlock(11, 2));
    Settle();
    Reply(4, 1, 0, ReceiptBlock(10, 1));
    Reply(4, 1, 0, ReceiptBlock(11, 2));
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.OUT")); }));
    EXPECT_EQ(ReadFile(Out("day.OUT")),
              "S,1,000010,1,Ok;a;\n"
              "S,2,000000,0,08;b;\n"
              "S,1,000011,2,Ok;c;\n");
}

TEST_F(SellingLoopTest, RefusedOpeningOfTheLastLineWaitsForTheOlderReply) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"), "S,1,______,_,__;a;\nS,2,______,_,__;b;\n");
    SellFirstLine(1);
    Reply(160, 1, 0, ReceiptBlock(10, 1));
    EXPECT_EQ(Next().LogNo, 2);
    Reply(1, 2, 2);
    Settle();
    EXPECT_FALSE(std::filesystem::exists(Out("day.OUT")));  // line 1 still waits
    Reply(4, 1, 0, ReceiptBlock(10, 1));
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.OUT")); }));
    EXPECT_EQ(ReadFile(Out("day.OUT")), "S,1,000010,1,Ok;a;\nS,2,000000,0,02;b;\n");
}

TEST_F(SellingLoopTest, LinkErrorsResendTwentyTimesThenWriteTheLastError) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"), "S,3,______,_,__;x;\n");
    Identify("1.0.20.0");
    Next();
    Reply(1, 3, 0);
    EXPECT_EQ(Next().Command, 4);
    for (int attempt = 1; attempt <= 20; ++attempt) {
        Reply(160, 3, attempt % 2 ? 10 : 17);
        Reply(4, 3, 22);
        ClientMessage again = Next();
        ASSERT_EQ(again.Command, 4) << attempt;
        ASSERT_EQ(again.Payload, "1;x;");
    }
    Reply(160, 3, 21);
    Reply(4, 3, 22);
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.OUT")); }));
    EXPECT_EQ(ReadFile(Out("day.OUT")), "S,3,000000,0,15;x;\n");
    EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                            [](const std::string& l) { return l.rfind("Phisical line error: ", 0) == 0; }),
              20);
    EXPECT_NE(std::find(log_.begin(), log_.end(), "Phisical line error: 20"), log_.end());
}

TEST_F(SellingLoopTest, NotExecutedWithoutLinkErrorsWritesErAndSendsNothingMore) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"), "S,1,______,_,__;x;\n");
    SellFirstLine(1);
    Reply(160, 1, 0);
    Reply(4, 1, 22);
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.OUT")); }));
    EXPECT_EQ(ReadFile(Out("day.OUT")), "S,1,000000,0,Er;x;\n");
    EXPECT_TRUE(server_.Silent(100));
}

TEST_F(SellingLoopTest, NotReadyDialogCancelAbandonsTheFile) {
    settings_.Action = "NO_OUTPUT";
    WriteFile(In("day.inp"), "S,4,______,_,__;x;\nS,4,______,_,__;y;\n");
    SellFirstLine(4);
    // TimeOut 1 s: the dialog after two ticks without a reply.
    ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 10000));
    EXPECT_EQ(host_.notReady[0], "Cash Register 4 not ready.\r\nFile: day.inp");
    EXPECT_FALSE(loop_.Timer().has_value());

    Answer(NotReadyAnswer::Cancel);
    ClientMessage cancel = Next();
    EXPECT_EQ(cancel.Command, 3);
    EXPECT_EQ(cancel.LogNo, 4);
    // Without the cancel reply the dialog comes back on the next tick.
    const auto cancelled = std::chrono::steady_clock::now();
    ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - cancelled, std::chrono::milliseconds(400));
    EXPECT_EQ(host_.notReady.size(), 2u);
    // A reply closes the dialog. After the cancel reply the file waits TimeOut seconds for
    // a reply that the line sent may still get; none comes: the file is finished, and the
    // connection is opened anew, so that no late reply of that line reaches another line.
    Reply(3, 4, 0);
    ASSERT_TRUE(loop_.RunUntil([&] { return !std::filesystem::exists(In("day.inp")); }));
    EXPECT_FALSE(host_.dialogShown);
    ExpectConnectionOpenedAnew();
    EXPECT_EQ(loop_.Timer(), LoopTimer::ProcessingTick);
}

TEST_F(SellingLoopTest, NotReadyDialogCancelAfterTheLastResultWasWritten) {
    // A final reply without the early one (a server in its old fiscal-printer mode, which
    // sends no receipt reference either) writes the result and leaves no line outstanding;
    // the file waits for a reply that never comes.
    settings_.Action = "NO_OUTPUT";
    WriteFile(In("day.inp"), "S,4,______,_,__;x;\nS,4,______,_,__;y;\n");
    SellFirstLine(4);
    Reply(4, 4, 0);
    ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 10000));
    EXPECT_EQ(sellingLoop_->Input().OutstandingLines(), 0);
    EXPECT_EQ(host_.notReady[0], "Cash Register 4 not ready.\r\nFile: day.inp");

    Answer(NotReadyAnswer::Cancel);
    ClientMessage cancel = Next();
    EXPECT_EQ(cancel.SetNo, 13);
    EXPECT_EQ(cancel.Command, 3);
    EXPECT_EQ(cancel.LogNo, 4);
    Reply(3, 4, 0);
    ASSERT_TRUE(loop_.RunUntil([&] { return !std::filesystem::exists(In("day.inp")); }));
    EXPECT_FALSE(host_.dialogShown);
    EXPECT_EQ(sellingLoop_->ProcessState(), 1);
}

TEST_F(SellingLoopTest, StopWhileTheNotReadyDialogIsShownLeavesTheTimerOff) {
    struct Case {
        const char* name;
        std::function<void()> stop;
        bool fileKept;  // a stop the user did not ask for keeps the line that was not sold
    };
    const Case cases[] = {
        {"menu", [&] { host_.typedPassword = "secret"; sellingLoop_->StartStopClicked(); }, false},
        {"server", [&] { server_.DropClient(); }, true},
    };
    for (const Case& c : cases) {
        WriteFile(In("day.inp"), "S,4,______,_,__;x;\n");
        Identify("1.0.20.0");
        Next();
        ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 10000)) << c.name;
        c.stop();
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; })) << c.name;
        EXPECT_EQ(std::filesystem::exists(In("day.inp")), c.fileKept) << c.name;
        EXPECT_FALSE(host_.dialogShown) << c.name;
        EXPECT_FALSE(loop_.Timer().has_value()) << c.name;
        loop_.RunFor(700);  // a tick would have come by now
        EXPECT_FALSE(host_.dialogShown) << c.name;
        EXPECT_EQ(host_.notReady.size(), 1u) << c.name;
        EXPECT_EQ(sellingLoop_->ProcessState(), 0) << c.name;
        ASSERT_TRUE(loop_.RunUntil([&] { return !socket_->HasSocket(); })) << c.name;
        host_.notReady.clear();
    }
}

TEST_F(SellingLoopTest, OutputThatWouldBeAnInputFileStopsSelling) {
    settings_.Action = "REPLACE";
    settings_.OutputPath = settings_.InputPath;
    settings_.OutputExt = "inp";  // "day.INP" would become "day.inp", an input file too
    WriteFile(In("day.INP"), "S,1,______,_,__;x;\n");
    SellFirstLine(1);
    Reply(160, 1, 0, ReceiptBlock(7, 1));
    Reply(4, 1, 0, ReceiptBlock(7, 1));
    ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    EXPECT_EQ(ReadFile(In("day.INP")), "S,1,000007,1,Ok;x;\n");
    EXPECT_FALSE(std::filesystem::exists(In("day.inp")));
    EXPECT_EQ(sellingLoop_->StopReason(), kStopOutputNamesInput);
    EXPECT_NE(std::find(log_.begin(), log_.end(),
                        "Selling stopped: the output folder and extension name the input files"),
              log_.end());
    EXPECT_TRUE(host_.startItem);
    EXPECT_TRUE(host_.configureEnabled);
    EXPECT_FALSE(host_.running);
    EXPECT_FALSE(loop_.Timer().has_value());
    EXPECT_TRUE(host_.errors.empty());
    ASSERT_TRUE(loop_.RunUntil([&] { return !socket_->HasSocket(); }));

    // Started again unmended, the file is found again and the loop stops again.
    server_.DropClient();
    Identify("1.0.20.0");
    EXPECT_TRUE(sellingLoop_->StopReason().empty());
    ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    EXPECT_EQ(sellingLoop_->StopReason(), kStopOutputNamesInput);
    EXPECT_EQ(ReadFile(In("day.INP")), "S,1,000007,1,Ok;x;\n");
    ASSERT_TRUE(loop_.RunUntil([&] { return !socket_->HasSocket(); }));

    // Mended, the next start finishes it into the output folder.
    settings_.OutputPath = folder_.Sub("out");
    server_.DropClient();
    Identify("1.0.20.0");
    ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out("day.inp")); }));
    EXPECT_EQ(ReadFile(Out("day.inp")), "S,1,000007,1,Ok;x;\n");
    EXPECT_FALSE(std::filesystem::exists(In("day.INP")));
    EXPECT_EQ(sellingLoop_->ProcessState(), 1);
    EXPECT_TRUE(sellingLoop_->StopReason().empty());
}

TEST_F(SellingLoopTest, NotReadyDialogRetryWaitsAgain) {
    WriteFile(In("day.inp"), "S,4,______,_,__;x;\n");
    Identify("1.0.20.0");
    Next();
    ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 10000));
    Answer(NotReadyAnswer::Retry);
    EXPECT_EQ(sellingLoop_->NotReadyCounter(), 0);
    EXPECT_EQ(loop_.Timer(), LoopTimer::ProcessingTick);
    EXPECT_TRUE(server_.Silent(300));  // no cancel
}

TEST_F(SellingLoopTest, StopInTheMiddleAppliesTheOutputAction) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"), "S,1,______,_,__;x;\nS,1,______,_,__;y;\n");
    SellFirstLine(1);
    host_.typedPassword = "wrong";
    sellingLoop_->StartStopClicked();
    EXPECT_EQ(sellingLoop_->ProcessState(), 2);
    host_.typedPassword = "secret";
    sellingLoop_->StartStopClicked();
    EXPECT_EQ(sellingLoop_->ProcessState(), 0);
    EXPECT_TRUE(host_.startItem);
    EXPECT_TRUE(sellingLoop_->HeldSetList().empty());
    // x went out (it may be sold), y did not.
    EXPECT_EQ(ReadFile(Out("day.OUT")), "S,1,000000,0,??;x;\nS,1,______,_,__;y;\n");
    // A frame after the stop changes nothing (the connection is gone anyway).
    EXPECT_FALSE(socket_->Connected());
    // Start again connects without a password.
    const int questions = host_.passwordQuestions;
    sellingLoop_->StartStopClicked();
    ASSERT_TRUE(server_.Accept());
    ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 3; }));
    EXPECT_EQ(host_.passwordQuestions, questions);
}

TEST_F(SellingLoopTest, ServerDisconnectStops) {
    WriteFile(In("day.inp"), "S,1,______,_,__;x;\n");
    Identify("1.0.20.0");
    Next();
    server_.DropClient();
    ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    EXPECT_TRUE(host_.startItem);
    EXPECT_FALSE(host_.running);
    // The line was not sold: the file stays for the next start (REPLACE by default).
    EXPECT_EQ(ReadFile(In("day.inp")), "S,1,______,_,__;x;\n");
    EXPECT_FALSE(std::filesystem::exists(Out("day.OUT")));
    EXPECT_EQ(sellingLoop_->StopReason(), kStopServerClosed);
}

TEST_F(SellingLoopTest, RefusedConnectionIsReportedAndStops) {
    {
        FakeServer gone;
        settings_.Port = gone.Port();
    }
    sellingLoop_->ConnectToServer();
    ASSERT_TRUE(loop_.RunUntil([&] { return !host_.errors.empty(); }));
    EXPECT_EQ(host_.errors[0], "IPClient error\r\n" + SocketErrorText(ECONNREFUSED));
    EXPECT_EQ(log_.at(0), "IPClientError: 111\r\n" + SocketErrorText(ECONNREFUSED));
    EXPECT_EQ(sellingLoop_->ProcessState(), 0);
}

TEST_F(SellingLoopTest, QuitRequestsAndClosing) {
    // Wrong password: nothing.
    sellingLoop_->OnQuitRequest(2, "bad", false);
    EXPECT_FALSE(sellingLoop_->QuitFlag());
    EXPECT_EQ(host_.closeRequests, 0);
    // Looped back or another message: ignored.
    sellingLoop_->OnQuitRequest(2, "secret", true);
    sellingLoop_->OnQuitRequest(1, "secret", false);
    EXPECT_EQ(host_.closeRequests, 0);

    // A valid request while the password dialog is open: no close, but the flag stays.
    host_.typedPassword = "wrong";
    host_.duringPassword = [&] { sellingLoop_->OnQuitRequest(2, "secret", false); };
    EXPECT_FALSE(sellingLoop_->CloseQuery());
    EXPECT_TRUE(sellingLoop_->QuitFlag());
    EXPECT_EQ(host_.closeRequests, 1);
    EXPECT_FALSE(host_.closed);
    host_.duringPassword = nullptr;

    // The next Exit closes without asking.
    const int questions = host_.passwordQuestions;
    EXPECT_TRUE(sellingLoop_->CloseQuery());
    EXPECT_EQ(host_.passwordQuestions, questions);
    EXPECT_TRUE(host_.trayHidden);
    EXPECT_GE(host_.passwordSaves, 2);
}

TEST_F(SellingLoopTest, QuitRequestFinishesTheFileInWork) {
    settings_.Action = "REPLACE";
    WriteFile(In("day.inp"), "S,1,______,_,__;x;\n");
    Identify("1.0.20.0");
    Next();
    sellingLoop_->OnQuitRequest(2, "secret", false);
    EXPECT_TRUE(host_.closed);
    EXPECT_TRUE(std::filesystem::exists(Out("day.OUT")));
}

TEST_F(SellingLoopTest, InvalidFileIsLoggedAndFinished) {
    settings_.Action = "NO_OUTPUT";
    WriteFile(In("old.inp"), "S,1,000001,0,Ok;x;\n");
    Identify("1.0.20.0");
    ASSERT_TRUE(loop_.RunUntil([&] { return !std::filesystem::exists(In("old.inp")); }));
    EXPECT_NE(std::find(log_.begin(), log_.end(), "Invalid input file " + In("old.inp")), log_.end());
    EXPECT_EQ(sellingLoop_->ProcessState(), 1);
}

// Sequences of events against lines that went out: a file handed over again while in work,
// a cancel with replies still owed, a server that dies, a result that cannot be written.

// A sale line of an input file, as written ("S,1,______,_,__;a1;") and as sold.
std::string Line(int logNo, const std::string& data) {
    return "S," + std::to_string(logNo) + ",______,_,__;" + data + ";\n";
}
std::string Sold(int logNo, int serial, int digit, const std::string& code, const std::string& data) {
    char result[32];
    std::snprintf(result, sizeof result, "%.6d,%.1d,", serial, digit);
    return "S," + std::to_string(logNo) + "," + result + code + ";" + data + ";\n";
}
// The line once its request has left, before any reply: the register may have it.
std::string Sent(int logNo, const std::string& data) { return Sold(logNo, 0, 0, "??", data); }

// A regular file that even root may not open for writing.
constexpr char kUnwritableFile[] = "/proc/sys/kernel/ostype";

// An input file name that the longest file name allows, but not with ".check" after it.
std::string LongInputName() { return std::string(251 - 4, 'a') + ".inp"; }
std::string LongOutputName() { return std::string(251 - 4, 'a') + ".OUT"; }

// The receipt reference of one sale: the server numbers each one.
std::string Ref(std::int32_t sequence, std::int32_t serial, std::uint8_t digit) {
    return ReceiptRef{7, sequence, serial, digit}.Encode();
}

class SellingSequenceTest;

struct SequenceCase {
    std::string name{};
    std::string action{};
    int timeOut = 1;  // seconds
    std::vector<std::pair<std::string, std::string>> inputs{};  // name and content at the start
    std::function<void(SellingSequenceTest&)> play{};
    std::map<std::string, std::string> inputAfter{};   // the input folder at the end
    std::map<std::string, std::string> outputAfter{};  // the output folder; "Wx*" a unique name
    std::vector<std::string> logged{};                 // the log holds lines that begin so
    bool inputFolderFrozen = false;  // nothing can be renamed or removed in the input folder
};

std::ostream& operator<<(std::ostream& out, const SequenceCase& c) { return out << c.name; }

// The steps of the sequences, each on the fixture's fake server and loop.
class SellingSequenceTest : public SellingLoopTest, public ::testing::WithParamInterface<SequenceCase> {
public:
    using SellingLoopTest::In;
    using SellingLoopTest::Next;
    void Start() { Identify("1.0.20.0"); }
    void ExpectOpen(int logNo) {
        const ClientMessage open = Next();
        EXPECT_EQ(open.Command, cmdOpenSet);
        EXPECT_EQ(open.LogNo, logNo);
        Reply(cmdOpenSet, static_cast<std::uint8_t>(logNo), 0);
    }
    void ExpectRequest(int logNo, const std::string& data, int withinMs = 5000) {
        const ClientMessage request = Next(withinMs);
        EXPECT_EQ(request.Command, copSell);
        EXPECT_EQ(request.LogNo, logNo);
        EXPECT_EQ(request.Payload, "1;" + data + ";");
    }
    void ExpectCancel(int logNo) {
        const ClientMessage cancel = Next();
        EXPECT_EQ(cancel.Command, cmdCancelSet);
        EXPECT_EQ(cancel.LogNo, logNo);
    }
    void ExpectNothing(int forMs = 300) {
        loop_.RunFor(forMs);
        EXPECT_FALSE(server_.ReadMessage(0).has_value());
    }
    // For three ticks and more, SET openings are granted and no request with `data` comes.
    void ExpectNotSold(const std::string& data) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1600);
        while (std::chrono::steady_clock::now() < end) {
            std::optional<std::string> message;
            loop_.RunUntil([&] { return (message = server_.ReadMessage(0)).has_value(); }, 100);
            if (!message) continue;
            const ClientMessage request = ParseClientMessage(*message);
            if (request.Command == cmdOpenSet) Reply(cmdOpenSet, request.LogNo, 0);
            EXPECT_NE(request.Payload, "1;" + data + ";") << "sold again: " << data;
        }
    }
    // The register's answer for the line was lost on the link (a NAK): the early reply
    // reports it, and the final reply says that the register did not execute it.
    void LostOnTheLink(int logNo, const std::string& ref) {
        Reply(cmdAnswerSentReply, static_cast<std::uint8_t>(logNo), 17, ref);
        Reply(copSell, static_cast<std::uint8_t>(logNo), 22, ref);
    }
    // The next request goes to register `logNo` with `command`.
    void ExpectCommand(int logNo, std::uint8_t command) {
        const ClientMessage request = Next();
        EXPECT_EQ(request.Command, command);
        EXPECT_EQ(request.LogNo, logNo);
    }
    // A reply that no early reply went before: a totals line's, or a refusal.
    void FinalWithoutEarly(std::uint8_t command, int logNo, std::uint8_t code, const std::string& ref,
                const std::string& payload = "") {
        Reply(command, static_cast<std::uint8_t>(logNo), code, ref, payload);
    }
    void Early(int logNo, const std::string& ref) {
        Reply(cmdAnswerSentReply, static_cast<std::uint8_t>(logNo), 0, ref);
    }
    void Final(int logNo, const std::string& ref) {
        Reply(copSell, static_cast<std::uint8_t>(logNo), 0, ref);
    }
    void CancelReply(int logNo) { Reply(cmdCancelSet, static_cast<std::uint8_t>(logNo), 0); }
    // a1 of register 1 reached the register (early reply `ref`), and a2 went out after it.
    void FirstLineOutSecondSent(const std::string& ref, int secondRegister = 1) {
        Start();
        ExpectOpen(1);
        ExpectRequest(1, "a1");
        Early(1, ref);
        if (secondRegister != 1) ExpectOpen(secondRegister);
        ExpectRequest(secondRegister, "a2");
    }
    // The same with a2 for register 2, which stays silent: the user cancels the file.
    void CancelWhileRegisterTwoIsSilent() {
        FirstLineOutSecondSent(Ref(1, 11, 1), 2);
        CancelWhenNotReady();
        ExpectCancel(2);
    }
    // a1, the only line of a.inp, went to register 4, which stays silent: the user cancels.
    void CancelA1OnRegisterFour() {
        Start();
        ExpectOpen(4);
        ExpectRequest(4, "a1");
        CancelWhenNotReady();
        ExpectCancel(4);
    }
    // The same for a line of `command`.
    void CancelOnlyLineOnRegisterFour(std::uint8_t command) {
        Start();
        ExpectOpen(4);
        ExpectCommand(4, command);
        CancelWhenNotReady();
        ExpectCancel(4);
    }
    void CancelWhenNotReady() {
        ASSERT_TRUE(loop_.RunUntil([&] { return host_.dialogShown; }, 10000));
        Answer(NotReadyAnswer::Cancel);
    }
    // The other application hands a new file over under `name`: written aside, renamed
    // into place.
    void HandOver(const std::string& name, const std::string& content) {
        WriteFile(In(name + ".new"), content);
        std::filesystem::rename(In(name + ".new"), In(name));
    }
    // The file is still in work: in the input folder, not finished.
    void ExpectFileInWork(const std::string& name) {
        loop_.RunFor(300);
        EXPECT_TRUE(std::filesystem::exists(In(name)));
        EXPECT_TRUE(std::filesystem::is_empty(settings_.OutputPath)) << "finished already";
        EXPECT_TRUE(sellingLoop_->Input().IsOpen());
    }
    void UserStops() {
        host_.typedPassword = "secret";
        sellingLoop_->StartStopClicked();
        EXPECT_EQ(sellingLoop_->ProcessState(), 0);
    }
    // A second start asks the program to end (the user's Exit).
    void ProgramEnds() {
        sellingLoop_->OnQuitRequest(smQuitMessage, "secret", false);
        EXPECT_TRUE(host_.closed);
    }
    // The session ends, or the system asks the program to end (SIGTERM).
    void SessionEnds() {
        sellingLoop_->EndOfSession();
        EXPECT_TRUE(host_.closed);
    }
    // The program is killed and started again, and selling starts.
    void KilledAndStartedAgain() {
        KillAndRestart();
        Start();
    }
    void ConnectionOpenedAnew() { ExpectConnectionOpenedAnew(); }
    // The files passed over are these, in this order.
    void ExpectPassedOver(const std::vector<std::string>& paths) {
        std::vector<std::string> passedOver;
        for (const PassedOverFiles::Entry& entry : sellingLoop_->Input().PassedOver()) {
            passedOver.push_back(entry.path);
        }
        EXPECT_EQ(passedOver, paths);
    }
    // How many log lines begin with `text`.
    long LoggedTimes(const std::string& text) const {
        return std::count_if(log_.begin(), log_.end(), [&](const std::string& l) { return l.rfind(text, 0) == 0; });
    }
    bool Closed() const { return host_.closed; }
    void ServerCloses() {
        server_.DropClient();
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    }
    void ServerDies() {
        server_.ResetClient();
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    }
    // From now on the input file `name` in work can be read but not written.
    void WritesFail(const std::string& name) {
        const std::filesystem::path file = std::filesystem::canonical(In(name));
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry.path(), error) != file) continue;
            const int readOnly = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(readOnly, 0);
            ASSERT_GE(::dup3(readOnly, std::stoi(entry.path().filename()), O_CLOEXEC), 0);
            ::close(readOnly);
            return;
        }
        FAIL() << "the input file is not open";
    }
    // a1 of a.inp went to register 1, and its "??" cannot be written at the early reply.
    void EarlyReplyOfA1CannotBeWritten(const std::string& name = "a.inp") {
        Start();
        ExpectOpen(1);
        ExpectRequest(1, "a1");
        WritesFail(name);
        Early(1, Ref(1, 11, 1));
        WaitUntilStopped();
    }
    void WaitForOutput(const std::string& name) {
        ASSERT_TRUE(loop_.RunUntil([&] { return std::filesystem::exists(Out(name)); }));
    }
    void WaitUntilStopped() {
        ASSERT_TRUE(loop_.RunUntil([&] { return sellingLoop_->ProcessState() == 0; }));
    }
    std::string InputContent(const std::string& name) const { return ReadFile(In(name)); }
    void ExpectStopReasonNames(int line, const std::string& name, const std::string& keptAs = "") {
        EXPECT_EQ(StopReason(), std::string(kStopResultNotWritten) + ": check line " +
                                    std::to_string(line) + " of " + In(name) + "; the file is kept as " +
                                    In(keptAs.empty() ? "check/" + name : keptAs));
    }
    void ExpectStopReasonPassesOver(int line, const std::string& name) {
        EXPECT_EQ(StopReason(), std::string(kStopResultNotWritten) + ": check line " +
                                    std::to_string(line) + " of " + In(name) +
                                    ", which could not be moved out of the input folder and is"
                                    " passed over until it changes or is moved away");
    }
    const std::string& StopReason() const { return sellingLoop_->StopReason(); }

protected:
    // Every file of `folder` and its subfolders with its content, named from `folder` on; a
    // unique output name shows as "Wx*".
    static std::map<std::string, std::string> Files(const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            std::string name = entry.path().lexically_relative(folder).string();
            const std::string content = ReadFile(entry.path().string());
            if (name.size() == 14 && name.starts_with("Wx") && name.ends_with(".OUT")) name = "Wx*";
            files[name] = content;
        }
        return files;
    }
};

TEST_P(SellingSequenceTest, SoldOnceIntoItsOwnLine) {
    const SequenceCase& c = GetParam();
    settings_.Action = c.action;
    settings_.TimeOut = c.timeOut;
    for (const auto& [name, content] : c.inputs) {
        std::filesystem::create_directories(std::filesystem::path(In(name)).parent_path());
        WriteFile(In(name), content);
    }
    std::optional<FrozenFolder> frozen;
    if (c.inputFolderFrozen) {
        frozen.emplace(settings_.InputPath);
        if (!frozen->Frozen()) GTEST_SKIP() << "the input folder cannot be made read-only here";
    }
    c.play(*this);
    EXPECT_EQ(Files(settings_.InputPath), c.inputAfter);
    EXPECT_EQ(Files(settings_.OutputPath), c.outputAfter);
    for (const std::string& line : c.logged) {
        EXPECT_TRUE(std::any_of(log_.begin(), log_.end(),
                                [&](const std::string& l) { return l.rfind(line, 0) == 0; }))
            << "no log line begins with: " << line;
    }
}

std::vector<SequenceCase> HandOverCases() {
    // a.inp's first line sold, its second one sent, when a new a.inp replaces it.
    const auto play = [](SellingSequenceTest& t) {
        t.FirstLineOutSecondSent(Ref(1, 11, 1));
        t.Final(1, Ref(1, 11, 1));
        t.HandOver("day.inp", Line(1, "b1"));
        t.Early(1, Ref(2, 11, 2));
        t.Final(1, Ref(2, 11, 2));
        t.ExpectRequest(1, "b1");  // the new file, at the next tick
    };
    const std::string sold = Sold(1, 11, 1, "Ok", "a1") + Sold(1, 11, 2, "Ok", "a2");
    std::vector<SequenceCase> cases;
    for (const auto& [action, output] : std::vector<std::pair<std::string, std::string>>{
             {"REPLACE", "day.OUT"}, {"APPEND", "day.OUT"}, {"UNIQUE", "Wx*"}, {"NO_OUTPUT", ""}}) {
        SequenceCase c{.name = "HandedOverAgainWhileInWork_" + action,
                       .action = action,
                       .inputs = {{"day.inp", Line(1, "a1") + Line(1, "a2")}},
                       .play = play,
                       .inputAfter = {{"day.inp", Sent(1, "b1")}},
                       .logged = {"The input file "}};
        if (!output.empty()) c.outputAfter = {{output, sold}};
        cases.push_back(c);
    }
    return cases;
}

// Data whose sale request ("1;" + data + ";") has `requestLength` bytes.
std::string DataOfRequestLength(std::size_t requestLength) {
    return std::string(requestLength - 3, 'x');  // "1;" + data + ";"
}

std::vector<SequenceCase> EndAndLimitCases() {
    std::vector<SequenceCase> cases;
    cases.push_back({
        // The mark is on the disk before the request leaves: a kill (or a power cut) right
        // after it does not make the line be sold again.
        .name = "KilledAfterARequestLeftDoesNotSellItAgain",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a1");
                EXPECT_EQ(t.InputContent("a.inp"), Sent(1, "a1") + Line(1, "a2"));
                t.KilledAndStartedAgain();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a2");
                t.Early(1, Ref(1, 11, 1));
                t.Final(1, Ref(1, 11, 1));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sent(1, "a1") + Sold(1, 11, 1, "Ok", "a2")}},
    });
    // The end of the session keeps the lines nobody chose to abandon, whatever the action;
    // the user's Exit finishes the file with it.
    for (const auto& [name, end, input, kept] :
         std::vector<std::tuple<std::string, std::function<void(SellingSequenceTest&)>, std::string, bool>>{
             {"EndOfTheSessionKeepsAFileWithLinesToSellWithoutOutput", [](SellingSequenceTest& t) { t.SessionEnds(); },
              Line(1, "a1") + Line(1, "a2"), true},
             {"EndOfTheSessionFinishesAFileWithoutLinesToSell", [](SellingSequenceTest& t) { t.SessionEnds(); },
              Line(1, "a1"), false},
             {"ExitFinishesAFileWithLinesToSellWithItsAction", [](SellingSequenceTest& t) { t.ProgramEnds(); },
              Line(1, "a1") + Line(1, "a2"), false}}) {
        SequenceCase c{
            .name = name,
            .action = "NO_OUTPUT",
            .inputs = {{"a.inp", input}},
            .play =
                [end](SellingSequenceTest& t) {
                    t.Start();
                    t.ExpectOpen(1);
                    t.ExpectRequest(1, "a1");
                    end(t);
                },
        };
        if (kept) c.inputAfter = {{"a.inp", Sent(1, "a1") + Line(1, "a2")}};
        cases.push_back(c);
    }
    // A finished file that cannot be removed from the input folder is passed over, also
    // after a new start: its output is written once, and it is logged once.
    for (const auto& [action, output] : std::vector<std::pair<std::string, bool>>{
             {"APPEND", true}, {"REPLACE", false}, {"UNIQUE", false}, {"NO_OUTPUT", false}}) {
        SequenceCase c{
            .name = "FinishedFileThatCannotLeaveTheInputFolderIsPassedOver_" + action,
            .action = action,
            .inputs = {{"a.inp", Line(1, "a1")}, {"b.inp", Line(1, "b1")}},
            .play =
                [](SellingSequenceTest& t) {
                    t.Start();
                    t.ExpectOpen(1);
                    t.ExpectRequest(1, "a1");
                    t.Early(1, Ref(1, 11, 1));
                    t.Final(1, Ref(1, 11, 1));
                    t.ExpectRequest(1, "b1");  // a.inp is passed over
                    t.Early(1, Ref(2, 11, 2));
                    t.Final(1, Ref(2, 11, 2));
                    t.ExpectNothing(1600);
                    t.ExpectPassedOver({t.In("a.inp"), t.In("b.inp")});
                    t.KilledAndStartedAgain();
                    t.ExpectNothing(1600);
                    t.ExpectPassedOver({t.In("a.inp"), t.In("b.inp")});
                    EXPECT_EQ(t.LoggedTimes("Passed over "), 2);
                    EXPECT_EQ(t.LoggedTimes("Invalid input file "), 0);
                },
            .inputAfter = {{"a.inp", Sold(1, 11, 1, "Ok", "a1")}, {"b.inp", Sold(1, 11, 2, "Ok", "b1")}},
            .inputFolderFrozen = true,
        };
        if (output) c.outputAfter = {{"a.OUT", Sold(1, 11, 1, "Ok", "a1")}, {"b.OUT", Sold(1, 11, 2, "Ok", "b1")}};
        cases.push_back(c);
    }
    cases.push_back({
        // A server in its old fiscal-printer mode sends no early reply: the next line waits
        // for one, and the file for the not-ready dialog. The program needs the server's
        // OldFPMode 0.
        .name = "ServerInItsOldFiscalPrinterModeGetsOnlyTheFirstLineOfAFile",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a1");
                t.FinalWithoutEarly(copSell, 1, 0, "");
                t.CancelWhenNotReady();
                t.ExpectCancel(1);
                t.CancelReply(1);
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 0, 0, "Ok", "a1") + Line(1, "a2")}},
    });
    cases.push_back({
        // A request longer than one message (255 bytes with its 5-byte header) would go out
        // cut: it is not sent and its line shows 18 (buffer overflow); one of exactly 250
        // bytes goes.
        .name = "LineWhoseRequestDoesNotFitIntoOneMessageIsNotSent",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, DataOfRequestLength(251)) + Line(1, DataOfRequestLength(250)) + Line(1, "a3")}},
        .play =
            [](SellingSequenceTest& t) {
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, DataOfRequestLength(250));
                t.Early(1, Ref(1, 11, 1));
                t.ExpectRequest(1, "a3");
                t.Final(1, Ref(1, 11, 1));
                t.Early(1, Ref(2, 11, 2));
                t.Final(1, Ref(2, 11, 2));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 0, 0, "12", DataOfRequestLength(251)) +
                                      Sold(1, 11, 1, "Ok", DataOfRequestLength(250)) + Sold(1, 11, 2, "Ok", "a3")}},
        .logged = {"Line 1 of "},
    });
    cases.push_back({
        // The register line carries at most 253 data bytes less the fill bytes of its speed
        // (4 at 4800 bit/s), and the register gets "L;" and the request: a request of 248
        // bytes fits one message but not the line. The server refuses it with 18, which
        // the line shows, and the next line goes.
        .name = "LineThatDoesNotFitTheRegisterLineIsRefusedWith18",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, DataOfRequestLength(248)) + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.Start();
                t.ExpectOpen(1);
                const ClientMessage request = t.Next();
                constexpr std::size_t kLineDataAt4800 = 253 - 4;
                ASSERT_GT(std::string("L;").size() + request.Payload.size(), kLineDataAt4800);
                t.FinalWithoutEarly(copSell, 1, erBufferOverflow, "");
                t.ExpectRequest(1, "a2");
                t.Early(1, Ref(1, 11, 1));
                t.Final(1, Ref(1, 11, 1));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 0, 0, "12", DataOfRequestLength(248)) + Sold(1, 11, 1, "Ok", "a2")}},
    });
    cases.push_back({
        // a.inp may not be opened (a file of another user's, here a name for a file of the
        // system that nobody may write): it is logged once and passed over, b.inp is sold.
        .name = "InputFileThatCannotBeOpenedIsLoggedOnceAndPassedOver",
        .action = "REPLACE",
        .inputs = {{"b.inp", Line(1, "b1")}},
        .play =
            [](SellingSequenceTest& t) {
                std::filesystem::create_symlink(kUnwritableFile, t.In("a.inp"));
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "b1");
                t.Early(1, Ref(1, 11, 1));
                t.Final(1, Ref(1, 11, 1));
                t.WaitForOutput("b.OUT");
                t.ExpectNothing(1200);
                EXPECT_EQ(t.LoggedTimes("Cannot open input file " + t.In("a.inp") + ": "), 1);
            },
        .inputAfter = {{"a.inp", ReadFile(kUnwritableFile)}},
        .outputAfter = {{"b.OUT", Sold(1, 11, 1, "Ok", "b1")}},
    });
    return cases;
}

std::vector<SequenceCase> SequenceCases() {
    std::vector<SequenceCase> cases = HandOverCases();
    for (SequenceCase& c : EndAndLimitCases()) cases.push_back(std::move(c));
    cases.push_back({
        .name = "FinalReplyOwedByACancelledFileIsDroppedNotWrittenIntoTheNextFile",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(2, "a2") + Line(2, "a3")}, {"b.inp", Line(1, "b1")}},
        .play =
            [](SellingSequenceTest& t) {
                t.CancelWhileRegisterTwoIsSilent();
                t.CancelReply(2);
                t.Early(2, Ref(1, 22, 5));  // a2's: the file is finished
                t.ExpectRequest(1, "b1");
                t.Final(1, Ref(1, 11, 1));  // owed by a1, whose file is finished
                t.Early(1, Ref(2, 11, 2));
                t.Final(1, Ref(2, 11, 2));
                t.WaitForOutput("b.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 11, 1, "??", "a1") + Sold(2, 22, 5, "??", "a2") + Line(2, "a3")},
                        {"b.OUT", Sold(1, 11, 2, "Ok", "b1")}},
        .logged = {"Finished ", "Reply of a line of "},
    });
    cases.push_back({
        .name = "RepliesBetweenACancelAndItsReplyReachTheirLinesAndSendNoLine",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(2, "a2") + Line(1, "a3")}},
        .play =
            [](SellingSequenceTest& t) {
                t.CancelWhileRegisterTwoIsSilent();
                t.Early(2, Ref(1, 22, 5));  // register 2 took a2 before the cancel reached it
                t.Final(1, Ref(1, 11, 1));
                t.ExpectNothing();  // no a3
                t.CancelReply(2);
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 11, 1, "Ok", "a1") + Sold(2, 22, 5, "??", "a2") + Line(1, "a3")}},
    });
    cases.push_back({
        .name = "ReplyToASecondCancelDoesNotFinishTheNextFile",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(4, "a1")}, {"b.inp", Line(4, "b1") + Line(4, "b2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.CancelA1OnRegisterFour();
                t.CancelWhenNotReady();  // no reply yet: the dialog came back
                t.ExpectCancel(4);
                t.CancelReply(4);
                t.Early(4, Ref(1, 44, 1));  // a1's: the file is finished
                t.ExpectRequest(4, "b1");
                t.CancelReply(4);  // the second cancel's
                t.Final(4, Ref(1, 44, 1));  // a1's
                t.Early(4, Ref(2, 44, 2));
                t.ExpectRequest(4, "b2");
                t.Final(4, Ref(2, 44, 2));
                t.Early(4, Ref(3, 44, 3));
                t.Final(4, Ref(3, 44, 3));
                t.WaitForOutput("b.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(4, 44, 1, "??", "a1")},
                        {"b.OUT", Sold(4, 44, 2, "Ok", "b1") + Sold(4, 44, 3, "Ok", "b2")}},
        .logged = {"Reply to a cancel for a file finished already dropped: register 4"},
    });
    cases.push_back({
        .name = "ServerClosingTheConnectionKeepsTheUnsoldLinesWithoutOutput",
        .action = "NO_OUTPUT",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2") + Line(1, "a3")}},
        .play =
            [](SellingSequenceTest& t) {
                t.FirstLineOutSecondSent(Ref(1, 11, 1));
                t.Final(1, Ref(1, 11, 1));
                t.ServerCloses();
                EXPECT_EQ(t.StopReason(), kStopServerClosed);
            },
        .inputAfter = {{"a.inp", Sold(1, 11, 1, "Ok", "a1") + Sent(1, "a2") + Line(1, "a3")}},
        .logged = {"Selling stopped: the server closed the connection", "Kept "},
    });
    cases.push_back({
        .name = "LinesWhoseRepliesNeverCameAreNotSoldAgainAtTheNextStart",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2") + Line(1, "a3")}},
        .play =
            [](SellingSequenceTest& t) {
                t.FirstLineOutSecondSent(Ref(1, 1234, 5));
                t.ServerDies();  // a1's final reply never comes, nor a2's early one
                EXPECT_EQ(t.InputContent("a.inp"), Sold(1, 1234, 5, "??", "a1") + Sent(1, "a2") + Line(1, "a3"));
                EXPECT_EQ(t.StopReason(), kStopConnectionFailed);
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a3");
                t.Early(1, Ref(2, 1234, 6));
                t.Final(1, Ref(2, 1234, 6));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 1234, 5, "??", "a1") + Sent(1, "a2") + Sold(1, 1234, 6, "Ok", "a3")}},
        .logged = {"Selling stopped: the connection to the server failed", "Kept "},
    });
    // A result that cannot be written: the file goes where no search finds it, and the
    // status window names the line to check.
    cases.push_back({
        .name = "PendingResultThatCannotBeWrittenSetsTheFileAsideAndStops",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.EarlyReplyOfA1CannotBeWritten();
                t.ExpectStopReasonNames(1, "a.inp");
            },
        .inputAfter = {{"check/a.inp", Sent(1, "a1") + Line(1, "a2")}},
        .logged = {"Cannot write the result into ", "Kept ",
                   "Selling stopped: a result could not be written into the input file: check line 1 of "},
    });
    cases.push_back({
        .name = "FinalResultThatCannotBeWrittenSetsTheFileAsideAndStops",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.FirstLineOutSecondSent(Ref(1, 11, 1));
                t.Early(1, Ref(2, 11, 2));
                t.ExpectNothing();  // a2 shows ??
                t.WritesFail("a.inp");
                t.Final(1, Ref(2, 11, 2));
                t.WaitUntilStopped();
                t.ExpectStopReasonNames(2, "a.inp");
            },
        .inputAfter = {{"check/a.inp", Sold(1, 11, 1, "??", "a1") + Sold(1, 11, 2, "??", "a2")}},
        .logged = {"Cannot write the result into ", "Kept "},
    });
    cases.push_back({
        // A file named "check" lies in the input folder: the file is kept beside it under a
        // name that the search for input files does not match.
        .name = "FileThatCannotGoIntoTheCheckFolderIsRenamedBeside",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}, {"check", "not a folder"}},
        .play =
            [](SellingSequenceTest& t) {
                t.EarlyReplyOfA1CannotBeWritten();
                t.ExpectStopReasonNames(1, "a.inp", "a.inp.check");
            },
        .inputAfter = {{"check", "not a folder"}, {"a.inp.check", Sent(1, "a1") + Line(1, "a2")}},
        .logged = {"Cannot move ", "Kept "},
    });
    cases.push_back({
        // Nothing can be renamed in the input folder (here: the name is too long to take
        // ".check" on; or the folder is read-only): the file stays, and the loop passes it
        // over, also after a new start of selling or of the program, and sells the next file.
        .name = "FileThatCannotBeSetAsideIsPassedOverAndTheNextFileSold",
        .action = "REPLACE",
        .inputs = {{LongInputName(), Line(1, "a1") + Line(1, "a2")}, {"b.inp", Line(1, "b1")}, {"check", "not a folder"}},
        .play =
            [](SellingSequenceTest& t) {
                t.EarlyReplyOfA1CannotBeWritten(LongInputName());
                t.ExpectStopReasonPassesOver(1, LongInputName());
                t.ExpectPassedOver({t.In(LongInputName())});
                t.KilledAndStartedAgain();
                t.ExpectPassedOver({t.In(LongInputName())});
                t.ExpectOpen(1);
                t.ExpectRequest(1, "b1");
                t.Early(1, Ref(2, 11, 2));
                t.Final(1, Ref(2, 11, 2));
                t.WaitForOutput("b.OUT");
                // A person checks a1 at the register and writes its result in: the file is
                // sold on.
                WriteFile(t.In(LongInputName()), Sold(1, 11, 1, "Ok", "a1") + Line(1, "a2"));
                t.ExpectRequest(1, "a2");
                t.Early(1, Ref(3, 11, 3));
                t.Final(1, Ref(3, 11, 3));
                t.WaitForOutput(LongOutputName());
                t.ExpectPassedOver({});
            },
        .inputAfter = {{"check", "not a folder"}},
        .outputAfter = {{"b.OUT", Sold(1, 11, 2, "Ok", "b1")},
                        {LongOutputName(), Sold(1, 11, 1, "Ok", "a1") + Sold(1, 11, 3, "Ok", "a2")}},
        .logged = {"Cannot move ", "Cannot rename ",
                   "Selling stopped: a result could not be written into the input file: check line 1 of "},
    });
    cases.push_back({
        // A file of that name was set aside before.
        .name = "FileSetAsideTakesAFreeName",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1")}, {"check/a.inp", "earlier"}},
        .play =
            [](SellingSequenceTest& t) {
                t.EarlyReplyOfA1CannotBeWritten();
            },
        .inputAfter = {{"check/a.inp", "earlier"}, {"check/a.inp.1", Sent(1, "a1")}},
    });
    // A final reply matches only the line whose early reply carried its reference.
    for (const auto& [name, stray] : std::vector<std::pair<std::string, std::string>>{
             {"Duplicate", Ref(1, 11, 1)}, {"Unknown", Ref(9, 99, 9)}}) {
        cases.push_back({
            .name = name + "FinalReplyIsNotWrittenIntoTheLineSentAfterIt",
            .action = "REPLACE",
            .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
            .play =
                [stray](SellingSequenceTest& t) {
                    t.FirstLineOutSecondSent(Ref(1, 11, 1));
                    t.Final(1, Ref(1, 11, 1));
                    t.Final(1, stray);
                    t.Early(1, Ref(2, 11, 2));
                    t.Final(1, Ref(2, 11, 2));
                    t.WaitForOutput("a.OUT");
                },
            .outputAfter = {{"a.OUT", Sold(1, 11, 1, "Ok", "a1") + Sold(1, 11, 2, "Ok", "a2")}},
        });
    }
    // The register took a1 before the cancel reached the server, and reports it after the
    // cancel reply (at once, or after a tick), and confirms it at its next message: a.inp
    // is finished only after the report, which shows in a1, and b1 does not go to that
    // register before it.
    for (const auto& [name, waitMs] : std::vector<std::pair<std::string, int>>{
             {"RepliesOfALineAnsweredAfterItsCancelDoNotReachTheNextFile", 0},
             {"LateEarlyReplyOfACancelledLineComesBeforeTheNextLineForItsRegister", 700}}) {
        cases.push_back({
            .name = name,
            .action = "REPLACE",
            .timeOut = 2,
            .inputs = {{"a.inp", Line(4, "a1")}, {"b.inp", Line(4, "b1")}},
            .play =
                [waitMs](SellingSequenceTest& t) {
                    t.CancelA1OnRegisterFour();
                    t.CancelReply(4);
                    t.ExpectNothing(waitMs);
                    t.Early(4, Ref(1, 44, 1));  // a1's
                    t.ExpectRequest(4, "b1");
                    t.Final(4, Ref(1, 44, 1));  // a1's
                    t.Early(4, Ref(2, 44, 2));
                    t.Final(4, Ref(2, 44, 2));
                    t.WaitForOutput("b.OUT");
                },
            .outputAfter = {{"a.OUT", Sold(4, 44, 1, "??", "a1")}, {"b.OUT", Sold(4, 44, 2, "Ok", "b1")}},
            .logged = {"Cancelled ", "Finished ", "Reply of a line of "},
        });
    }
    cases.push_back({
        // No reply of a1 comes within the time a register has to answer (the cancel took it
        // back in time, or the register is still at it): a1 keeps its mark, and before b1
        // goes out the connection is closed and opened anew, so that a late reply of a1
        // cannot be taken for b1's.
        .name = "CancelledLineWithoutAReplyKeepsItsMarkAndTheConnectionIsOpenedAnew",
        .action = "REPLACE",
        .timeOut = 2,
        .inputs = {{"a.inp", Line(4, "a1")}, {"b.inp", Line(4, "b1")}},
        .play =
            [](SellingSequenceTest& t) {
                t.CancelA1OnRegisterFour();
                t.CancelReply(4);
                t.ExpectNothing(700);
                t.ConnectionOpenedAnew();
                t.ExpectOpen(4);
                t.ExpectRequest(4, "b1");
                t.Early(4, Ref(1, 44, 1));
                t.Final(4, Ref(1, 44, 1));
                t.WaitForOutput("b.OUT");
            },
        .outputAfter = {{"a.OUT", Sent(4, "a1")}, {"b.OUT", Sold(4, 44, 1, "Ok", "b1")}},
        .logged = {"No reply came within 2 s of the cancel for the line of ",
                   "The connection to the server is closed and opened anew"},
    });
    cases.push_back({
        .name = "RepeatedEarlyReplyIsNotTakenForTheLineSentAfterIt",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2") + Line(1, "a3")}},
        .play =
            [](SellingSequenceTest& t) {
                t.FirstLineOutSecondSent(Ref(1, 11, 1));
                t.Early(1, Ref(1, 11, 1));  // a1's again
                t.ExpectNothing();  // no a3
                t.Final(1, Ref(1, 11, 1));
                t.Early(1, Ref(2, 11, 2));
                t.ExpectRequest(1, "a3");
                t.Final(1, Ref(2, 11, 2));
                t.Early(1, Ref(3, 11, 3));
                t.Final(1, Ref(3, 11, 3));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sold(1, 11, 1, "Ok", "a1") + Sold(1, 11, 2, "Ok", "a2") +
                                      Sold(1, 11, 3, "Ok", "a3")}},
        .logged = {"Repeated early reply dropped: register 1"},
    });
    cases.push_back({
        // The register did not execute a1 (its answer was lost on the line): a1 shows its
        // placeholder while it goes out again, and its mark again once it has left. The
        // server closes before a1's reply: a1 is not sold again at the next start.
        .name = "LineSentAgainAfterALinkErrorShowsItsMarkAgain",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(1, "a1") + Line(1, "a2")}},
        .play =
            [](SellingSequenceTest& t) {
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a1");
                t.LostOnTheLink(1, Ref(1, 11, 1));
                t.ExpectRequest(1, "a1");
                EXPECT_EQ(t.InputContent("a.inp"), Sent(1, "a1") + Line(1, "a2"));
                t.ServerCloses();
                t.Start();
                t.ExpectOpen(1);
                t.ExpectRequest(1, "a2");
                t.Early(1, Ref(2, 11, 2));
                t.Final(1, Ref(2, 11, 2));
                t.WaitForOutput("a.OUT");
            },
        .outputAfter = {{"a.OUT", Sent(1, "a1") + Sold(1, 11, 2, "Ok", "a2")}},
        .logged = {"Phisical line error: 1", "Kept "},
    });
    cases.push_back({
        // The user abandoned the file: a stop before the cancel reply does not revive it.
        .name = "FileCancelledBeforeTheServerClosedIsNotSoldAtTheNextStart",
        .action = "REPLACE",
        .inputs = {{"a.inp", Line(4, "a1")}},
        .play =
            [](SellingSequenceTest& t) {
                t.CancelA1OnRegisterFour();
                t.ServerCloses();
                t.Start();
                t.ExpectNothing(1500);
            },
        .outputAfter = {{"a.OUT", Sent(4, "a1")}},
    });
    // A totals or a refused line of a cancelled file that the register answers only after
    // the loop has connected anew (a server that passed the old connection's reply on): the
    // reply names that line's command, which the next file's sale lines do not have.
    for (const auto& [name, line, command, code] : std::vector<std::tuple<std::string, std::string, std::uint8_t, std::uint8_t>>{
             {"LateTotalsReplyOfACancelledLineIsNotWrittenIntoASaleLineOfTheNextFile",
              "N,4,______,_,__;_;__;____;\n", copTotals, 0},
             {"LateRefusalOfACancelledLineIsNotWrittenIntoASaleLineOfTheNextFile",
              "C,4,______,_,__;10;\n", 8, 5}}) {
        cases.push_back({
            .name = name,
            .action = "REPLACE",
            .inputs = {{"a.inp", line}, {"b.inp", Line(4, "b1") + Line(4, "b2")}},
            .play =
                [command, code](SellingSequenceTest& t) {
                    t.CancelOnlyLineOnRegisterFour(command);
                    t.CancelReply(4);
                    t.ConnectionOpenedAnew();  // TimeOut seconds later
                    t.ExpectOpen(4);
                    t.ExpectRequest(4, "b1");
                    t.FinalWithoutEarly(command, 4, code, Ref(1, 44, 1), "1;2;2;15;42;");  // a1's
                    t.Early(4, Ref(2, 44, 2));
                    t.ExpectRequest(4, "b2");
                    t.Final(4, Ref(2, 44, 2));
                    t.Early(4, Ref(3, 44, 3));
                    t.Final(4, Ref(3, 44, 3));
                    t.WaitForOutput("b.OUT");
                },
            .outputAfter = {{"a.OUT", line.substr(0, 4) + "000000,0,??" + line.substr(15)},
                            {"b.OUT", Sold(4, 44, 2, "Ok", "b1") + Sold(4, 44, 3, "Ok", "b2")}},
        });
    }
    // The register answers a totals line or refuses a line of a cancelled file after the
    // cancel reply, before the time it has to answer has passed: the reply is written into
    // the line before the file is finished, and the register takes the next file's lines
    // at once.
    for (const auto& [name, line, command, code, sold] :
         std::vector<std::tuple<std::string, std::string, std::uint8_t, std::uint8_t, std::string>>{
             {"TotalsReplyOfACancelledLineIsWrittenBeforeItsFileIsFinished",
              "N,4,______,_,__;_;__;____;\n", copTotals, 0, "N,4,000044,1,Ok;2;15;0042;\n"},
             {"RefusalOfACancelledLineIsWrittenBeforeItsFileIsFinished",
              "C,4,______,_,__;10;\n", 8, 5, "C,4,000044,1,Er;10;\n"}}) {
        cases.push_back({
            .name = name,
            .action = "REPLACE",
            .timeOut = 3,
            .inputs = {{"a.inp", line}, {"b.inp", Line(4, "b1")}},
            .play =
                [command, code](SellingSequenceTest& t) {
                    t.CancelOnlyLineOnRegisterFour(command);
                    t.CancelReply(4);
                    t.ExpectFileInWork("a.inp");
                    t.FinalWithoutEarly(command, 4, code, Ref(1, 44, 1), "1;2;2;15;42;");
                    t.ExpectRequest(4, "b1", 2000);  // well before the 3 s have passed
                    t.Early(4, Ref(2, 44, 2));
                    t.Final(4, Ref(2, 44, 2));
                    t.WaitForOutput("b.OUT");
                },
            .outputAfter = {{"a.OUT", sold}, {"b.OUT", Sold(4, 44, 2, "Ok", "b1")}},
        });
    }
    // The user stops, the server closes, or the program is asked to end while a cancelled
    // file waits for the register that may still answer a2: the file is finished with what
    // is known, and nothing of it is sold at the next start.
    for (const auto& [name, interrupt] :
         std::vector<std::pair<std::string, std::function<void(SellingSequenceTest&)>>>{
             {"UserStopWhileACancelledFileWaitsFinishesIt", [](SellingSequenceTest& t) { t.UserStops(); }},
             {"ServerClosingWhileACancelledFileWaitsFinishesIt", [](SellingSequenceTest& t) { t.ServerCloses(); }},
             {"EndOfTheProgramWhileACancelledFileWaitsFinishesIt", [](SellingSequenceTest& t) { t.ProgramEnds(); }},
             {"EndOfTheSessionWhileACancelledFileWaitsFinishesIt", [](SellingSequenceTest& t) { t.SessionEnds(); }}}) {
        cases.push_back({
            .name = name,
            .action = "REPLACE",
            .timeOut = 2,
            .inputs = {{"a.inp", Line(1, "a1") + Line(4, "a2") + Line(4, "a3")}},
            .play =
                [interrupt](SellingSequenceTest& t) {
                    t.FirstLineOutSecondSent(Ref(1, 11, 1), 4);
                    t.Final(1, Ref(1, 11, 1));
                    t.CancelWhenNotReady();
                    t.ExpectCancel(4);
                    t.CancelReply(4);
                    t.ExpectFileInWork("a.inp");
                    interrupt(t);
                    if (t.Closed()) return;
                    t.Start();
                    t.ExpectNothing(1500);
                },
            .outputAfter = {{"a.OUT", Sold(1, 11, 1, "Ok", "a1") + Sent(4, "a2") + Line(4, "a3")}},
        });
    }
    return cases;
}

// The request of a1 reached the register, but the file could not show it: a1 must not be
// sold again when selling is started again.
TEST_F(SellingSequenceTest, LineWhoseEarlyReplyCouldNotBeWrittenIsNotSoldAgainAtTheNextStart) {
    settings_.Action = "REPLACE";
    WriteFile(In("a.inp"), Line(1, "a1") + Line(1, "a2"));
    EarlyReplyOfA1CannotBeWritten();
    Start();
    ExpectNotSold("a1");
}

// The same when the file cannot be set aside either (a file named "check" lies in the input
// folder): a1 must not be sold again at the next start.
TEST_F(SellingSequenceTest, LineWhoseEarlyReplyCouldNotBeWrittenIsNotSoldAgainWhenTheFileCannotBeSetAside) {
    settings_.Action = "REPLACE";
    WriteFile(In("a.inp"), Line(1, "a1") + Line(1, "a2"));
    WriteFile(In("check"), "not a folder");
    EarlyReplyOfA1CannotBeWritten();
    Start();
    ExpectNotSold("a1");
}

// The register took a1 before the cancel reached the server and reports it, sold, after
// the cancel reply: the finished file must not show a1 as never sold.
TEST_F(SellingSequenceTest, LineSoldAfterTheCancelReplyDoesNotShowItsPlaceholderInTheFinishedFile) {
    settings_.Action = "REPLACE";
    settings_.TimeOut = 1;
    WriteFile(In("a.inp"), Line(4, "a1"));
    CancelA1OnRegisterFour();
    CancelReply(4);
    Early(4, Ref(1, 44, 1));
    Final(4, Ref(1, 44, 1));
    loop_.RunFor(2500);  // the register's time to answer has passed
    ASSERT_TRUE(std::filesystem::exists(Out("a.OUT")));
    EXPECT_NE(ReadFile(Out("a.OUT")), Line(4, "a1")) << "a1 was sold";
}

INSTANTIATE_TEST_SUITE_P(Sequences, SellingSequenceTest, ::testing::ValuesIn(SequenceCases()),
                         [](const ::testing::TestParamInfo<SequenceCase>& test) { return test.param.name; });

}  // namespace
}  // namespace ecr
