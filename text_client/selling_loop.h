#pragma once

// The selling loop: connects to the register server, checks that it identifies itself with
// a version of at least 1.0.20.0, then on every tick takes the next input file, sends each
// valid line as a request on SET 13 of the line's register, and writes the replies back
// into the lines.
//
// States: 0 stopped, 1 ready for the next file, 2 a line outstanding, 3 awaiting the
// identification reply.
//
// Each line keeps its own progress (SET opening sent, request sent, answer sent, link
// errors counted), and a reply is matched to its line by the register it names and its
// command, so results reach their own lines also when replies do not follow the order of
// the lines.
//
// Threads: everything runs on the main thread, driven by the host's timer, the socket's
// events and the window's menu; no member may be called from another thread.

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "text_client/client_settings.h"
#include "text_client/input_file.h"
#include "text_client/selling_loop_host.h"
#include "text_client/sock_client.h"
#include "text_client/version_compare.h"

namespace ecr {

inline constexpr std::uint8_t kServerSet = 255;
inline constexpr std::uint8_t kSellingSet = 13;
inline constexpr std::uint8_t cmdIdentify = 1;
inline constexpr std::uint8_t cmdOpenSet = 1;
inline constexpr std::uint8_t cmdCancelSet = 3;
inline constexpr std::uint8_t cmdAnswerSentReply = 160;
inline constexpr std::uint8_t smQuitMessage = 2;
inline constexpr VersionParts RequiredServerVersion{1, 0, 20, 0};

inline constexpr int kStartDelayMs = 3000;
inline constexpr int kIdentificationDeadlineMs = 1000;
inline constexpr int kProcessingTickMs = 500;
inline constexpr int kMaxLineResends = 20;

// Why the loop stopped by itself when a finished file could not go out (shown by the
// status window until the next start).
inline constexpr char kStopOutputNamesInput[] = "the output folder and extension name the input files";

class SellingLoop {
public:
    using LogSink = std::function<void(const std::string& text)>;

    // Binds the socket's events. `settings` and `passwords` are the values in force; they,
    // the socket and the host must outlive the loop.
    SellingLoop(SellingLoopHost& host, TSockClient& socket, const ClientSettings& settings,
                const ClientPasswords& passwords, LogSink log, std::uint32_t seed);

    // At creation: state 0, "&Stop" shown, Configure disabled, the start timer set.
    void Begin();

    // The host's timer fired.
    void OnTimer(LoopTimer timer);
    void NotReadyDialogClosed(NotReadyAnswer answer);

    // Menu and window.
    void StartStopClicked();
    bool CloseQuery();  // true: the main window may close
    void OnQuitRequest(int messageId, const std::string& text, bool loopedBack);

    // A start clears the reason of an earlier stop.
    void ConnectToServer();
    // Stops the loop and finishes the file in work; the timer stays off, also when the
    // not-ready dialog was open.
    void StopProcessing();

    // The system password question of the main window (Stop, Configure, Exit): true at once
    // when the password is empty. While it is open, PasswordDialogOpen() holds and a close
    // is refused.
    bool AskSystemPassword();
    bool PasswordDialogOpen() const { return passwordDialogOpen_; }

    int ProcessState() const { return processState_; }
    const std::string& ServerVersionText() const { return serverVersionText_; }
    // Why the loop stopped by itself, or "" (see kStopOutputNamesInput).
    const std::string& StopReason() const { return stopReason_; }
    bool StartStopShowsStart() const { return showsStart_; }
    bool QuitFlag() const { return quit_; }
    int NotReadyCounter() const { return notReadyCounter_; }
    const std::set<std::string>& HeldSetList() const { return heldSets_; }
    const InputFile& Input() const { return input_; }

private:
    enum class Stage { AwaitingOpen, RequestSent, AnswerSent };
    struct Progress {
        Stage stage = Stage::AwaitingOpen;
        int linkErrors = 0;
        std::uint8_t lastLinkError = 0;
    };

    void OnConnect();
    void OnFrame(const std::string& frame);
    void OnDisconnect();
    void OnSocketError(int error);

    void IdentificationReply(std::uint8_t errorCode, const std::string& payload);
    void OpenReply(std::uint8_t logNo, std::uint8_t errorCode);
    void LineReply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
                   std::int32_t number, std::uint8_t digit, const std::string& payload);
    void AnswerSentReply(std::uint8_t logNo, std::uint8_t errorCode);
    void ProcessingTick();

    bool ParseNextInputLine();
    void SendNewestLine();
    void SendLine(std::uint64_t id);
    void FinishInputFile();
    void FinishWhenDone();
    void ForgetWrittenLines();
    void CloseNotReadyWithRetry();
    std::uint64_t FindLine(std::uint8_t logNo, bool (*fits)(const Progress&),
                           std::uint8_t command = 0) const;
    void Send(std::uint8_t setNo, std::uint8_t command, std::uint8_t logNo,
              const std::string& payload);
    template <typename Body>
    void Guarded(Body&& body);
    void Log(const std::string& text) const;

    SellingLoopHost& host_;
    TSockClient& socket_;
    const ClientSettings& settings_;
    const ClientPasswords& passwords_;
    LogSink log_;
    InputFile input_;

    int processState_ = 0;
    std::set<std::string> heldSets_;
    int notReadyCounter_ = 0;
    std::string serverVersionText_ = "unknown";
    std::string stopReason_;
    bool quit_ = false;
    bool showsStart_ = false;
    bool notReadyShown_ = false;
    bool passwordDialogOpen_ = false;
    std::map<std::uint64_t, Progress> progress_;
};

}  // namespace ecr
