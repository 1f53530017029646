#include "text_client/selling_loop.h"

#include <exception>
#include <optional>

#include "foundation/file_version.h"
#include "netcontroller/nc_fields.h"
#include "platform/program_path.h"
#include "server/client_message.h"
#include "server/receipt_ref.h"

namespace ecr {
namespace {

bool IsLinkError(std::uint8_t code) {
    return code == erTimeOut || code == erBadLine || code == erInvalidByte;
}

}  // namespace

SellingLoop::SellingLoop(SellingLoopHost& host, TSockClient& socket,
                         const ClientSettings& settings, const ClientPasswords& passwords,
                         LogSink log, std::uint32_t seed)
    : host_(host),
      socket_(socket),
      settings_(settings),
      passwords_(passwords),
      log_(std::move(log)),
      input_(settings, log_, seed) {
    socket_.OnConnect = [this] { OnConnect(); };
    socket_.OnDataIn = [this](const std::string& frame) { OnFrame(frame); };
    socket_.OnDisconnect = [this] { OnDisconnect(); };
    socket_.OnError = [this](int error) { OnSocketError(error); };
}

void SellingLoop::Log(const std::string& text) const {
    if (log_) log_(text);
}

// Failures of sending reach the error box; the state stays as it was.
template <typename Body>
void SellingLoop::Guarded(Body&& body) {
    try {
        body();
    } catch (const std::exception& error) {
        host_.ShowError(error.what());
    }
}

void SellingLoop::Begin() {
    processState_ = 0;
    showsStart_ = false;
    host_.ShowStartStopItem(false);
    host_.EnableConfigure(false);
    host_.ShowRunning(false);
    host_.StartTimer(LoopTimer::Start, kStartDelayMs);
}

void SellingLoop::OnTimer(LoopTimer timer) {
    Guarded([&] {
        switch (timer) {
            case LoopTimer::Start:
                host_.StopTimer();
                ConnectToServer();
                break;
            case LoopTimer::IdentificationDeadline:
                host_.StopTimer();
                StopProcessing();
                host_.ShowError(
                    "Selvaro did not respond to indentification request.\r\n"
                    "Please, check the application settings and Selvaro version");
                break;
            case LoopTimer::ProcessingTick:
                ProcessingTick();
                break;
        }
    });
}

void SellingLoop::Send(std::uint8_t setNo, std::uint8_t command, std::uint8_t logNo,
                       const std::string& payload) {
    socket_.SendData(BuildClientMessage(setNo, command, logNo, 0, "", payload));
}

void SellingLoop::ConnectToServer() {
    serverVersionText_ = "unknown";
    stopReason_.clear();
    socket_.RemoteHost = settings_.Address;
    socket_.RemotePort = static_cast<std::uint16_t>(settings_.Port);
    try {
        socket_.SetConnected(true);
    } catch (const std::exception& error) {
        Log(error.what());
    }
}

void SellingLoop::OnConnect() {
    showsStart_ = false;
    host_.ShowStartStopItem(false);
    processState_ = 3;
    host_.EnableConfigure(false);
    host_.StartTimer(LoopTimer::IdentificationDeadline, kIdentificationDeadlineMs);
    Send(kServerSet, cmdIdentify, 0, "");
}

void SellingLoop::OnDisconnect() { StopProcessing(); }

void SellingLoop::OnSocketError(int error) {
    Log("IPClientError: " + std::to_string(error) + "\r\n" + SocketErrorText(error));
    host_.ShowError("IPClient error\r\n" + SocketErrorText(error));
    StopProcessing();
}

void SellingLoop::StopProcessing() {
    if (socket_.Connected()) {
        try {
            socket_.SetConnected(false);
        } catch (const std::exception& error) {
            Log(error.what());
        }
    } else {
        socket_.AbandonConnect();  // a stop also ends an attempt still under way
    }
    showsStart_ = true;
    host_.ShowStartStopItem(true);
    host_.EnableConfigure(true);
    // Stopped before the file is finished: the not-ready dialog that finishing closes must
    // not start the tick again.
    processState_ = 0;
    CloseNotReadyWithRetry();
    host_.StopTimer();
    heldSets_.clear();
    FinishInputFile();
    host_.ShowRunning(false);
    host_.RefreshStatusIfShown();
}

void SellingLoop::OnFrame(const std::string& frame) {
    if (processState_ == 0) return;
    Guarded([&] {
        ClientMessage message = ParseClientMessage(frame);
        std::int32_t number = 0;
        std::uint8_t digit = 0;
        if (message.BlockLen == ReceiptRef::kSize) {
            if (const std::optional<ReceiptRef> ref = ReceiptRef::Decode(message.Block)) {
                number = ref->SerialNumber;
                digit = ref->MessageNumber;
            }
        }
        notReadyCounter_ = 0;
        CloseNotReadyWithRetry();

        if (message.SetNo == kServerSet) {
            if (message.Command == cmdIdentify) IdentificationReply(message.ErrorCode, message.Payload);
            return;
        }
        if (message.SetNo != kSellingSet) return;
        if (message.ErrorCode > 0) {
            Log("Err:" + std::to_string(message.ErrorCode) +
                " Text:" + ReplyErrorText(message.ErrorCode));
        }
        switch (message.Command) {
            case cmdOpenSet:
                OpenReply(message.LogNo, message.ErrorCode);
                break;
            case cmdCancelSet:
                FinishInputFile();
                break;
            case cmdAnswerSentReply:
                AnswerSentReply(message.LogNo, message.ErrorCode);
                break;
            default:
                if (message.Command == 2 || (message.Command >= 4 && message.Command <= 15)) {
                    LineReply(message.Command, message.LogNo, message.ErrorCode, number, digit,
                              message.Payload);
                }
                break;
        }
    });
}

void SellingLoop::IdentificationReply(std::uint8_t errorCode, const std::string& payload) {
    host_.StopTimer();
    std::uint64_t version = 0;
    if (errorCode == 0) {
        serverVersionText_ = nc::GetField(payload, 2);
        version = VersionStringToInt64(serverVersionText_);
    }
    if (VersionToInt64(RequiredServerVersion) > version) {
        StopProcessing();
        const VersionParts& r = RequiredServerVersion;
        host_.ShowError("Error!\r\nWrong Harbendix version!\r\nCurrent: " + serverVersionText_ +
                        "\r\nRequired: " + VersionToStr(r[0], r[1], r[2], r[3]) + " or above");
        return;
    }
    host_.ShowRunning(true);
    host_.RefreshStatusIfShown();
    processState_ = 1;
    host_.StartTimer(LoopTimer::ProcessingTick, kProcessingTickMs);
}

std::uint64_t SellingLoop::FindLine(std::uint8_t logNo, bool (*fits)(const Progress&),
                                    std::uint8_t command) const {
    std::uint64_t byRegister = 0;
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (line.RegisterNumber != logNo || progress == progress_.end() ||
            !fits(progress->second)) {
            continue;
        }
        if (command == 0 || line.COP == command) return line.Id;
        if (byRegister == 0) byRegister = line.Id;
    }
    return byRegister;
}

