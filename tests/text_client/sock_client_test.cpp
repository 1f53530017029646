#include "text_client/sock_client.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "tests/text_client/poll_loop.h"

namespace ecr {
namespace {

using namespace std::string_literals;
using testing_support::FakeServer;
using testing_support::PollLoop;

class SockClientTest : public ::testing::Test {
protected:
    SockClientTest() : client_(loop_) {
        loop_.Attach(client_);
        client_.SetEnabled(true);
        client_.OnConnect = [this] { events_.push_back("connect"); };
        client_.OnDataIn = [this](const std::string& frame) { frames_.push_back(frame); };
        client_.OnDisconnect = [this] { events_.push_back("disconnect"); };
        client_.OnError = [this](int error) { errors_.push_back(error); };
    }

    void ConnectToServer() {
        client_.RemoteHost = "127.0.0.1";
        client_.RemotePort = server_.Port();
        client_.SetConnected(true);
        ASSERT_TRUE(server_.Accept());
        ASSERT_TRUE(loop_.RunUntil([&] { return client_.Connected(); }));
        EXPECT_EQ(events_, std::vector<std::string>{"connect"});
    }

    PollLoop loop_;
    FakeServer server_;
    TSockClient client_;
    std::vector<std::string> events_;
    std::vector<std::string> frames_;
    std::vector<int> errors_;
};

TEST_F(SockClientTest, FramesAreCutFromTheStreamWhateverItsPieces) {
    ConnectToServer();
    // One frame in three pieces: length byte, one byte, the rest.
    server_.SendRaw("\x04");
    loop_.RunFor(30);
    server_.SendRaw("a");
    loop_.RunFor(30);
    server_.SendRaw("bcd");
    ASSERT_TRUE(loop_.RunUntil([&] { return frames_.size() == 1; }));
    // Two frames in one segment, a zero length byte between them, and a length byte that
    // ends the segment.
    server_.SendRaw("\x02xy\x00\x03" "123\x05"s);
    ASSERT_TRUE(loop_.RunUntil([&] { return frames_.size() == 3; }));
    server_.SendRaw("hello");
    ASSERT_TRUE(loop_.RunUntil([&] { return frames_.size() == 4; }));
    server_.SendRaw(std::string(1, '\xFF') + std::string(255, 'z'));
    ASSERT_TRUE(loop_.RunUntil([&] { return frames_.size() == 5; }));
    EXPECT_EQ(frames_, (std::vector<std::string>{"abcd", "xy", "123", "hello", std::string(255, 'z')}));
}

TEST_F(SockClientTest, SendsOneFramePerMessage) {
    ConnectToServer();
    client_.SendData("\xFF\x01\x00\x00\x00"s);
    client_.SendData(std::string(300, 'q'));
    EXPECT_EQ(server_.ReadMessage(), "\xFF\x01\x00\x00\x00"s);
    EXPECT_EQ(server_.ReadMessage(), std::string(255, 'q'));
}

TEST_F(SockClientTest, PeerCloseIsTheDisconnectEvent) {
    ConnectToServer();
    server_.SendRaw("\x01!");
    server_.DropClient();
    ASSERT_TRUE(loop_.RunUntil([&] { return events_.size() == 2; }));
    EXPECT_EQ(events_.back(), "disconnect");
    EXPECT_EQ(frames_, std::vector<std::string>{"!"});
    EXPECT_FALSE(client_.Connected());
    EXPECT_FALSE(client_.HasSocket());
}

TEST_F(SockClientTest, LocalDisconnectAndReconnect) {
    ConnectToServer();
    client_.SetConnected(false);
    EXPECT_FALSE(client_.Connected());
    EXPECT_FALSE(client_.HasSocket());
    events_.clear();
    ConnectToServer();
}

TEST_F(SockClientTest, SetUpFailuresThrowTheirTexts) {
    auto message = [&](auto&& action) -> std::string {
        try {
            action();
        } catch (const ESockException& error) {
            return error.what();
        }
        return "(nothing thrown)";
    };
    EXPECT_EQ(message([&] { client_.SendData("x"); }),
              "TSockClient - SendData: Socket is NOT assigned !");
    client_.RemoteHost = "localhost";  // names are not looked up
    EXPECT_EQ(message([&] { client_.SetConnected(true); }).rfind("Sock connect error: ", 0), 0u);
    EXPECT_FALSE(client_.HasSocket());

    ConnectToServer();
    EXPECT_EQ(message([&] { client_.SetConnected(true); }), "SockClient already connected !");
    client_.SetEnabled(false);
    EXPECT_FALSE(client_.Connected());
    EXPECT_EQ(message([&] { client_.SetConnected(true); }), "SockClient not enabled !");
}

TEST_F(SockClientTest, RefusedConnectionArrivesAsAnErrorEvent) {
    std::uint16_t closedPort;
    {
        FakeServer gone;
        closedPort = gone.Port();
    }
    client_.RemoteHost = "127.0.0.1";
    client_.RemotePort = closedPort;
    client_.SetConnected(true);
    ASSERT_TRUE(loop_.RunUntil([&] { return !errors_.empty(); }));
    EXPECT_EQ(errors_, std::vector<int>{ECONNREFUSED});
    EXPECT_TRUE(events_.empty());
    EXPECT_FALSE(client_.HasSocket());
    EXPECT_EQ(SocketErrorText(ECONNREFUSED).rfind("111\r\n", 0), 0u);
}

TEST_F(SockClientTest, ExceptionsOfHandlersGoToTheExceptionEvent) {
    std::vector<std::string> caught;
    client_.OnException = [&](const std::exception& error) { caught.push_back(error.what()); };
    client_.OnDataIn = [&](const std::string& frame) {
        frames_.push_back(frame);
        throw std::runtime_error("handler failed");
    };
    ConnectToServer();
    server_.SendRaw("\x01" "a\x01" "b"s);
    ASSERT_TRUE(loop_.RunUntil([&] { return frames_.size() == 2; }));
    EXPECT_EQ(caught, (std::vector<std::string>{"handler failed", "handler failed"}));
}

}  // namespace
}  // namespace ecr
