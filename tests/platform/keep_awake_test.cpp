// The keep-awake request against a stand-in for logind on a private system bus: what it
// asks for, that it holds the inhibitor for as long as it lives, and what a failure says.
#include "platform/keep_awake.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/registry_test_folder.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using test::SavedEnvironment;

struct InhibitCall {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
};

// logind as far as the request needs it: a socket that DBUS_SYSTEM_BUS_ADDRESS names, served
// by sd-bus in server mode on a thread of its own, one connection after the other. It
// answers the bus's Hello and logind's Inhibit and records every Inhibit. The first Inhibit
// gets the write end of a pipe as the inhibitor, and the fake lets its own copy go, so that
// the test sees when the request lets the inhibitor go. With a refusal it answers every
// Inhibit with that error instead.
class FakeLogind {
public:
    explicit FakeLogind(std::optional<std::string> refusal = std::nullopt)
        : refusal_(std::move(refusal)), address_(dir_.File("system_bus_socket")) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un name{};
        name.sun_family = AF_UNIX;
        std::strncpy(name.sun_path, address_.c_str(), sizeof name.sun_path - 1);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&name), sizeof name) != 0 ||
            ::listen(listener_, 4) != 0 || ::pipe2(inhibitor_, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("fake logind: ") + std::strerror(errno));
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeLogind() {
        const std::uint64_t one = 1;
        (void)!::write(stop_, &one, sizeof one);
        thread_.join();
        for (int fd : {listener_, stop_, inhibitor_[0], inhibitor_[1]})
            if (fd >= 0) ::close(fd);
    }
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    std::string BusAddress() const { return "unix:path=" + address_; }

    std::vector<InhibitCall> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    // True once every copy of the inhibitor handed out is closed (bounded wait).
    bool InhibitorReleased(int timeoutMs = 10000) const {
        pollfd entry{inhibitor_[0], POLLIN, 0};
        char byte;
        return ::poll(&entry, 1, timeoutMs) == 1 && ::read(inhibitor_[0], &byte, 1) == 0;
    }

private:
    // Waits for `fd` to be ready for `events`, or for the stop; false at the stop.
    bool WaitFor(int fd, short events, int timeoutMs = -1) const {
        pollfd entries[] = {{fd, events, 0}, {stop_, POLLIN, 0}};
        while (::poll(entries, 2, timeoutMs) < 0 && errno == EINTR) {
        }
        return entries[1].revents == 0;
    }

    void Serve() {
        while (WaitFor(listener_, POLLIN)) {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) ServeConnection(connection);
        }
    }

    void ServeConnection(int connection) {
        static const sd_bus_vtable kBusVtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Hello", "", "s", &FakeLogind::Hello, 0),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable kManagerVtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::Inhibit, 0),
            SD_BUS_VTABLE_END,
        };
        sd_bus* bus = nullptr;
        sd_id128_t id{};
        if (sd_bus_new(&bus) < 0) {
            ::close(connection);
            return;
        }
        sd_id128_randomize(&id);
        if (sd_bus_set_fd(bus, connection, connection) >= 0 && sd_bus_set_server(bus, 1, id) >= 0 &&
            sd_bus_negotiate_fds(bus, 1) >= 0 &&
            sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/DBus", "org.freedesktop.DBus", kBusVtable,
                                     this) >= 0 &&
            sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     kManagerVtable, this) >= 0 &&
            sd_bus_start(bus) >= 0) {
            // Until the peer hangs up (processing fails) or the test ends.
            for (;;) {
                const int processed = sd_bus_process(bus, nullptr);
                if (processed < 0) break;
                if (processed > 0) continue;
                if (!WaitFor(sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)))) break;
            }
        }
        sd_bus_flush_close_unref(bus);  // closes the connection too
    }

    static int Hello(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "s", ":1.1");
    }

    static int Inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
        auto& logind = *static_cast<FakeLogind*>(self);
        const char* fields[4] = {};
        const int read = sd_bus_message_read(call, "ssss", &fields[0], &fields[1], &fields[2], &fields[3]);
        if (read < 0) return read;
        {
            std::lock_guard lock(logind.mutex_);
            logind.calls_.push_back({fields[0], fields[1], fields[2], fields[3]});
        }
        if (logind.refusal_)
            return sd_bus_reply_method_errorf(call, "org.freedesktop.DBus.Error.AccessDenied", "%s",
                                              logind.refusal_->c_str());
        if (logind.inhibitor_[1] < 0)
            return sd_bus_reply_method_errorf(call, "org.freedesktop.DBus.Error.LimitsExceeded",
                                              "one inhibitor per test");
        // The reply carries a copy; ours goes, so that the request's copy is the last.
        const int sent = sd_bus_reply_method_return(call, "h", logind.inhibitor_[1]);
        ::close(logind.inhibitor_[1]);
        logind.inhibitor_[1] = -1;
        return sent;
    }

    const std::optional<std::string> refusal_;
    TempDir dir_;
    const std::string address_;
    int listener_ = -1;
    int stop_ = -1;
    int inhibitor_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<InhibitCall> calls_;
    std::thread thread_;
};

