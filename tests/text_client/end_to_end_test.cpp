// The selling client and the register server started as real processes, the register
// played by the register emulator on a pseudo-terminal, asking for its receipt lines the
// way a register does (see AskingRegister).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "foundation/settings_store.h"
#include "server/server_settings.h"
#include "tests/support/register_emulator.h"
#include "tests/support/asking_register.h"
#include "tests/text_client/child_process.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/client_settings.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::AskingRegister;
using testing_support::ChildProcess;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

// Generous: a loaded machine may take many seconds to start a Qt program, and the client
// waits 3 s before it connects.
constexpr auto kStartTimeout = 30s;
constexpr auto kSaleTimeout = 120s;
constexpr int kExitTimeoutMs = 15000;

// The serial number the register reports (the results show it as 012345).
constexpr const char* kSerial = "12345";
// A NAKed block goes out 9 times in all before the server gives the send up.
constexpr int kTransmissionsPerLostAnswer = 9;

// A TCP port of 127.0.0.1 that was free a moment ago.
std::uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Listening(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// One line of an input file: as written, as it must read after the sale ("#" stands for the
// message number of the register's ask that the line's answer went to, "?" for any digit),
// and the answer the register gets for it ("" when none arrives).
struct LineCase {
    std::string in;
    std::string out;
    std::string answer;
};

// One run of both programs over one input file "day.INP".
struct SaleCase {
    std::string name;
    std::vector<LineCase> lines;
    std::string action = "REPLACE";
    std::string iniExtra{};      // more keys, each "Section:Key=Value"
    std::string question = "A";  // the register's question code
    int numberStep = 1;
    int lostAnswers = 0;         // answers the register refuses with NAK, from the start
    std::string login = "login";
    std::string existingOutput{};  // day.OUT before the run (APPEND)
};

std::ostream& operator<<(std::ostream& out, const SaleCase& c) { return out << c.name; }

const std::string kPlaceholder = ",______,_,__;";

std::vector<LineCase> EveryShapeAndLetter() {
    return {
        {"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,012345,#,Ok;2;1.50;\r\n", "L;1;2;1.50;"},
        {"s,1" + kPlaceholder + "1;0.99;\r\n", "s,1,012345,#,Ok;1;0.99;\r\n", "L;1;1;0.99;"},
        {"S,1" + kPlaceholder + "\r\n", "S,1,012345,#,Ok;\r\n", "L;1;"},
        {"P,01" + kPlaceholder + "TOTAL;\r\n", "P,01,012345,#,Ok;TOTAL;\r\n", "X;TOTAL;"},
        {"T,1" + kPlaceholder + "1;5.00;\r\n", "T,1,012345,#,Ok;1;5.00;\r\n", "E;1;5.00;"},
        {"\r\n\r\n", "\r\n\r\n", ""},
        {"C,1" + kPlaceholder + "10;\n", "C,1,012345,#,Ok;10;\n", "C;10;"},
        {"I,1" + kPlaceholder + "5;\r", "I,1,012345,#,Ok;5;\r", "I;5;"},
        {"H,1" + kPlaceholder + "\r\n", "H,1,012345,#,Ok;\r\n", "H;;;;;;"},
        {"f,1" + kPlaceholder + "\r\n", "f,1,012345,#,Ok;\r\n", "F;;;;;;"},
        {"N,1" + kPlaceholder + "_;__;____;\r\n", "N,1,012345,#,Ok;2;15;0042;\r\n", "H;;;;;;"},
        {"Z,1" + kPlaceholder + "1;\r\n", "Z,1,012345,#,Ok;1;\r\n", "Z;1;"},
        {"A,1" + kPlaceholder + "2;\r\n", "A,1,012345,#,Ok;2;\r\n", "A;2;"},
        {"Y,1" + kPlaceholder + "3;\r\n", "Y,1,012345,#,Ok;3;\r\n", "Y;3;"},
        // Lines that are not requests keep what they hold.
        {"Q,1" + kPlaceholder + "4;\r\n", "Q,1" + kPlaceholder + "4;\r\n", ""},
        {"S,17" + kPlaceholder + "5;\r\n", "S,17" + kPlaceholder + "5;\r\n", ""},
        {"S,1,012345,0,Ok;6;\r\n", "S,1,012345,0,Ok;6;\r\n", ""},
        {"N,1" + kPlaceholder + "1;__;____;\r\n", "N,1" + kPlaceholder + "1;__;____;\r\n", ""},
        // The last line has no line end.
        {"S,1" + kPlaceholder + "7;2.00;", "S,1,012345,#,Ok;7;2.00;", "L;1;7;2.00;"},
    };
}

std::vector<LineCase> OneSale() {
    return {{"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,012345,#,Ok;2;1.50;\r\n", "L;1;2;1.50;"}};
}

std::vector<SaleCase> SaleCases() {
    std::vector<SaleCase> cases;
    cases.push_back({.name = "EveryShapeAndLetter", .lines = EveryShapeAndLetter()});
    // The fiscal printer's question takes a sale and a total, and refuses the receipt
    // line requests.
    cases.push_back({.name = "FiscalPrinterQuestion",
                     .lines = {{"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,012345,#,Ok;2;1.50;\r\n", "1;2;1.50;"},
                               {"C,1" + kPlaceholder + "10;\r\n", "C,1,012345,?,Er;10;\r\n", ""},
                               {"T,1" + kPlaceholder + "\r\n", "T,1,012345,#,Ok;\r\n", "0;;;;;;2;0;0;"}},
                     .question = "5"});
    // DOS text: 0xF0..0xF9 are the digits once turned into the Windows code page; the sale
    // goes out unchanged without "1;" in front. The file keeps its own bytes.
    cases.push_back({.name = "DosEncodingAndExternalItems",
                     .lines = {{"S,1" + kPlaceholder + "\xF7;\xF2.\xF5\xF0;\r\n",
                                "S,1,012345,#,Ok;\xF7;\xF2.\xF5\xF0;\r\n", "L;7;2.50;"}},
                     .iniExtra = "Encoding:Encoding=DOS\nOutput:SELL_WITH_EXT_PLU=1"});
    cases.push_back({.name = "AppendAddsToTheOutputFile",
                     .lines = OneSale(),
                     .action = "APPEND",
                     .existingOutput = "S,1,012345,4,Ok;9;9.99;\r\n"});
    cases.push_back({.name = "ReplaceOverwritesTheOutputFile",
                     .lines = OneSale(),
                     .existingOutput = "an older file\r\n"});
    cases.push_back({.name = "UniqueNamesTheOutputFile", .lines = OneSale(), .action = "UNIQUE"});
    cases.push_back({.name = "NoOutputDeletesTheFile", .lines = OneSale(), .action = "NO_OUTPUT"});
    cases.push_back({.name = "LowerCaseActionDeletesTheFile", .lines = OneSale(), .action = "replace"});
    // A refused SET opening (wrong password): each line gets the code, without a reference.
    cases.push_back({.name = "RefusedSetOpening",
                     .lines = {{"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,000000,0,08;2;1.50;\r\n", ""},
                               {"P,01" + kPlaceholder + "\r\n", "P,01,000000,0,08;\r\n", ""}},
                     .login = "wrong"});
    // The register's next message does not follow the one answered: the sale is not confirmed.
    cases.push_back({.name = "UnconfirmedAnswer",
                     .lines = {{"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,012345,#,Er;2;1.50;\r\n", "L;1;2;1.50;"},
                               {"S,1" + kPlaceholder + "3;2.00;\r\n", "S,1,012345,#,Er;3;2.00;\r\n", "L;1;3;2.00;"}},
                     .numberStep = 2});
    // Three lost answers: the line goes out again after each and is sold at the fourth.
    cases.push_back({.name = "LineSentAgainAfterLinkErrors", .lines = OneSale(), .lostAnswers = 3});
    // 21 lost answers: after 20 resends the line gets the line error's code (17, a NAK) and
    // the next line is sold.
    cases.push_back({.name = "LinkErrorCodeAfterTheLastResend",
                     .lines = {{"S,1" + kPlaceholder + "2;1.50;\r\n", "S,1,012345,?,11;2;1.50;\r\n", ""},
                               {"S,1" + kPlaceholder + "3;2.00;\r\n", "S,1,012345,#,Ok;3;2.00;\r\n", "L;1;3;2.00;"}},
                     .lostAnswers = 21});
    // At 4800 bit/s a register block carries 249 data bytes: a sale's block is "L;" and the
    // request's Payload ("1;" and the line's data). A Payload of 247 bytes goes whole; one of
    // 248 fits the client message but not the register line: the server refuses it with 18
    // and the register never gets it, while the next line is sold.
    const std::string largest = std::string(242, 'M') + ";1;";
    const std::string tooLong = std::string(243, 'N') + ";1;";
    cases.push_back({.name = "LineThatDoesNotFitTheRegisterLineIsRefused",
                     .lines = {{"S,1" + kPlaceholder + largest + "\r\n", "S,1,012345,#,Ok;" + largest + "\r\n",
                                "L;1;" + largest},
                               {"S,1" + kPlaceholder + tooLong + "\r\n", "S,1,012345,?,12;" + tooLong + "\r\n", ""},
                               {"S,1" + kPlaceholder + "3;2.00;\r\n", "S,1,012345,#,Ok;3;2.00;\r\n", "L;1;3;2.00;"}}});
    return cases;
}

// `expected` with each "#" replaced by the next of `numbers`; then every "?" of it matches
// any digit of `actual`.
bool ResultMatches(const std::string& expected, const std::vector<int>& numbers, const std::string& actual) {
    if (expected.size() != actual.size()) return false;
    std::size_t next = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        char want = expected[i];
        if (want == '#') {
            if (next >= numbers.size()) return false;
            want = static_cast<char>('0' + numbers[next++]);
        }
        if (want == '?' ? !std::isdigit(static_cast<unsigned char>(actual[i])) : want != actual[i]) return false;
    }
    return true;
}

