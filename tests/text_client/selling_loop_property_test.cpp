// The selling loop against a scripted register server, driven by random sequences of events:
// input files of sale, print and payment lines (some too long to send) for three registers;
// SET openings granted or refused; registers that take a line, report it (sometimes with a
// link error) and confirm or refuse it at any later moment; the user's Cancel, Retry, Stop
// and Start; the server closing the connection; the program killed (its loop dropped
// without a close) or ended by the session, and started again over the same folders.
//
// The server stands for the register server as the client sees it: one pending command per
// register's SET, a second one refused with 3 (busy) until the register has taken the first;
// a cancel drops a command not taken yet but not one the register has taken; the replies of
// a connection never reach another one. Each line carries a token of its own in its data, so
// that the server knows every request's line.
//
// Invariants, over all restarts:
// - a line's request leaves again only after a reply that shows the register did not take
//   it (22 after a link error, or a refusal); never one too long for a message;
// - every file lies in exactly one place, whole: not lost, its output not written twice;
// - each line shows its placeholder only while no request of it may have been taken, "??"
//   only after its request left (with no number or the number of its own early reply), and
//   otherwise a result that the server gave that very line.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>
#include <rapidcheck/state.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "server/client_message.h"
#include "server/receipt_ref.h"
#include "tests/support/temp_dir.h"
#include "tests/text_client/poll_loop.h"
#include "tests/text_client/temp_folder.h"
#include "text_client/selling_loop.h"

namespace ecr {
namespace {

using testing_support::ListenOnLoopback;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr int kRegisters = 3;
constexpr char kPlaceholderResult[] = "______,_,__";

// A folder for one case, on a memory file system where there is one (the loop syncs each
// line's mark to the disk before the line's request leaves).
class CaseFolder {
public:
    CaseFolder() {
        char pattern[] = "/dev/shm/wexhaven-property-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            path_ = std::string(pattern) + "/";
        } else {
            fallback_.emplace();
            path_ = fallback_->Path().string() + "/";
        }
    }
    ~CaseFolder() {
        std::error_code ignored;
        if (!fallback_) std::filesystem::remove_all(path_, ignored);
    }
    CaseFolder(const CaseFolder&) = delete;
    CaseFolder& operator=(const CaseFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::optional<TempDir> fallback_;
    std::string path_;
};

// The sockets the client watches, driven without waiting.
class ManualWatch : public SocketWatch {
public:
    void WatchSocket(int fd, bool forRead, bool forWrite) override { watched_[fd] = {forRead, forWrite}; }
    void UnwatchSocket(int fd) override { watched_.erase(fd); }

    // Handles one ready event of `client`; false when none was ready.
    bool HandleOne(TSockClient& client) {
        if (watched_.empty()) return false;
        const auto [fd, interest] = *watched_.begin();
        pollfd entry{fd, static_cast<short>((interest.first ? POLLIN : 0) | (interest.second ? POLLOUT : 0)), 0};
        if (::poll(&entry, 1, 0) != 1) return false;
        if (interest.second && (entry.revents & (POLLOUT | POLLERR | POLLHUP))) {
            client.HandleWritable();
            return true;
        }
        if (entry.revents & (POLLIN | POLLERR | POLLHUP)) {
            client.HandleReadable();
            return true;
        }
        return false;
    }

private:
    std::map<int, std::pair<bool, bool>> watched_;
};

class SellingLoopHostStub : public SellingLoopHost {
public:
    void StartTimer(LoopTimer timer, int) override { timer_ = timer; }
    void StopTimer() override { timer_.reset(); }
    void ShowError(const std::string&) override {}
    void ShowNotReadyDialog(const std::string&) override { dialogShown = true; }
    void CloseNotReadyDialog() override { dialogShown = false; }
    bool AskPassword(const std::string& password) override { return password == "secret"; }
    void ShowRunning(bool) override {}
    void ShowStartStopItem(bool) override {}
    void EnableConfigure(bool) override {}
    void HideTrayIcon() override {}
    void RefreshStatusIfShown() override {}
    void SavePasswords() override {}
    void CloseMainWindow() override {
        if (loop && loop->CloseQuery()) closed = true;
    }