// The request on the fake's bus, named in DBUS_SYSTEM_BUS_ADDRESS for the test's length.
class KeepAwakeOnFakeBus : public ::testing::Test {
protected:
    void Use(FakeLogind& logind) { bus_.Set(logind.BusAddress().c_str()); }

    std::vector<std::string> reports_;
    KeepAwake::Reporter Record() {
        return [this](const std::string& text) { reports_.push_back(text); };
    }

private:
    SavedEnvironment bus_{"DBUS_SYSTEM_BUS_ADDRESS"};
};

TEST_F(KeepAwakeOnFakeBus, AsksForAnIdleBlockInhibitorAndHoldsItForItsLife) {
    FakeLogind logind;
    Use(logind);
    {
        auto keepAwake = std::make_unique<KeepAwake>(Record(), "lontaros");
        ASSERT_TRUE(keepAwake->IsBound());
        EXPECT_EQ(keepAwake->SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), ES_CONTINUOUS)
            << keepAwake->LastError();
        EXPECT_TRUE(keepAwake->HoldsInhibitor());
        // A second request keeps the inhibitor it has.
        EXPECT_EQ(keepAwake->SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
                  ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        EXPECT_FALSE(logind.InhibitorReleased(200)) << "held while the object lives";
        keepAwake.reset();
    }
    EXPECT_TRUE(logind.InhibitorReleased());
    const std::vector<InhibitCall> calls = logind.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].what, "idle") << "stops idle sleep only: the user's own suspend goes ahead";
    EXPECT_EQ(calls[0].mode, "block");
    EXPECT_EQ(calls[0].who, "lontaros");
    EXPECT_FALSE(calls[0].why.empty());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(KeepAwakeOnFakeBus, ContinuousAloneWithdrawsTheRequest) {
    FakeLogind logind;
    Use(logind);
    KeepAwake keepAwake(Record(), "wexhaven");
    ASSERT_NE(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
    EXPECT_TRUE(logind.InhibitorReleased());
}

TEST_F(KeepAwakeOnFakeBus, ARefusalFailsTheRequestAndSaysWhy) {
    FakeLogind logind("Permission denied by policy");
    Use(logind);
    KeepAwake keepAwake(Record(), "wexhaven");
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
    EXPECT_EQ(keepAwake.LastError(), "Inhibit: Permission denied by policy");
    EXPECT_EQ(RequestKeepAwake(&keepAwake), "Keep-awake request failed: Inhibit: Permission denied by policy");
    EXPECT_EQ(logind.Calls().size(), 2u);
    EXPECT_TRUE(reports_.empty()) << "a refusal shows no box";
}

TEST(KeepAwake, MissingLibraryReportsBothTexts) {
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test",
                        "libno-such-library-here.so.0");
    EXPECT_EQ(reports, (std::vector<std::string>{"Error loading libno-such-library-here.so.0",
                                                 "Function sd_bus_open_system not defined"}));
    EXPECT_FALSE(keepAwake.IsBound());
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
    EXPECT_NE(keepAwake.LastError().find("libno-such-library-here.so.0"), std::string::npos)
        << keepAwake.LastError();
}