// Both programs and the emulator, each in a folder of its own.
class TwoProgramsTest : public ::testing::Test {
protected:
    void SetUp() override {
        serverFolder_ = folder_.Sub("server");
        clientFolder_ = folder_.Sub("client");
        in_ = folder_.Sub("in");
        out_ = folder_.Sub("out");
        registry_ = folder_.Sub("registry");
        std::filesystem::copy_file(ECR_HARBENDIX_PROGRAM, serverFolder_ + "harbendix");
        std::filesystem::copy_file(ECR_WEXHAVEN_PROGRAM, clientFolder_ + "wexhaven");

        // The emulator's terminal as COM1 of the registry stand-in.
        const std::string device = registry_ + "HKEY_LOCAL_MACHINE/Enum/Test/pty0/";
        std::filesystem::create_directories(device);
        WriteFile(device + "PORTNAME", "COM1");
        WriteFile(device + "DeviceNode", emulator_.PortPath());

        emulator_.SetTrace([this](const std::string& line) {
            std::lock_guard<std::mutex> hold(traceLock_);
            trace_.push_back(line);
        });
        port_ = FreePort();
        ServerSettings server;
        server.ComPort = "COM1";
        server.IPPort = port_;
        server.SetPassword(13) = "login";
        TCodeStru serverStore(serverFolder_ + "harbendix.STG", server);
        serverStore.Save();
    }

