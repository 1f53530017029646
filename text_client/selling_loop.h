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
// errors counted). Before a line's request leaves, the line shows "??" (its outcome is not
// known) on the disk, so that whatever ends before its reply (the program, the server, the
// connection, the machine), the line is never sold again; only a reply that shows that the
// register did not take it gives it back its placeholder (22 after a link error, when it
// goes out again) or a refusal's code. A line whose request does not fit into one message
// is not sent: it shows the code 18 (buffer overflow). A final reply is matched to the line
// whose early reply carried the same receipt reference. A reply that follows no early reply (a totals line's, a refusal, or a
// reply without a reference at all) goes to the line of its register and of the command it
// names that was sent and had no early reply; never to a line of another command. A final
// reply whose reference no line holds, and an early reply that repeats the reference of
// one that came, are logged and dropped. So results reach their own lines also when
// replies do not follow the order of the lines, and a reply owed by a line of a file that
// was finished meanwhile (abandoned with Cancel) is recognised, logged and dropped, never
// written into a line of another file. After a Cancel no line goes out until the file is
// finished.
//
// The server's cancel does not call back an answer that the register has already taken,
// so a line of a cancelled file that was sent and had no reply may still be answered.
// After the cancel replies the file stays in work, and no line goes out, until each such
// line has its first reply (an early reply, or the final reply of a totals line or a
// refusal, which writes its result) or TimeOut seconds have passed. Then the file is
// finished; in the second case the lines keep their "??" and the connection is closed and
// opened anew before anything more is sent: the protocol carries no request number, so a
// late reply of such a line could not be told from the reply of the register's next line,
// and a new connection hears none of the old one's replies.
//
// A line whose final reply is 22 (not executed) after a link error shows its placeholder
// again while it is sent again: it is unsold until it is answered anew.
//
// Stops: the user's Stop (and Exit, and a close request of a second start) finishes the file
// in work with its output action. A stop or close the user did not ask for (the server
// closed the connection, a socket error, the end of the session or another request of the
// system to end) keeps a file that may still have lines to sell in the input folder, but
// finishes a file the user cancelled, as the cancel's reply would have. A result that could not be written stops
// selling and moves the file into the folder "check" inside the input folder, where the
// search for input files does not look (or, when that cannot be, renames it to a name the
// search does not match, or at last passes it over until it changes or is moved away): the
// line does not show what became of its request, and a person must check it before the file
// is sold on. Each such stop is logged with its reason; the status window shows it too
// (StopReason).
//
// Threads: everything runs on the main thread, driven by the host's timer, the socket's
// events and the window's menu; no member may be called from another thread.

#include <cstdint>
#include <deque>
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

// Why the loop stopped by itself (shown by the status window until the next start, and
// logged after "Selling stopped: ").
inline constexpr char kStopOutputNamesInput[] = "the output folder and extension name the input files";
inline constexpr char kStopServerClosed[] = "the server closed the connection";
inline constexpr char kStopConnectionFailed[] = "the connection to the server failed";
inline constexpr char kStopResultNotWritten[] = "a result could not be written into the input file";

class SellingLoop {
public:
    using LogSink = std::function<void(const std::string& text)>;

    // Binds the socket's events. `settings` and `passwords` are the values in force; they,
    // the socket and the host must outlive the loop. The input files passed over are kept
    // in `passedOverStore` (see passed_over_files.h; "": while the loop lives).
    SellingLoop(SellingLoopHost& host, TSockClient& socket, const ClientSettings& settings,
                const ClientPasswords& passwords, LogSink log, std::uint32_t seed,
                std::string passedOverStore = {});

    // At creation: state 0, "&Stop" shown, Configure disabled, the start timer set.
    void Begin();

    // The host's timer fired.
    void OnTimer(LoopTimer timer);
    void NotReadyDialogClosed(NotReadyAnswer answer);

    // Menu and window.
    void StartStopClicked();
    bool CloseQuery();  // true: the main window may close
    void OnQuitRequest(int messageId, const std::string& text, bool loopedBack);
    // The end of the session or another request of the system to end: the close of a
    // valid close request, except that a file in work with lines still to sell stays in the
    // input folder whatever the output action (nobody chose to abandon them).
    void EndOfSession();

    // A start clears the reason of an earlier stop.
    void ConnectToServer();
    // The user's stop: stops the loop and finishes the file in work with its output action
    // however many lines remain; the timer stays off, also when the not-ready dialog was open.
    void StopProcessing();