TEST(KeepAwake, LibraryWithoutTheFunctionReportsOnlyTheFunction) {
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test",
                        "libm.so.6");
    EXPECT_EQ(reports, std::vector<std::string>{"Function sd_bus_open_system not defined"});
    EXPECT_FALSE(keepAwake.IsBound());
    EXPECT_EQ(keepAwake.LastError(), "Function sd_bus_open_system not defined");
}

// The programs bind the library the environment names, so that a test can start one on
// a system that lacks the call.
TEST(KeepAwake, TheProgramsBindTheLibraryTheEnvironmentNames) {
    const SavedEnvironment named("ECR_KEEP_AWAKE_LIBRARY");
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        named.Set(unset);
        EXPECT_EQ(KeepAwakeLibrary(), kKeepAwakeLibrary);
    }
    named.Set("libno-such-library-here.so.0");
    EXPECT_EQ(KeepAwakeLibrary(), "libno-such-library-here.so.0");
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test");
    EXPECT_EQ(reports, (std::vector<std::string>{"Error loading libno-such-library-here.so.0",
                                                 "Function sd_bus_open_system not defined"}));
}

TEST(KeepAwake, WithoutASystemBusTheRequestFailsWithoutABox) {
    const TempDir dir;
    const SavedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.File("no-bus")).c_str());
    std::vector<std::string> reports;
    KeepAwake keepAwake([&](const std::string& text) { reports.push_back(text); }, "test");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(keepAwake.IsBound());
    EXPECT_EQ(keepAwake.SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED), 0u);
    EXPECT_FALSE(keepAwake.HoldsInhibitor());
    EXPECT_FALSE(keepAwake.LastError().empty());
}

// What the programs log: one line with the reason for every way the request can fail,
// nothing when it holds or when there is no entry to call.
TEST(RequestKeepAwake, GivesTheLogLineOfAFailure) {
    const TempDir dir;
    const SavedEnvironment bus("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.File("no-bus")).c_str());
    EXPECT_EQ(RequestKeepAwake(nullptr), std::nullopt);

    KeepAwake noBus(nullptr, "test");
    const std::optional<std::string> busLine = RequestKeepAwake(&noBus);
    ASSERT_TRUE(busLine.has_value());
    EXPECT_EQ(*busLine, "Keep-awake request failed: " + noBus.LastError());

    KeepAwake noLibrary(nullptr, "test", "libno-such-library-here.so.0");
    const std::optional<std::string> libraryLine = RequestKeepAwake(&noLibrary);
    ASSERT_TRUE(libraryLine.has_value());
    EXPECT_TRUE(libraryLine->starts_with("Keep-awake request failed: ")) << *libraryLine;
    EXPECT_NE(libraryLine->find("libno-such-library-here.so.0"), std::string::npos) << *libraryLine;

    KeepAwake noFunction(nullptr, "test", "libm.so.6");
    EXPECT_EQ(RequestKeepAwake(&noFunction), "Keep-awake request failed: Function sd_bus_open_system not defined");
}

TEST_F(KeepAwakeOnFakeBus, RequestKeepAwakeIsSilentWhenTheInhibitorHolds) {
    FakeLogind logind;
    Use(logind);
    KeepAwake keepAwake(Record(), "wexhaven");
    EXPECT_EQ(RequestKeepAwake(&keepAwake), std::nullopt) << keepAwake.LastError();
    EXPECT_TRUE(keepAwake.HoldsInhibitor());
}

}  // namespace
}  // namespace ecr