    void WriteClientSettings(const SaleCase& c) {
        std::map<std::string, std::vector<std::string>> sections;
        sections["Server"] = {"Port=" + std::to_string(port_), "TimeOut=600"};
        sections["Directories"] = {"InputPath=" + in_, "OutputPath=" + out_};
        sections["Output"] = {"Action=" + c.action};
        std::istringstream extra(c.iniExtra);
        for (std::string item; std::getline(extra, item);) {
            const std::size_t colon = item.find(':');
            sections[item.substr(0, colon)].push_back(item.substr(colon + 1));
        }
        std::string ini;
        for (const auto& [section, keys] : sections) {
            ini += "[" + section + "]\n";
            for (const std::string& key : keys) ini += key + "\n";
        }
        WriteFile(clientFolder_ + "wexhaven.ini", ini);
        ClientPasswords passwords;
        passwords.SetSystemPassword("secret");
        passwords.SetLoginPassword(c.login);
        TCodeStru clientStore(clientFolder_ + "wexhaven.stg", passwords);
        clientStore.Save();
    }

    std::vector<std::string> Environment() const {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + folder_.Path(),
                "ECR_REGISTRY=" + registry_};
    }

    // The client starts once the server takes connections, so that its first connect
    // cannot fail.
    void StartBoth() {
        server_ = std::make_unique<ChildProcess>(serverFolder_ + "harbendix", std::vector<std::string>{},
                                                 Environment());
        const auto end = std::chrono::steady_clock::now() + kStartTimeout;
        while (!Listening(port_)) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "harbendix does not listen\n" << Logs();
            ASSERT_TRUE(server_->Running()) << Logs();
            std::this_thread::sleep_for(50ms);
        }
        client_ = std::make_unique<ChildProcess>(clientFolder_ + "wexhaven", std::vector<std::string>{},
                                                 Environment());
    }

    void StopClient() {
        ChildProcess quit(clientFolder_ + "wexhaven", {"-Q:secret"}, Environment());
        EXPECT_EQ(quit.WaitForExit(kExitTimeoutMs), 0);
        EXPECT_EQ(client_->WaitForExit(kExitTimeoutMs), 0);
    }

    // Both programs' logs, for the failure message.
    std::string Logs() const {
        std::string trace;
        {
            std::lock_guard<std::mutex> hold(traceLock_);
            for (const std::string& line : trace_) trace += line + "\n";
        }
        return "register trace (last lines):\n" + trace.substr(trace.size() > 3000 ? trace.size() - 3000 : 0) +
               "\nharbendix.log:\n" + ReadFile(serverFolder_ + "harbendix.log") +
               "\nwexhaven.log:\n" + ReadFile(clientFolder_ + "wexhaven.log");
    }

    // Waits until the client's log holds `text`.
    void WaitForClientLog(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + kStartTimeout;
        while (ReadFile(clientFolder_ + "wexhaven.log").find(text) == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << Logs();
            std::this_thread::sleep_for(50ms);
        }
    }

    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TempFolder folder_;
    // Before the emulator, whose thread writes the trace until the emulator is gone.
    mutable std::mutex traceLock_;
    std::vector<std::string> trace_;
    RegisterEmulator emulator_;
    std::string serverFolder_, clientFolder_, in_, out_, registry_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> client_;
};