void SellingLoop::OpenReply(std::uint8_t logNo, std::uint8_t errorCode) {
    auto awaitingOpen = [](const Progress& p) { return p.stage == Stage::AwaitingOpen; };
    if (errorCode == 0) {
        heldSets_.insert(std::to_string(logNo));
        // Every line that waited for this register's SET goes out now, oldest first.
        while (std::uint64_t id = FindLine(logNo, awaitingOpen)) SendLine(id);
        return;
    }
    std::uint64_t id = FindLine(logNo, awaitingOpen);
    if (id == 0) return;  // no line of ours waits for that register
    progress_.erase(id);
    input_.WriteLineResult(id, 0, 0, errorCode);
    if (ParseNextInputLine()) {
        SendNewestLine();
        processState_ = 2;
    } else {
        // Lines still outstanding keep the file open until their replies are written.
        FinishWhenDone();
    }
}

void SellingLoop::AnswerSentReply(std::uint8_t logNo, std::uint8_t errorCode) {
    std::uint64_t id = FindLine(logNo, [](const Progress& p) { return p.stage == Stage::RequestSent; });
    if (id == 0) return;
    Progress& progress = progress_[id];
    progress.stage = Stage::AnswerSent;
    if (IsLinkError(errorCode)) {
        ++progress.linkErrors;
        progress.lastLinkError = errorCode;
        return;
    }
    progress.linkErrors = 0;
    if (ParseNextInputLine()) SendNewestLine();
}

void SellingLoop::LineReply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
                            std::int32_t number, std::uint8_t digit, const std::string& payload) {
    std::uint64_t id = FindLine(
        logNo, [](const Progress& p) { return p.stage != Stage::AwaitingOpen; }, command);
    if (id == 0) {
        Log("Reply without an outstanding line: register " + std::to_string(logNo) +
            " command " + std::to_string(command));
        return;
    }
    Progress progress = progress_[id];
    if (errorCode == erNotExecuted && progress.linkErrors >= 1 &&
        progress.linkErrors <= kMaxLineResends) {
        Log("Phisical line error: " + std::to_string(progress.linkErrors));
        SendLine(id);
        return;
    }
    const std::uint8_t code =
        progress.linkErrors > kMaxLineResends ? progress.lastLinkError : errorCode;
    progress_.erase(id);
    if (command == copTotals) {
        input_.WriteLineResultWithTotals(id, number, digit, payload, code);
    } else {
        input_.WriteLineResult(id, number, digit, code);
    }
    if (progress.linkErrors > 0 || command == copTotals ||
        (errorCode != erNoError && errorCode != erNotExecuted)) {
        if (ParseNextInputLine()) SendNewestLine();
    }
    if (input_.EndOfFile() && input_.OutstandingLines() == 0) FinishInputFile();
}