    bool TickDue() const { return timer_ == LoopTimer::ProcessingTick; }
    void Reset() {
        timer_.reset();
        dialogShown = false;
        closed = false;
    }

    SellingLoop* loop = nullptr;
    bool dialogShown = false;
    bool closed = false;

private:
    std::optional<LoopTimer> timer_;
};

// True when all that each end of the connection between `clientFd` and `serverFd` wrote
// has reached the other's receive queue (or they are not the two ends of one connection).
bool Delivered(int clientFd, int serverFd) {
    if (clientFd < 0 || serverFd < 0) return true;
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t length = sizeof local;
    if (::getsockname(clientFd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return true;
    length = sizeof peer;
    if (::getpeername(serverFd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || local.sin_port != peer.sin_port) {
        return true;
    }
    tcp_info client{};
    tcp_info server{};
    length = sizeof client;
    if (::getsockopt(clientFd, IPPROTO_TCP, TCP_INFO, &client, &length) != 0) return true;
    length = sizeof server;
    if (::getsockopt(serverFd, IPPROTO_TCP, TCP_INFO, &server, &length) != 0) return true;
    return client.tcpi_notsent_bytes == 0 && server.tcpi_notsent_bytes == 0 &&
           client.tcpi_bytes_sent - client.tcpi_bytes_retrans == server.tcpi_bytes_received &&
           server.tcpi_bytes_sent - server.tcpi_bytes_retrans == client.tcpi_bytes_received;
}

// One line of an input file, as the test wrote it.
struct LineSpec {
    int registerNumber = 1;
    char letter = 'S';
    bool tooLong = false;
};

std::uint8_t CopOf(char letter) { return letter == 'S' ? 4 : letter == 'P' ? 5 : 8; }

// The 11 bytes that a result of `number`, `digit` and `code` text shows.
std::string ResultText(std::int32_t number, int digit, const std::string& code) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6d,%.1d,%s", number, digit, code.c_str());
    return std::string(text).substr(0, 11);
}

std::string CodeText(std::uint8_t code) {
    if (code == 0) return "Ok";
    if (code == 5 || code == 22) return "Er";
    char text[3];
    std::snprintf(text, sizeof text, "%.2X", code);
    return text;
}

// What is known of every line of every file, and what it may show.
class Ledger {
public:
    struct Line {
        std::string file;
        int index = 0;
        LineSpec spec;
        std::string text;     // as written, with its line end
        std::string payload;  // its request's payload
        int sends = 0;        // requests that reached the server
        int openSends = 0;    // of them, those the register may have taken
        std::set<std::string> mayShow;  // results it may show besides placeholder and "??"
    };

    // The content of the new input file `name` of `lines`.
    std::string AddFile(const std::string& name, const std::vector<LineSpec>& lines) {
        std::string content;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Line line;
            line.file = name;
            line.index = static_cast<int>(i);
            line.spec = lines[i];
            std::string data = "t" + name + "-" + std::to_string(i) + ";";
            // A request of 251 bytes and more does not fit into a message.
            if (line.spec.tooLong) data += std::string(250, 'x') + ";";
            line.text = std::string(1, line.spec.letter) + "," + std::to_string(line.spec.registerNumber) + "," +
                        kPlaceholderResult + ";" + data + "\n";
            const std::string cut = data.substr(0, 255);
            line.payload = line.spec.letter == 'S' ? ("1;" + cut).substr(0, 255) : cut;
            if (line.spec.tooLong) line.mayShow.insert(ResultText(0, 0, CodeText(erBufferOverflow)));
            byRequest_[{CopOf(line.spec.letter), line.payload}] = lines_.size();
            content += line.text;
            lines_.push_back(std::move(line));
        }
        files_[name] = content;
        return content;
    }

    // A request arrived at the server: its line, after the checks of its sending.
    std::size_t RequestArrived(std::uint8_t command, std::uint8_t logNo, const std::string& payload) {
        RC_ASSERT(kMessageHeaderLength + payload.size() <= kMaxMessageLength);
        const auto found = byRequest_.find({command, payload});
        if (found == byRequest_.end()) {
            RC_FAIL("a request of no line (command " + std::to_string(command) + "): " + payload);
        }
        Line& line = lines_[found->second];
        RC_ASSERT(!line.spec.tooLong);
        RC_ASSERT(line.spec.registerNumber == logNo);
        if (line.openSends != 0) RC_FAIL("sold again while the register may have it: " + payload);
        ++line.sends;
        ++line.openSends;
        return found->second;
    }
    int Sends() const {
        int sends = 0;
        for (const Line& line : lines_) sends += line.sends;
        return sends;
    }
    void MayShow(std::size_t line, const std::string& result) { lines_[line].mayShow.insert(result); }
    // A reply showed that the register did not take the line's request.
    void NotTaken(std::size_t line) { --lines_[line].openSends; }
    // An opening of register `logNo` was refused with `code` while `fileInWork` was in
    // work: each of its lines for that register that has not gone out may show it.
    void OpeningRefused(const std::string& fileInWork, int logNo, std::uint8_t code) {
        for (Line& line : lines_) {
            if (fileInWork.ends_with("/" + line.file) && line.spec.registerNumber == logNo && line.sends == 0) {
                line.mayShow.insert(ResultText(0, 0, CodeText(code)));
            }
        }
    }

    // Every file lies in exactly one place, whole, and its lines show what they may.
    void CheckFiles(const std::string& inputFolder, const std::string& outputFolder) const {
        for (const auto& [name, content] : files_) {
            std::vector<std::string> copies;
            std::string where;
            for (const std::string& place :
                 {inputFolder + name, inputFolder + "check/" + name, inputFolder + name + ".check"}) {
                if (std::filesystem::exists(place)) {
                    copies.push_back(ReadFile(place));
                    where += " " + place;
                }
            }
            const std::string output = outputFolder + std::filesystem::path(name).replace_extension("OUT").string();
            if (std::filesystem::exists(output)) {
                const std::string appended = ReadFile(output);
                RC_ASSERT(appended.size() % content.size() == 0u);
                for (std::size_t at = 0; at < appended.size(); at += content.size()) {
                    copies.push_back(appended.substr(at, content.size()));
                    where += " " + output;
                }
            }
            if (copies.size() != 1) RC_FAIL(name + " lies in " + std::to_string(copies.size()) + " places:" + where);
            CheckLines(name, copies[0]);
        }
    }

private:
    void CheckLines(const std::string& name, const std::string& copy) const {
        RC_ASSERT(copy.size() == files_.at(name).size());
        std::size_t at = 0;
        for (const Line& line : lines_) {
            if (line.file != name) continue;
            const std::string shown = copy.substr(at, line.text.size());
            at += line.text.size();
            // Only the result's 11 bytes may differ.
            RC_ASSERT(shown.substr(0, 4) == line.text.substr(0, 4));
            RC_ASSERT(shown.substr(15) == line.text.substr(15));
            const std::string result = shown.substr(4, 11);
            if (result == kPlaceholderResult) {
                if (line.openSends != 0) RC_FAIL("shown unsold, but the register may have it: " + shown);
            } else if (result.ends_with(",??")) {
                if (line.sends == 0) RC_FAIL("shown as sent, but it never went: " + shown);
                if (result != "000000,0,??" && line.mayShow.count(result) == 0) {
                    RC_FAIL("shows another line's early reply: " + shown);
                }
            } else if (line.mayShow.count(result) == 0) {
                RC_FAIL("shows a result that is not its own: " + shown);
            }
        }
    }

    std::vector<Line> lines_;
    std::map<std::pair<std::uint8_t, std::string>, std::size_t> byRequest_;
    std::map<std::string, std::string> files_;
};

// The register server as the client sees it: one connection at a time, replies sent when
// the sequence says.
class ScriptedServer {
public:
    explicit ScriptedServer(Ledger& ledger) : ledger_(ledger), listener_(ListenOnLoopback(SOCK_NONBLOCK, port_)) {}
    ~ScriptedServer() {
        Close();
        ::close(listener_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    int ConnectionFd() const { return client_; }
    int ListenerFd() const { return listener_; }
    // True when a connection waits to be taken.
    bool ConnectionWaits() const {
        pollfd entry{listener_, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1;
    }
    // The file the client has in work, for the attribution of refused openings.
    std::string fileInWork;

    // Takes a new connection (the old one read out and gone) and reads what has come;
    // true when anything happened.
    bool Pump() {
        bool happened = false;
        const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted >= 0) {
            const int on = 1;  // as the register server: each reply goes out at once
            ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ReadAll();
            Close();
            client_ = accepted;
            happened = true;
        }
        return ReadAll() || happened;
    }

    // The server closes the connection.
    void Close() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
        inbox_.clear();
        registers_ = {};
        cancels_.clear();
    }

    // Advance: what a register that answers at once does next (grants the opening, takes the
    // command, reports it, confirms it).
    enum class Event { Open, OpenRefused, Take, Early, EarlyLinkError, Final, FinalNotExecuted, Refuse, Advance };
    static constexpr int kEvents = 9;

    // `event` at the register that the `pick`-th of those it applies to (from 0, modulo
    // their number); nothing when it applies to none.
    void At(Event event, int pick) {
        std::vector<int> applies;
        for (int logNo = 1; logNo <= kRegisters; ++logNo) {
            const Register& reg = At(logNo);
            const bool fits = event == Event::Advance ? reg.openings > 0 || reg.taken || reg.queued || !reg.owed.empty()
                              : event == Event::Open || event == Event::OpenRefused ? reg.openings > 0
                              : event == Event::Take                             ? reg.queued && !reg.taken
                              : event == Event::Early || event == Event::EarlyLinkError
                                  ? reg.taken.has_value()
                              : event == Event::Refuse ? reg.queued.has_value()
                                                       : !reg.owed.empty();
            if (fits) applies.push_back(logNo);
        }
        if (applies.empty()) return;
        const int logNo = applies[static_cast<std::size_t>(pick) % applies.size()];
        if (event == Event::Advance) {
            const Register& reg = At(logNo);
            event = reg.openings > 0 ? Event::Open
                    : reg.taken      ? Event::Early
                    : reg.queued     ? Event::Take
                                     : Event::Final;
        }
        switch (event) {
            case Event::Open: AnswerOpening(logNo, false); break;
            case Event::OpenRefused: AnswerOpening(logNo, true); break;
            case Event::Take: Take(logNo); break;
            case Event::Early: Early(logNo, false); break;
            case Event::EarlyLinkError: Early(logNo, true); break;
            case Event::Final: Final(logNo, true); break;
            case Event::FinalNotExecuted: Final(logNo, false); break;
            case Event::Refuse: Refuse(logNo, logNo == 3 ? erUnknownCommand : erSyntax); break;
            case Event::Advance: break;
        }
    }

    void AnswerOpening(int logNo, bool refuse) {
        Register& reg = At(logNo);
        if (reg.openings == 0) return;
        --reg.openings;
        std::uint8_t code = refuse ? erWrongSetPassword : erNoError;
        if (reg.held) code = erSetTaken;
        if (code == erNoError) {
            reg.held = true;
        } else {
            ledger_.OpeningRefused(fileInWork, logNo, code);
        }
        Send(13, cmdOpenSet, logNo, code, "");
    }
    // The register takes its pending command (answers its question with it).
    void Take(int logNo) {
        Register& reg = At(logNo);
        if (!reg.queued || reg.taken) return;
        reg.taken = reg.queued;
        reg.queued.reset();
        reg.taken->ref = NextRef();
        reg.commandSet = true;
    }
    // The answer went to the register, or was lost on the line: the early reply.
    void Early(int logNo, bool linkError) {
        Register& reg = At(logNo);
        if (!reg.taken) return;
        Exchange exchange = *reg.taken;
        reg.taken.reset();
        reg.commandSet = false;
        exchange.linkError = linkError;
        const ReceiptRef ref = exchange.ref;
        ledger_.MayShow(exchange.line, ResultText(ref.SerialNumber, ref.MessageNumber, "??"));
        Send(13, cmdAnswerSentReply, logNo, linkError ? erBadLine : erNoError, ref.Encode());
        reg.owed.push_back(exchange);
    }
    // The register's next message: the final reply of the oldest line reported.
    void Final(int logNo, bool executed) {
        Register& reg = At(logNo);
        if (reg.owed.empty()) return;
        const Exchange exchange = reg.owed.front();
        reg.owed.pop_front();
        const ReceiptRef ref = exchange.ref;
        const std::uint8_t code = exchange.linkError || !executed ? erNotExecuted : erNoError;
        ledger_.MayShow(exchange.line, ResultText(ref.SerialNumber, ref.MessageNumber, CodeText(code)));
        if (exchange.linkError) {
            // After the last resend the line shows the link error's code.
            ledger_.MayShow(exchange.line, ResultText(ref.SerialNumber, ref.MessageNumber, CodeText(erBadLine)));
        }
        if (code == erNotExecuted) ledger_.NotTaken(exchange.line);
        Send(13, exchange.command, logNo, code, ref.Encode());
    }
    // The register's question does not fit the pending command: it is refused.
    void Refuse(int logNo, std::uint8_t code) {
        Register& reg = At(logNo);
        if (!reg.queued) return;
        const Exchange exchange = *reg.queued;
        reg.queued.reset();
        const ReceiptRef ref = NextRef();
        ledger_.MayShow(exchange.line, ResultText(ref.SerialNumber, ref.MessageNumber, CodeText(code)));
        ledger_.NotTaken(exchange.line);
        Send(13, exchange.command, logNo, code, ref.Encode());
    }
    // A cancel reaches the server: the command not taken yet is dropped; one the register
    // has taken goes on.
    void AnswerCancel() {
        if (cancels_.empty()) return;
        const int logNo = cancels_.front();
        cancels_.pop_front();
        Register& reg = At(logNo);
        reg.queued.reset();
        reg.commandSet = false;
        Send(13, cmdCancelSet, logNo, erNoError, "");
    }

private:
    struct Exchange {
        std::size_t line = 0;
        std::uint8_t command = 0;
        ReceiptRef ref{};
        bool linkError = false;
    };
    struct Register {
        bool held = false;
        int openings = 0;                // received, not answered
        std::optional<Exchange> queued;  // the SET's pending command, not taken
        std::optional<Exchange> taken;   // taken by the register, no early reply yet
        bool commandSet = false;         // the SET still holds the taken command
        std::deque<Exchange> owed;       // reported, final reply owed
    };

    Register& At(int logNo) { return registers_[static_cast<std::size_t>(logNo - 1)]; }

    ReceiptRef NextRef() {
        ++sequence_;
        return ReceiptRef{7, sequence_, sequence_, static_cast<std::uint8_t>(sequence_ % 10)};
    }

    bool ReadAll() {
        if (client_ < 0) return false;
        bool happened = false;
        char buffer[512];
        for (;;) {
            const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
            if (n > 0) {
                inbox_.append(buffer, static_cast<std::size_t>(n));
                happened = true;
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                HandleFrames();
                Close();  // the client has gone
                return true;
            }
            if (errno == EINTR) continue;
            break;
        }
        HandleFrames();
        return happened;
    }

    void HandleFrames() {
        while (!inbox_.empty()) {
            const std::size_t length = static_cast<std::uint8_t>(inbox_[0]);
            if (inbox_.size() < length + 1) return;
            const ClientMessage request = ParseClientMessage(inbox_.substr(1, length));
            inbox_.erase(0, length + 1);
            Handle(request);
        }
    }

    void Handle(const ClientMessage& request) {
        if (request.SetNo == kServerSet && request.Command == cmdIdentify) {
            Send(kServerSet, cmdIdentify, 0, erNoError, "", "Harbendix;v1.0.21.1;");
            return;
        }
        RC_ASSERT(request.SetNo == kSellingSet);
        RC_ASSERT(request.LogNo >= 1 && request.LogNo <= kRegisters);
        Register& reg = At(request.LogNo);
        if (request.Command == cmdOpenSet) {
            ++reg.openings;
        } else if (request.Command == cmdCancelSet) {
            cancels_.push_back(request.LogNo);
        } else {
            const std::size_t line = ledger_.RequestArrived(request.Command, request.LogNo, request.Payload);
            std::uint8_t refusal = erNoError;
            if (!reg.held) {
                refusal = erSetNotYours;
            } else if (reg.queued || reg.commandSet) {
                refusal = erEcrBusy;
            }
            if (refusal != erNoError) {
                ledger_.MayShow(line, ResultText(0, 0, CodeText(refusal)));
                ledger_.NotTaken(line);
                Send(13, request.Command, request.LogNo, refusal, "");
                return;
            }
            reg.queued = Exchange{line, request.Command, {}, false};
        }
    }

    void Send(std::uint8_t setNo, std::uint8_t command, int logNo, std::uint8_t code, const std::string& block,
              const std::string& payload = "") {
        if (client_ < 0) return;
        const std::string message =
            BuildClientMessage(setNo, command, static_cast<std::uint8_t>(logNo), code, block, payload);
        const std::string frame = std::string(1, static_cast<char>(message.size())) + message;
        (void)::send(client_, frame.data(), frame.size(), MSG_NOSIGNAL);  // a client gone hears nothing
    }

    Ledger& ledger_;
    std::uint16_t port_ = 0;  // before the listener, which sets it
    int listener_ = -1;
    int client_ = -1;
    std::string inbox_;
    std::array<Register, kRegisters> registers_{};
    std::deque<int> cancels_;  // of this connection, not yet reached the server
    std::int32_t sequence_ = 0;
};

// The program over its folders, the server and what is known of the lines.
class World {
public:
    World() : server_(ledger_) {
        settings_.Address = "127.0.0.1";
        settings_.Port = server_.Port();
        settings_.InputPath = folder_.Path() + "in/";
        settings_.OutputPath = folder_.Path() + "out/";
        settings_.Action = "APPEND";
        settings_.TimeOut = 1;  // the not-ready dialog after two ticks without a reply
        std::filesystem::create_directories(settings_.InputPath);
        std::filesystem::create_directories(settings_.OutputPath);
        passwords_.SetLoginPassword("login");
        passwords_.SetSystemPassword("secret");
        StartProgram();
    }
    ~World() {
        loop_.reset();
        socket_.reset();
    }

    void AddFile(int serial, const std::vector<LineSpec>& lines) {
        const std::string name = "f" + std::to_string(serial) + ".inp";
        WriteFile(settings_.InputPath + name, ledger_.AddFile(name, lines));
    }

    void Tick() {
        if (host_.TickDue()) loop_->OnTimer(LoopTimer::ProcessingTick);
        Settle();
    }
    void AnswerDialog(NotReadyAnswer answer) {
        if (host_.dialogShown) {
            host_.dialogShown = false;
            loop_->NotReadyDialogClosed(answer);
        }
        Settle();
    }
    // The user stops selling (the system password asked), and starts it again.
    void StopAndStart() {
        if (!loop_->StartStopShowsStart()) loop_->StartStopClicked();
        Settle();
        Check();
        StartAgain();
    }
    // The server closes the connection; the user starts selling again.
    void ServerCloses() {
        AtServer([](ScriptedServer& server) { server.Close(); });
        Check();
        StartAgain();
    }
    template <typename Act>
    void AtServer(Act&& act) {
        server_.fileInWork = loop_->Input().IsOpen() ? loop_->Input().FileName() : "";
        act(server_);
        Settle();
    }
    // The program is killed and started again.
    void Kill() {
        loop_.reset();
        socket_.reset();
        Settle();
        StartProgram();
    }
    // The session ends (or the system asks the program to end), and it is started again.
    void EndSession() {
        loop_->EndOfSession();
        RC_ASSERT(host_.closed);
        Kill();
    }

    void StartAgain() {
        if (loop_->StartStopShowsStart()) loop_->StartStopClicked();
        Settle();
    }

    // After every event: the invariants of the files.
    void Check() const {
        ++events_;
        ledger_.CheckFiles(settings_.InputPath, settings_.OutputPath);
    }
    int Events() const { return events_; }
    int Sends() const { return ledger_.Sends(); }

private:
    void StartProgram() {
        host_.Reset();
        socket_ = std::make_unique<TSockClient>(watch_);
        socket_->SetEnabled(true);
        loop_ = std::make_unique<SellingLoop>(host_, *socket_, settings_, passwords_, nullptr, 7,
                                              folder_.Path() + "wexhaven.passed");
        host_.loop = loop_.get();
        loop_->ConnectToServer();
        Settle();
    }

    // Both sides handle what has come, until all that either sent has arrived and been
    // handled, and no connection is on its way.
    void Settle() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            bool happened = server_.Pump();
            if (socket_) {
                while (watch_.HandleOne(*socket_)) happened = true;
            }
            if (happened) continue;
            const bool connecting = socket_ && socket_->HasSocket() && !socket_->Connected();
            const int clientFd = socket_ && socket_->HasSocket() ? socket_->Descriptor() : -1;
            if (!connecting && !server_.ConnectionWaits() && Delivered(clientFd, server_.ConnectionFd())) return;
            if (std::chrono::steady_clock::now() > end) RC_FAIL("the client and the server do not come to rest");
            // Wait for the bytes on their way, or a connection.
            std::vector<pollfd> ends{{server_.ListenerFd(), POLLIN, 0}};
            if (clientFd >= 0) ends.push_back({clientFd, POLLIN, 0});
            if (server_.ConnectionFd() >= 0) ends.push_back({server_.ConnectionFd(), POLLIN, 0});
            ::poll(ends.data(), ends.size(), 1);
        }
    }

    CaseFolder folder_;
    ClientSettings settings_;
    ClientPasswords passwords_;
    Ledger ledger_;
    ScriptedServer server_;
    SellingLoopHostStub host_;
    ManualWatch watch_;
    std::unique_ptr<TSockClient> socket_;
    std::unique_ptr<SellingLoop> loop_;
    mutable int events_ = 0;
};

struct Model {
    int files = 0;
};

using Command = rc::state::Command<Model, World>;

struct AddFile : Command {
    std::vector<int> codes =
        *rc::gen::resize(4, rc::gen::nonEmpty(rc::gen::container<std::vector<int>>(rc::gen::inRange(0, 40))));
    std::vector<LineSpec> Lines() const {
        std::vector<LineSpec> lines;
        for (int code : codes) {
            // Small codes (what shrinking gives) are plain sale lines of register 1.
            lines.push_back({1 + code % kRegisters, "SPC"[(code / kRegisters) % 3], code >= 36});
        }
        return lines;
    }
    void checkPreconditions(const Model& model) const override { RC_PRE(model.files < 6); }
    void apply(Model& model) const override { ++model.files; }
    void run(const Model& model, World& world) const override { world.AddFile(model.files, Lines()); }
    void show(std::ostream& out) const override {
        out << "AddFile(";
        for (const LineSpec& line : Lines()) out << line.letter << line.registerNumber << (line.tooLong ? "+ " : " ");
        out << ")";
    }
};

struct Tick : Command {
    void run(const Model&, World& world) const override {
        world.Tick();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "Tick"; }
};

// A second and a half in which no register says anything.
struct QuietTime : Command {
    void run(const Model&, World& world) const override {
        for (int tick = 0; tick < 3; ++tick) world.Tick();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "QuietTime"; }
};

// A register's event, at one of the registers it applies to.
struct RegisterEvent : Command {
    int kind = *rc::gen::inRange(0, ScriptedServer::kEvents - 1);
    int pick = *rc::gen::inRange(0, kRegisters);
    void run(const Model&, World& world) const override {
        world.AtServer([this](ScriptedServer& server) { server.At(static_cast<ScriptedServer::Event>(kind), pick); });
        world.Check();
    }
    void show(std::ostream& out) const override {
        static const char* const names[] = {"Open",           "OpenRefused", "Take",
                                            "Early",          "EarlyLinkError", "Final",
                                            "FinalNotExecuted", "Refuse", "Advance"};
        out << names[kind] << "#" << pick;
    }
};

// A register that answers at once does its next step.
struct RegisterAdvances : RegisterEvent {
    RegisterAdvances() { kind = static_cast<int>(ScriptedServer::Event::Advance); }
};

struct CancelReaches : Command {
    void run(const Model&, World& world) const override {
        world.AtServer([](ScriptedServer& server) { server.AnswerCancel(); });
        world.Check();
    }
    void show(std::ostream& out) const override { out << "CancelReply"; }
};

struct UserAnswers : Command {
    bool cancel = *rc::gen::arbitrary<bool>();
    void run(const Model&, World& world) const override {
        world.AnswerDialog(cancel ? NotReadyAnswer::Cancel : NotReadyAnswer::Retry);
        world.Check();
    }
    void show(std::ostream& out) const override { out << (cancel ? "Cancel" : "Retry"); }
};

struct UserStopsAndStarts : Command {
    void run(const Model&, World& world) const override {
        world.StopAndStart();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "StopAndStart"; }
};

struct ServerCloses : Command {
    void run(const Model&, World& world) const override {
        world.ServerCloses();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "ServerClosesAndStartAgain"; }
};

struct ProgramKilled : Command {
    void run(const Model&, World& world) const override {
        world.Kill();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "Killed"; }
};

struct SessionEnds : Command {
    void run(const Model&, World& world) const override {
        world.EndSession();
        world.Check();
    }
    void show(std::ostream& out) const override { out << "SessionEnds"; }
};

// The harness itself: a plain sale goes through it.
TEST(SellingLoopPropertyHarness, SellsALine) {
    World world;
    world.AddFile(0, {{1, 'S', false}, {1, 'P', false}});
    world.Tick();
    world.AtServer([](ScriptedServer& server) { server.AnswerOpening(1, false); });
    world.AtServer([](ScriptedServer& server) { server.Take(1); });
    world.AtServer([](ScriptedServer& server) { server.Early(1, false); });
    world.AtServer([](ScriptedServer& server) { server.Final(1, true); });
    world.AtServer([](ScriptedServer& server) { server.Take(1); });
    world.AtServer([](ScriptedServer& server) { server.Early(1, false); });
    world.AtServer([](ScriptedServer& server) { server.Final(1, true); });
    EXPECT_EQ(world.Sends(), 2);
    world.Check();
}

RC_GTEST_PROP(SellingLoopProperty, NoLineSoldTwiceNoneLostEachShowsItsOwnResult, ()) {
    World world;
    // Weighted by repetition: the register's events and the ticks come most often. Runs
    // are made three times as long as the size says: a sale, a cancel and its wait take
    // a dozen events.
    const auto commands = *rc::gen::scale(
        3.0, rc::state::gen::commands(
                 Model{}, rc::state::gen::execOneOfWithArgs<
                              AddFile, AddFile, Tick, Tick, QuietTime, QuietTime, QuietTime, RegisterAdvances,
                              RegisterAdvances, RegisterAdvances, RegisterAdvances, RegisterAdvances, RegisterAdvances,
                              RegisterEvent, RegisterEvent, RegisterEvent, CancelReaches, CancelReaches, UserAnswers,
                              UserAnswers, UserAnswers, UserStopsAndStarts, ServerCloses, ProgramKilled,
                              SessionEnds>()));
    rc::state::runAll(commands, Model{}, world);
    RC_TAG(world.Events() < 10 ? "under 10 events" : world.Events() < 30 ? "10-29 events" : "30 events or more");
    RC_TAG(world.Sends() == 0 ? "no request" : world.Sends() < 5 ? "1-4 requests" : "5 requests or more");
}

}  // namespace
}  // namespace ecr