class EndToEndTest : public TwoProgramsTest, public ::testing::WithParamInterface<SaleCase> {};

TEST_P(EndToEndTest, SellsTheFileThroughTheServerAndTheRegister) {
    const SaleCase& c = GetParam();
    std::string input;
    std::string output;
    std::vector<std::string> answers;
    for (const LineCase& line : c.lines) {
        input += line.in;
        output += line.out;
        if (!line.answer.empty()) answers.push_back(line.answer);
    }
    WriteClientSettings(c);
    WriteFile(in_ + "day.INP", input);
    if (!c.existingOutput.empty()) WriteFile(out_ + "day.OUT", c.existingOutput);

    EmulatedRegister& ecr1 = emulator_.AddRegister(1);
    if (c.lostAnswers > 0) ecr1.NakNext(c.lostAnswers * kTransmissionsPerLostAnswer);
    AskingRegister asking(emulator_, ecr1, kSerial, c.question, c.numberStep);
    StartBoth();
    // The file leaves the input folder when its last result is written.
    ASSERT_TRUE(asking.AskUntil([&] { return !std::filesystem::exists(in_ + "day.INP"); }, kSaleTimeout))
        << Logs();
    EXPECT_EQ(ecr1.OnLineAnswers(), answers) << Logs();
    StopClient();
    // Each lost answer is logged once, with the code of a NAK.
    const std::string clientLog = ReadFile(clientFolder_ + "wexhaven.log");
    std::size_t lost = 0;
    for (std::size_t at = 0; (at = clientLog.find("Err:17 ", at)) != std::string::npos; ++at) ++lost;
    EXPECT_EQ(lost, static_cast<std::size_t>(c.lostAnswers)) << clientLog;

    std::vector<std::string> written = FilesIn(out_);
    if (c.action == "REPLACE" || c.action == "APPEND") {
        ASSERT_EQ(written, std::vector<std::string>{"day.OUT"});
        const std::string result = ReadFile(out_ + "day.OUT");
        const std::string kept = c.action == "APPEND" ? c.existingOutput : "";
        EXPECT_EQ(result.substr(0, kept.size()), kept);
        EXPECT_TRUE(ResultMatches(output, asking.AnsweredNumbers(), result.substr(kept.size())))
            << "expected:\n" << output << "\nwritten:\n" << result << "\n" << Logs();
    } else if (c.action == "UNIQUE") {
        ASSERT_EQ(written.size(), 1u);
        // "Wx", eight digits, ".OUT"
        const std::string& name = written[0];
        EXPECT_TRUE(name.size() == 14 && name.starts_with("Wx") && name.ends_with(".OUT") &&
                    std::all_of(name.begin() + 2, name.begin() + 10,
                                [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)) != 0; }))
            << name;
        EXPECT_TRUE(ResultMatches(output, asking.AnsweredNumbers(), ReadFile(out_ + written[0])));
    } else {
        EXPECT_TRUE(written.empty());
    }
    EXPECT_TRUE(FilesIn(in_).empty());
}

