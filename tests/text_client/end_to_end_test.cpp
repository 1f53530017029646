// The selling client and the register server started as real processes, the registers
// played by the register emulator on a pseudo-terminal.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <mutex>

#include "foundation/settings_store.h"
#include "server/server_settings.h"
#include "tests/support/register_emulator.h"
#include "tests/text_client/child_process.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/client_settings.h"

namespace ecr {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

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

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        serverFolder_ = folder_.Sub("server");
        clientFolder_ = folder_.Sub("client");
        in_ = folder_.Sub("in");
        out_ = folder_.Sub("out");
        registry_ = folder_.Sub("registry");
        std::filesystem::copy_file(ECR_HARBENDIX_PROGRAM, serverFolder_ + "harbendix");
        std::filesystem::copy_file(ECR_WEXHAVEN_PROGRAM, clientFolder_ + "wexhaven");

        // The emulator's terminal as COM7 of the registry stand-in.
        const std::string device = registry_ + "HKEY_LOCAL_MACHINE/Enum/Test/pty0/";
        std::filesystem::create_directories(device);
        WriteFile(device + "PORTNAME", "COM7");
        WriteFile(device + "DeviceNode", emulator_.PortPath());

        emulator_.SetTrace([this](const std::string& line) {
            std::lock_guard<std::mutex> hold(traceLock_);
            trace_.push_back(line);
        });
        port_ = FreePort();
        ServerSettings server;
        server.ComPort = "COM7";
        server.IPPort = port_;
        server.SetPassword(13) = "login";
        TCodeStru serverStore(serverFolder_ + "harbendix.STG", server);
        serverStore.Save();

        WriteFile(clientFolder_ + "wexhaven.ini",
                  "[Server]\nPort=" + std::to_string(port_) + "\n[Directories]\nInputPath=" + in_ +
                      "\nOutputPath=" + out_ + "\n");
        ClientPasswords passwords;
        passwords.SetSystemPassword("secret");
        passwords.SetLoginPassword("login");
        TCodeStru clientStore(clientFolder_ + "wexhaven.stg", passwords);
        clientStore.Save();
    }

    std::vector<std::string> Environment() const {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + folder_.Path(),
                "ECR_REGISTRY=" + registry_};
    }

    void StartBoth() {
        server_ = std::make_unique<ChildProcess>(serverFolder_ + "harbendix", std::vector<std::string>{},
                                                 Environment());
        client_ = std::make_unique<ChildProcess>(clientFolder_ + "wexhaven", std::vector<std::string>{},
                                                 Environment());
    }

    void StopClient() {
        ChildProcess quit(clientFolder_ + "wexhaven", {"-Q:secret"}, Environment());
        EXPECT_EQ(quit.WaitForExit(15000), 0);
        EXPECT_EQ(client_->WaitForExit(15000), 0);
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

    bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!std::filesystem::exists(path)) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    TempFolder folder_;
    RegisterEmulator emulator_;
    std::string serverFolder_, clientFolder_, in_, out_, registry_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> client_;
    mutable std::mutex traceLock_;
    std::vector<std::string> trace_;
};

// Disabled for now: in this road the register server answers the register's "A" message
// with keep-alive bytes and never acknowledges it, so no receipt line reaches the register.
// Enable it once the server takes the message.
TEST_F(EndToEndTest, DISABLED_SellsAFileThroughTheServerAndTheRegister) {
    EmulatedRegister& ecr1 = emulator_.AddRegister(1);
    WriteFile(in_ + "day.INP", "S,1,______,_,__;2;1.50;\r\nT,1,______,_,__;\r\n");
    StartBoth();
    // The register asks for receipt lines, one message at a time, numbered on.
    int messageNumber = 5;
    const auto end = std::chrono::steady_clock::now() + 40s;
    while (!std::filesystem::exists(out_ + "day.OUT") && std::chrono::steady_clock::now() < end) {
        if (ecr1.QueuedMessages() == 0) ecr1.QueueOnLineMessage("123456;" + std::to_string(messageNumber++) + ";A;");
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(std::filesystem::exists(out_ + "day.OUT")) << Logs();
    const std::string result = ReadFile(out_ + "day.OUT");
    EXPECT_EQ(result, "S,1,123456,5,Ok;2;1.50;\r\nT,1,123456,6,Ok;\r\n") << Logs();
    const std::vector<std::string> answers = ecr1.OnLineAnswers();
    ASSERT_GE(answers.size(), 2u);
    EXPECT_EQ(answers[0], "L;1;2;1.50;");
    StopClient();
}

}  // namespace
}  // namespace ecr