bool SellingLoop::ParseNextInputLine() {
    if (!input_.ParseNextInputLine()) return false;
    progress_[input_.NewestLine()->Id] = Progress{};
    return true;
}

void SellingLoop::SendNewestLine() {
    if (const OutstandingLine* line = input_.NewestLine()) SendLine(line->Id);
}

void SellingLoop::SendLine(std::uint64_t id) {
    const OutstandingLine* line = input_.FindLine(id);
    if (!line) return;
    const auto logNo = static_cast<std::uint8_t>(line->RegisterNumber);
    Progress& progress = progress_[id];
    if (heldSets_.count(std::to_string(line->RegisterNumber)) != 0) {
        progress.stage = Stage::RequestSent;
        Send(kSellingSet, line->COP, logNo, line->Data);
    } else {
        progress.stage = Stage::AwaitingOpen;
        Send(kSellingSet, cmdOpenSet, logNo, passwords_.LoginPassword());
    }
}

void SellingLoop::FinishWhenDone() {
    if (input_.OutstandingLines() == 0) FinishInputFile();
}

void SellingLoop::FinishInputFile() {
    if (!input_.IsOpen()) return;
    const FinishOutcome outcome = input_.FinishInputFile();
    progress_.clear();
    notReadyCounter_ = 0;
    CloseNotReadyWithRetry();
    if (processState_ != 0) processState_ = 1;
    if (outcome == FinishOutcome::KeptOutputNamesInput) {
        // The next tick would find the same file and meet the same target: stop until the
        // settings are mended and the loop started again.
        stopReason_ = kStopOutputNamesInput;
        if (processState_ != 0) {
            Log(std::string("Selling stopped: ") + kStopOutputNamesInput);
            StopProcessing();
        }
    }
}

void SellingLoop::ProcessingTick() {
    if (processState_ == 1) {
        notReadyCounter_ = 0;
        CloseNotReadyWithRetry();
        if (!input_.OpenNextInputFile()) return;
        progress_.clear();
        if (ParseNextInputLine()) {
            SendNewestLine();
            processState_ = 2;
        } else {
            Log("Invalid input file " + input_.FileName());
            FinishInputFile();
        }
    } else if (processState_ == 2) {
        ++notReadyCounter_;
        if (notReadyShown_ || notReadyCounter_ < 2 * settings_.TimeOut) return;
        host_.StopTimer();
        notReadyShown_ = true;
        // The newest accepted line's register, also when its result is written already (a
        // final reply without the early one leaves no line outstanding).
        host_.ShowNotReadyDialog("Cash Register " + std::to_string(input_.NewestRegisterNumber()) +
                                 " not ready.\r\nFile: " + std::string(FileNameOf(input_.FileName())));
    }
}

void SellingLoop::NotReadyDialogClosed(NotReadyAnswer answer) {
    if (!notReadyShown_) return;
    notReadyShown_ = false;
    Guarded([&] {
        if (answer == NotReadyAnswer::Cancel) {
            const int logNo = input_.NewestRegisterNumber();
            if (notReadyCounter_ >= settings_.TimeOut && logNo != 0) {
                Send(kSellingSet, cmdCancelSet, static_cast<std::uint8_t>(logNo), "");
            }
        } else {
            notReadyCounter_ = 0;
        }
        // The dialog held the timer; a stop meanwhile leaves it off.
        if (processState_ == 1 || processState_ == 2) {
            host_.StartTimer(LoopTimer::ProcessingTick, kProcessingTickMs);
        }
    });
}

void SellingLoop::CloseNotReadyWithRetry() {
    if (!notReadyShown_) return;
    host_.CloseNotReadyDialog();
    NotReadyDialogClosed(NotReadyAnswer::Retry);
}

bool SellingLoop::AskSystemPassword() {
    const std::string password = passwords_.SystemPassword();
    if (password.empty()) return true;
    passwordDialogOpen_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{passwordDialogOpen_};
    return host_.AskPassword(password);
}

void SellingLoop::StartStopClicked() {
    Guarded([&] {
        if (showsStart_) {
            ConnectToServer();
        } else if (AskSystemPassword()) {
            StopProcessing();
        }
    });
}

bool SellingLoop::CloseQuery() {
    host_.SavePasswords();
    if (passwordDialogOpen_) return false;
    if (!quit_ && !AskSystemPassword()) return false;
    host_.HideTrayIcon();
    FinishInputFile();
    return true;
}

void SellingLoop::OnQuitRequest(int messageId, const std::string& text, bool loopedBack) {
    if (loopedBack || messageId != smQuitMessage) return;
    if (text == passwords_.SystemPassword()) {
        quit_ = true;
        host_.CloseMainWindow();
    } else {
        quit_ = false;
    }
}

}  // namespace ecr