// The cases are numbered; test listings show each number with the case's name.
INSTANTIATE_TEST_SUITE_P(Sales, EndToEndTest, ::testing::ValuesIn(SaleCases()));

// The other application hands a new file over under the name of the file in work (written
// aside and renamed into place): the file in work is sold to its end and appended with its
// results; the new one is sold after it.
TEST_F(TwoProgramsTest, NewFileHandedOverUnderTheNameOfTheFileInWorkIsSoldAfterIt) {
    const SaleCase c{.name = "HandOver", .lines = {}, .action = "APPEND"};
    WriteClientSettings(c);
    WriteFile(in_ + "day.INP", "S,1" + kPlaceholder + "2;1.50;\r\nS,1" + kPlaceholder + "3;2.00;\r\n");
    EmulatedRegister& ecr1 = emulator_.AddRegister(1);
    AskingRegister asking(emulator_, ecr1, kSerial);
    StartBoth();
    // The first line reached the register: the file is in work until the register asks on.
    ASSERT_TRUE(asking.AskUntil([&] { return !ecr1.OnLineAnswers().empty(); }, kSaleTimeout)) << Logs();
    WriteFile(in_ + "day.new", "S,1" + kPlaceholder + "4;3.00;\r\n");
    std::filesystem::rename(in_ + "day.new", in_ + "day.INP");
    // The name holds the new file until it is sold in turn.
    ASSERT_TRUE(asking.AskUntil([&] { return !std::filesystem::exists(in_ + "day.INP"); }, kSaleTimeout))
        << Logs();
    StopClient();
    EXPECT_EQ(ecr1.OnLineAnswers(), (std::vector<std::string>{"L;1;2;1.50;", "L;1;3;2.00;", "L;1;4;3.00;"}))
        << Logs();
    const std::string sold = ReadFile(out_ + "day.OUT");
    EXPECT_TRUE(ResultMatches("S,1,012345,#,Ok;2;1.50;\r\nS,1,012345,#,Ok;3;2.00;\r\n"
                              "S,1,012345,#,Ok;4;3.00;\r\n",
                              asking.AnsweredNumbers(), sold))
        << "written:\n" << sold << "\n" << Logs();
    EXPECT_TRUE(FilesIn(in_).empty());
}

// The register's first answer is lost on the line; the server refuses the line at the
// register's next message and the client sends it again. The server dies right then: the
// request had left again, so the register may have it, and the line shows so; it is not
// sold again.
TEST_F(TwoProgramsTest, ServerDyingWhileALineLostOnTheLineGoesOutAgainMarksIt) {
    const SaleCase c{.name = "ResendInterrupted", .lines = {}, .action = "REPLACE"};
    WriteClientSettings(c);
    const std::string line = "S,1" + kPlaceholder + "2;1.50;\r\n";
    WriteFile(in_ + "day.INP", line);
    EmulatedRegister& ecr1 = emulator_.AddRegister(1);
    ecr1.NakNext(kTransmissionsPerLostAnswer);
    AskingRegister asking(emulator_, ecr1, kSerial);
    StartBoth();
    const std::string clientLog = clientFolder_ + "wexhaven.log";
    ASSERT_TRUE(asking.AskUntil(
        [&] { return ReadFile(clientLog).find("Phisical line error: 1") != std::string::npos; },
        kSaleTimeout))
        << Logs();
    server_.reset();  // killed before the register asks again
    WaitForClientLog("Selling stopped: ");
    // Nothing of the file is left to sell: it gets its output action.
    const auto end = std::chrono::steady_clock::now() + kStartTimeout;
    while (!std::filesystem::exists(out_ + "day.OUT")) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << Logs();
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(ecr1.OnLineAnswers().empty());
    EXPECT_EQ(ReadFile(out_ + "day.OUT"), "S,1,000000,0,??;2;1.50;\r\n") << Logs();
    EXPECT_TRUE(FilesIn(in_).empty());
    StopClient();
}