    // The system password question of the main window (Stop, Configure, Exit): true at once
    // when the password is empty. While it is open, PasswordDialogOpen() holds and a close
    // is refused.
    bool AskSystemPassword();
    bool PasswordDialogOpen() const { return passwordDialogOpen_; }

    int ProcessState() const { return processState_; }
    const std::string& ServerVersionText() const { return serverVersionText_; }
    // Why the loop stopped by itself, or "" (see kStopOutputNamesInput and the others).
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
        std::string receiptRef;  // the Block of its early reply; empty before one came
    };
    // A line of a finished file whose early reply came and whose final reply had not: that
    // reply is recognised by its receipt reference and dropped.
    struct OwedFinal {
        int registerNumber = 0;
        std::string receiptRef;
        std::string fileName;
    };
    // Sent, and no reply of any kind has come.
    static bool AwaitingFirstReply(const Progress& progress) {
        return progress.stage == Stage::RequestSent;
    }
    // What a stop does with the file in work.
    enum class FileAtStop { Finish, KeepWhenUnsold };

    void OnConnect();
    void OnFrame(const std::string& frame);
    void OnDisconnect();
    void OnSocketError(int error);

    void IdentificationReply(std::uint8_t errorCode, const std::string& payload);
    void OpenReply(std::uint8_t logNo, std::uint8_t errorCode);
    void CancelReply(std::uint8_t logNo);
    void LineReply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
                   const std::string& receiptRef, std::int32_t number, std::uint8_t digit,
                   const std::string& payload);
    void AnswerSentReply(std::uint8_t logNo, std::uint8_t errorCode, const std::string& receiptRef,
                         std::int32_t number, std::uint8_t digit);
    void ProcessingTick();
    void CancelFile(int newestRegister);
    // A tick while a cancelled file waits for the first replies of its lines.
    void CountDownCancelledLines();

    std::uint64_t LineOfFinalReply(std::uint8_t command, std::uint8_t logNo,
                                   std::uint8_t errorCode, const std::string& receiptRef);
    bool IsRepeatedEarlyReply(std::uint8_t logNo, const std::string& receiptRef);
    // The line in work whose early reply carried `receiptRef`, or 0.
    std::uint64_t LineWithReceiptRef(std::uint8_t logNo, const std::string& receiptRef) const;
    std::deque<OwedFinal>::iterator OwedFinalWith(std::uint8_t logNo,
                                                  const std::string& receiptRef);
    bool ParseNextInputLine();
    void SendNextLine();
    void SendNewestLine();
    void SendLine(std::uint64_t id);
    // False when the result of line `id` could not be written: the loop has stopped then,
    // and the file is set aside for a person to check that line.
    bool Written(ResultWrite result, std::uint64_t id);
    void StopForCheck(std::uint64_t id);
    void FinishInputFile();
    void FinishWhenDone();
    void KeepInputFile();
    void FinishOrKeepInputFile(FileAtStop file);
    void ForgetFileInWork();
    void RememberOwedReplies();
    void RememberOwedFinal(int logNo, const std::string& receiptRef, const std::string& fileName);
    void AwaitCancelledLines();
    void FinishCancelledFileWhenSettled();
    bool AwaitingCancelledLines() const;
    void Stop(FileAtStop file);
    void StopUnasked(const std::string& reason, FileAtStop file);
    // Closes the connection and forgets what belonged to it: the SETs held, the replies
    // owed, the cancels sent.
    void DropConnection();
    // The connection is closed and opened anew, the loop going through the identification
    // again, so that no reply of the old one reaches a line sent later.
    void ConnectAnew();
    void CloseNotReadyWithRetry();
    // The oldest line of register `logNo` that `fits`, and names `command` when it is not 0.
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
    FileAtStop fileAtClose_ = FileAtStop::Finish;
    std::map<std::uint64_t, Progress> progress_;

    std::uint64_t fileSerial_ = 0;  // counts the files opened; names the file in work
    bool cancelling_ = false;       // a cancel was sent for the file in work
    std::set<int> cancelsUnanswered_;  // registers cancelled for the file in work, no reply yet
    // Ticks left for the cancelled file's lines that were sent and had no reply to get one.
    int cancelWaitTicks_ = 0;
    // Per register, the file of each cancel sent whose reply has not come, oldest first.
    std::map<int, std::deque<std::uint64_t>> cancelsSent_;
    std::deque<OwedFinal> owedFinals_;  // newest last; forgotten with the connection
};

}  // namespace ecr