// The program, the server or the connection ends while a line's request is on its way:
// the line shows "??" from before its request left, so that it is sold once at most, also
// after both are started again. The rest of the file is sold after the new start.
struct EndCase {
    std::string name;
    std::function<void(TwoProgramsTest&)> end;
};

std::ostream& operator<<(std::ostream& out, const EndCase& c) { return out << c.name; }

class LineOnItsWayTest : public TwoProgramsTest, public ::testing::WithParamInterface<EndCase> {
public:
    void KillClient() { client_->Kill(); }
    void KillServer() {
        server_->Kill();
        // The client stops by itself and keeps the file; the user ends it.
        WaitForClientLog("Selling stopped: ");
        StopClient();
    }
    void TerminateClient() {
        ASSERT_EQ(::kill(client_->Pid(), SIGTERM), 0);
        EXPECT_EQ(client_->WaitForExit(kExitTimeoutMs), 0);
    }
};

TEST_P(LineOnItsWayTest, IsSoldOnceAtMost) {
    const SaleCase c{.name = GetParam().name, .lines = {}, .action = "REPLACE"};
    WriteClientSettings(c);
    std::string input;
    for (const char* amount : {"1.00", "2.00", "3.00"}) input += "S,1" + kPlaceholder + "1;" + amount + ";\r\n";
    WriteFile(in_ + "day.INP", input);
    EmulatedRegister& ecr1 = emulator_.AddRegister(1);
    AskingRegister asking(emulator_, ecr1, kSerial);
    StartBoth();
    // The first line's mark is on the disk: its request leaves now, or has left.
    ASSERT_TRUE(asking.AskUntil([&] { return ReadFile(in_ + "day.INP").find("??") != std::string::npos; },
                                kSaleTimeout))
        << Logs();
    GetParam().end(*this);
    ASSERT_TRUE(std::filesystem::exists(in_ + "day.INP")) << Logs();  // lines are left to sell
    if (!server_ || !server_->Running()) {
        StartBoth();
    } else {
        client_ = std::make_unique<ChildProcess>(clientFolder_ + "wexhaven", std::vector<std::string>{},
                                                 Environment());
    }
    ASSERT_TRUE(asking.AskUntil([&] { return !std::filesystem::exists(in_ + "day.INP"); }, kSaleTimeout))
        << Logs();
    StopClient();
    // Each line was sold once at most. It shows "Ok" when its sale was confirmed, "??" when
    // its request had left when the end came (the register may have it or not); none is
    // left unsold.
    const std::vector<std::string> answers = ecr1.OnLineAnswers();
    std::istringstream sold(ReadFile(out_ + "day.OUT"));
    int marked = 0;
    for (const char* amount : {"1.00", "2.00", "3.00"}) {
        std::string line;
        std::getline(sold, line);
        const auto times = std::count(answers.begin(), answers.end(), std::string("L;1;1;") + amount + ";");
        if (line.find(",Ok;") != std::string::npos) {
            EXPECT_EQ(times, 1) << line << "\n" << Logs();
        } else {
            EXPECT_NE(line.find(",??;"), std::string::npos) << line << "\n" << Logs();
            EXPECT_LE(times, 1) << line << "\n" << Logs();
            ++marked;
        }
    }
    // The end came while a line was on its way (the register asks on only when the test
    // lets it).
    EXPECT_GE(marked, 1) << Logs();
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LineOnItsWayTest,
    ::testing::Values(EndCase{"WexhavenKilled", [](TwoProgramsTest& test) { static_cast<LineOnItsWayTest&>(test).KillClient(); }},
                      EndCase{"HarbendixKilled", [](TwoProgramsTest& test) { static_cast<LineOnItsWayTest&>(test).KillServer(); }},
                      EndCase{"WexhavenTerminated",
                              [](TwoProgramsTest& test) { static_cast<LineOnItsWayTest&>(test).TerminateClient(); }}),
    [](const ::testing::TestParamInfo<EndCase>& test) { return test.param.name; });

}  // namespace
}  // namespace ecr
