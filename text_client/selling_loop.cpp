#include "text_client/selling_loop.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "foundation/file_version.h"
#include "netcontroller/nc_fields.h"
#include "platform/program_path.h"
#include "server/client_message.h"
#include "server/receipt_ref.h"

namespace ecr {
namespace {

// Finals owed by lines of finished files that are remembered; a register that never sends
// them (its SET was cancelled) must not make the list grow without end.
constexpr std::size_t kMaxOwedFinals = 64;

bool IsLinkError(std::uint8_t code) {
    return code == erTimeOut || code == erBadLine || code == erInvalidByte;
}

// Only a totals line's reply, a refusal, and a reply without a reference at all (an old
// server's) come without an early reply before them.
bool ComesWithoutEarlyReply(std::uint8_t command, std::uint8_t errorCode,
                            const std::string& receiptRef) {
    return receiptRef.empty() || command == copTotals ||
           (errorCode != erNoError && errorCode != erNotExecuted);
}

// The request of `line` fits whole into one message (a longer one would be cut and sold
// wrong).
bool FitsOneMessage(const RequestLine& line) {
    return kMessageHeaderLength + line.Data.size() <= kMaxMessageLength;
}

}  // namespace

SellingLoop::SellingLoop(SellingLoopHost& host, TSockClient& socket,
                         const ClientSettings& settings, const ClientPasswords& passwords,
                         LogSink log, std::uint32_t seed, std::string passedOverStore)
    : host_(host),
      socket_(socket),
      settings_(settings),
      passwords_(passwords),
      log_(std::move(log)),
      input_(settings, log_, seed, std::move(passedOverStore)) {
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

void SellingLoop::OnDisconnect() { StopUnasked(kStopServerClosed, FileAtStop::KeepWhenUnsold); }

void SellingLoop::OnSocketError(int error) {
    Log("IPClientError: " + std::to_string(error) + "\r\n" + SocketErrorText(error));
    host_.ShowError("IPClient error\r\n" + SocketErrorText(error));
    StopUnasked(kStopConnectionFailed, FileAtStop::KeepWhenUnsold);
}

void SellingLoop::StopProcessing() { Stop(FileAtStop::Finish); }

void SellingLoop::StopUnasked(const std::string& reason, FileAtStop file) {
    Log("Selling stopped: " + reason);
    stopReason_ = reason;
    Stop(file);
}

void SellingLoop::DropConnection() {
    if (socket_.Connected()) {
        try {
            socket_.SetConnected(false);
        } catch (const std::exception& error) {
            Log(error.what());
        }
    } else {
        socket_.AbandonConnect();  // a stop also ends an attempt still under way
    }
    heldSets_.clear();
    // With the connection, every SET of ours at the server is gone: nothing that was owed
    // comes any more.
    owedFinals_.clear();
    cancelsSent_.clear();
}

void SellingLoop::ConnectAnew() {
    Log("The connection to the server is closed and opened anew, so that no late reply of a"
        " line sent over it is taken for another line's");
    host_.StopTimer();
    processState_ = 0;  // until the new connection is identified
    DropConnection();
    ConnectToServer();
    if (!socket_.HasSocket()) StopUnasked(kStopConnectionFailed, FileAtStop::Finish);
}

void SellingLoop::Stop(FileAtStop file) {
    DropConnection();
    showsStart_ = true;
    host_.ShowStartStopItem(true);
    host_.EnableConfigure(true);
    // Stopped before the file is finished: the not-ready dialog that finishing closes must
    // not start the tick again.
    processState_ = 0;
    CloseNotReadyWithRetry();
    host_.StopTimer();
    FinishOrKeepInputFile(file);
    host_.ShowRunning(false);
    host_.RefreshStatusIfShown();
}

void SellingLoop::OnFrame(const std::string& frame) {
    if (processState_ == 0) return;
    Guarded([&] {
        ClientMessage message = ParseClientMessage(frame);
        std::int32_t number = 0;
        std::uint8_t digit = 0;
        std::string receiptRef;
        if (message.BlockLen == ReceiptRef::kSize) {
            if (const std::optional<ReceiptRef> ref = ReceiptRef::Decode(message.Block)) {
                number = ref->SerialNumber;
                digit = ref->MessageNumber;
                receiptRef = message.Block;
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
                CancelReply(message.LogNo);
                break;
            case cmdAnswerSentReply:
                AnswerSentReply(message.LogNo, message.ErrorCode, receiptRef, number, digit);
                break;
            default:
                if (message.Command == 2 || (message.Command >= 4 && message.Command <= 15)) {
                    LineReply(message.Command, message.LogNo, message.ErrorCode, receiptRef,
                              number, digit, message.Payload);
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
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (line.RegisterNumber != logNo || progress == progress_.end() ||
            !fits(progress->second)) {
            continue;
        }
        // A reply names the command of the request it answers: a reply of another command
        // is another line's, perhaps of a file finished already, and a line of another
        // kind has no room for its result.
        if (command == 0 || line.COP == command) return line.Id;
    }
    return 0;
}

void SellingLoop::OpenReply(std::uint8_t logNo, std::uint8_t errorCode) {
    auto awaitingOpen = [](const Progress& p) { return p.stage == Stage::AwaitingOpen; };
    if (errorCode == 0) {
        heldSets_.insert(std::to_string(logNo));
        if (cancelling_) return;  // the file is abandoned: its lines go out no more
        // Every line that waited for this register's SET goes out now, oldest first.
        while (std::uint64_t id = FindLine(logNo, awaitingOpen)) SendLine(id);
        return;
    }
    std::uint64_t id = FindLine(logNo, awaitingOpen);
    if (id == 0) return;  // no line of ours waits for that register
    progress_.erase(id);
    if (!Written(input_.WriteLineResult(id, 0, 0, errorCode), id) || cancelling_) return;
    if (ParseNextInputLine()) {
        SendNewestLine();
    } else {
        // Lines still outstanding keep the file open until their replies are written.
        FinishWhenDone();
    }
}

void SellingLoop::CancelReply(std::uint8_t logNo) {
    auto sent = cancelsSent_.find(logNo);
    if (sent == cancelsSent_.end() || sent->second.empty()) {
        Log("Reply to a cancel that was not sent dropped: register " + std::to_string(logNo));
        return;
    }
    const std::uint64_t file = sent->second.front();
    sent->second.pop_front();
    if (file != fileSerial_ || !input_.IsOpen()) {
        Log("Reply to a cancel for a file finished already dropped: register " +
            std::to_string(logNo));
        return;
    }
    cancelsUnanswered_.erase(logNo);
    if (cancelsUnanswered_.empty()) AwaitCancelledLines();
}

void SellingLoop::AnswerSentReply(std::uint8_t logNo, std::uint8_t errorCode,
                                  const std::string& receiptRef, std::int32_t number,
                                  std::uint8_t digit) {
    if (IsRepeatedEarlyReply(logNo, receiptRef)) {
        Log("Repeated early reply dropped: register " + std::to_string(logNo));
        return;
    }
    const std::uint64_t id = FindLine(logNo, AwaitingFirstReply);
    if (id == 0) {
        Log("Early reply without a line waiting for it dropped: register " + std::to_string(logNo));
        return;
    }
    Progress& progress = progress_[id];
    progress.stage = Stage::AnswerSent;
    progress.receiptRef = receiptRef;
    if (IsLinkError(errorCode)) {
        ++progress.linkErrors;
        progress.lastLinkError = errorCode;
    } else {
        progress.linkErrors = 0;
    }
    // The answer went out to the register: the line shows which receipt its outcome belongs
    // to, still not known until its final reply tells.
    if (!Written(input_.WritePendingResult(id, number, digit), id)) return;
    if (!IsLinkError(errorCode)) SendNextLine();
    FinishCancelledFileWhenSettled();
}

bool SellingLoop::IsRepeatedEarlyReply(std::uint8_t logNo, const std::string& receiptRef) {
    return !receiptRef.empty() && (LineWithReceiptRef(logNo, receiptRef) != 0 ||
                                   OwedFinalWith(logNo, receiptRef) != owedFinals_.end());
}

std::uint64_t SellingLoop::LineWithReceiptRef(std::uint8_t logNo,
                                              const std::string& receiptRef) const {
    for (const auto& [id, progress] : progress_) {
        const OutstandingLine* line = input_.FindLine(id);
        if (progress.receiptRef == receiptRef && line && line->RegisterNumber == logNo) return id;
    }
    return 0;
}

std::deque<SellingLoop::OwedFinal>::iterator SellingLoop::OwedFinalWith(
    std::uint8_t logNo, const std::string& receiptRef) {
    return std::find_if(owedFinals_.begin(), owedFinals_.end(), [&](const OwedFinal& owed) {
        return owed.registerNumber == logNo && owed.receiptRef == receiptRef;
    });
}

std::uint64_t SellingLoop::LineOfFinalReply(std::uint8_t command, std::uint8_t logNo,
                                            std::uint8_t errorCode, const std::string& receiptRef) {
    if (!receiptRef.empty()) {
        if (const std::uint64_t id = LineWithReceiptRef(logNo, receiptRef)) return id;
        if (auto owed = OwedFinalWith(logNo, receiptRef); owed != owedFinals_.end()) {
            Log("Reply of a line of " + owed->fileName +
                " dropped: the file was finished before it came (register " +
                std::to_string(logNo) + " command " + std::to_string(command) + ")");
            owedFinals_.erase(owed);
            return 0;
        }
    }
    // A reference that no line holds on a reply that comes after an early one: a stray,
    // and writing it into the line sent next would record a sale that line did not make.
    if (!ComesWithoutEarlyReply(command, errorCode, receiptRef)) {
        Log("Final reply that no early reply went before dropped: register " +
            std::to_string(logNo) + " command " + std::to_string(command));
        return 0;
    }
    // Without an early reply to match (a refusal, a totals line, an old server's reply): the
    // line of that register and of that command that was sent and had none; a reply with a
    // reference only to a line still waiting for its first reply.
    auto sentWithoutEarlyReply = [](const Progress& p) {
        return (p.stage == Stage::RequestSent || p.stage == Stage::AnswerSent) && p.receiptRef.empty();
    };
    const std::uint64_t id =
        FindLine(logNo, receiptRef.empty() ? +sentWithoutEarlyReply : AwaitingFirstReply, command);
    if (id == 0) {
        Log("Reply without an outstanding line: register " + std::to_string(logNo) +
            " command " + std::to_string(command));
    }
    return id;
}

void SellingLoop::LineReply(std::uint8_t command, std::uint8_t logNo, std::uint8_t errorCode,
                            const std::string& receiptRef, std::int32_t number,
                            std::uint8_t digit, const std::string& payload) {
    const std::uint64_t id = LineOfFinalReply(command, logNo, errorCode, receiptRef);
    if (id == 0) return;
    Progress progress = progress_[id];
    // An abandoned file sends no line again: the line gets what the reply says.
    if (!cancelling_ && errorCode == erNotExecuted && progress.linkErrors >= 1 &&
        progress.linkErrors <= kMaxLineResends) {
        Log("Phisical line error: " + std::to_string(progress.linkErrors));
        // The register did not execute it: the line is unsold again until it is answered
        // anew, so that a stop meanwhile keeps it to be sold.
        if (!Written(input_.WriteUnsold(id), id)) return;
        SendLine(id);
        return;
    }
    const std::uint8_t code =
        progress.linkErrors > kMaxLineResends ? progress.lastLinkError : errorCode;
    progress_.erase(id);
    const ResultWrite written = command == copTotals
                                    ? input_.WriteLineResultWithTotals(id, number, digit, payload, code)
                                    : input_.WriteLineResult(id, number, digit, code);
    if (!Written(written, id)) return;
    if (progress.linkErrors > 0 || command == copTotals ||
        (errorCode != erNoError && errorCode != erNotExecuted)) {
        SendNextLine();
    }
    // An abandoned file is finished once its cancels and its held registers are answered.
    if (!cancelling_ && input_.EndOfFile() && input_.OutstandingLines() == 0) FinishInputFile();
    FinishCancelledFileWhenSettled();
}

bool SellingLoop::ParseNextInputLine() {
    while (input_.ParseNextInputLine()) {
        const OutstandingLine& line = *input_.NewestLine();
        const std::uint64_t id = line.Id;
        if (FitsOneMessage(line)) {
            progress_[id] = Progress{};
            return true;
        }
        Log("Line " + std::to_string(input_.LineNumberOf(id)) + " of " + input_.FileName() +
            " not sent: its request of " + std::to_string(line.Data.size()) +
            " bytes does not fit into one message");
        if (!Written(input_.WriteLineResult(id, 0, 0, erBufferOverflow), id)) return false;
    }
    return false;
}

void SellingLoop::SendNextLine() {
    if (cancelling_) return;  // no line goes out between a cancel and its reply
    if (ParseNextInputLine()) SendNewestLine();
}

void SellingLoop::SendNewestLine() {
    if (const OutstandingLine* line = input_.NewestLine()) SendLine(line->Id);
}

void SellingLoop::SendLine(std::uint64_t id) {
    const OutstandingLine* line = input_.FindLine(id);
    if (!line) return;
    const auto logNo = static_cast<std::uint8_t>(line->RegisterNumber);
    progress_[id].receiptRef.clear();  // sent again: a new early reply is to come
    if (heldSets_.count(std::to_string(line->RegisterNumber)) == 0) {
        progress_[id].stage = Stage::AwaitingOpen;
        Send(kSellingSet, cmdOpenSet, logNo, passwords_.LoginPassword());
        return;
    }
    const std::uint8_t command = line->COP;
    const std::string data = line->Data;
    // The server may hand the request to the register at once, and its cancel does not call
    // it back: from now on the line must not be sold again, whatever ends before its reply.
    if (!Written(input_.WriteSendingResult(id), id)) return;
    progress_[id].stage = Stage::RequestSent;
    Send(kSellingSet, command, logNo, data);
}

bool SellingLoop::Written(ResultWrite result, std::uint64_t id) {
    if (result != ResultWrite::Failed) return true;
    StopForCheck(id);
    return false;
}

void SellingLoop::StopForCheck(std::uint64_t id) {
    // The line does not show what became of its request: selling on would finish the file
    // as if it did, and selling the file again could sell a line that the register has.
    const std::string fileName = input_.FileName();
    const int lineNumber = input_.LineNumberOf(id);
    const std::string kept = input_.SetAsideForCheck();
    ForgetFileInWork();
    const std::string line = lineNumber > 0 ? "line " + std::to_string(lineNumber) : "a line";
    StopUnasked(std::string(kStopResultNotWritten) + ": check " + line + " of " + fileName +
                    (kept.empty() ? ", which could not be moved out of the input folder and is"
                                    " passed over until it changes or is moved away"
                                  : "; the file is kept as " + kept),
                FileAtStop::Finish);  // nothing is open any more
}

void SellingLoop::FinishWhenDone() {
    if (input_.OutstandingLines() == 0) FinishInputFile();
}

void SellingLoop::FinishInputFile() {
    if (!input_.IsOpen()) return;
    RememberOwedReplies();
    const std::size_t passedOver = input_.PassedOver().size();
    const FinishOutcome outcome = input_.FinishInputFile();
    // The status window names the files passed over.
    if (input_.PassedOver().size() != passedOver) host_.RefreshStatusIfShown();
    ForgetFileInWork();
    if (processState_ != 0) processState_ = 1;
    if (outcome == FinishOutcome::KeptOutputNamesInput) {
        // The next tick would find the same file and meet the same target: stop until the
        // settings are mended and the loop started again.
        if (processState_ != 0) {
            StopUnasked(kStopOutputNamesInput, FileAtStop::Finish);
        } else {
            stopReason_ = kStopOutputNamesInput;
        }
    }
}

void SellingLoop::FinishOrKeepInputFile(FileAtStop file) {
    // A file the user cancelled is finished as the cancel's reply would have finished it.
    if (file == FileAtStop::KeepWhenUnsold && !cancelling_ && input_.HasUnsoldLines()) {
        KeepInputFile();
    } else {
        FinishInputFile();
    }
}

void SellingLoop::KeepInputFile() {
    if (!input_.IsOpen()) return;
    Log("Kept " + input_.FileName() + " in the input folder: it still has lines to sell");
    input_.KeepInputFile();
    ForgetFileInWork();
}

void SellingLoop::ForgetFileInWork() {
    progress_.clear();
    cancelling_ = false;
    cancelsUnanswered_.clear();
    cancelWaitTicks_ = 0;
    notReadyCounter_ = 0;
    CloseNotReadyWithRetry();
}

void SellingLoop::RememberOwedReplies() {
    const bool connected = processState_ != 0;  // else no reply of the connection gone comes
    int pending = 0;
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (progress == progress_.end() || progress->second.stage == Stage::AwaitingOpen) continue;
        ++pending;
        if (connected && !progress->second.receiptRef.empty()) {
            RememberOwedFinal(line.RegisterNumber, progress->second.receiptRef, input_.FileName());
        }
    }
    if (pending > 0) {
        Log("Finished " + input_.FileName() + " before the final reply of " +
            std::to_string(pending) + " line(s) came: their outcome is not known (\"" +
            kOutcomeNotKnownCode + "\")");
    }
}

void SellingLoop::RememberOwedFinal(int logNo, const std::string& receiptRef,
                                    const std::string& fileName) {
    owedFinals_.push_back({logNo, receiptRef, fileName});
    if (owedFinals_.size() > kMaxOwedFinals) owedFinals_.pop_front();
}

bool SellingLoop::AwaitingCancelledLines() const {
    return cancelling_ && cancelsUnanswered_.empty() && input_.IsOpen();
}

void SellingLoop::AwaitCancelledLines() {
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (progress == progress_.end() || !AwaitingFirstReply(progress->second)) continue;
        // The register may have taken it before the cancel reached the server: its reply
        // is written into the line before the file is finished.
        Log("Cancelled " + input_.FileName() + " while a line sent to register " +
            std::to_string(line.RegisterNumber) +
            " had no reply: the file is finished once that reply comes or " +
            std::to_string(settings_.TimeOut) + " s have passed");
    }
    cancelWaitTicks_ = 2 * settings_.TimeOut;  // ticks of 500 ms
    FinishCancelledFileWhenSettled();
}

void SellingLoop::FinishCancelledFileWhenSettled() {
    if (!AwaitingCancelledLines()) return;
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (progress != progress_.end() && AwaitingFirstReply(progress->second)) return;
    }
    FinishInputFile();
}

void SellingLoop::CountDownCancelledLines() {
    if (--cancelWaitTicks_ > 0) return;
    for (const OutstandingLine& line : input_.Outstanding()) {
        auto progress = progress_.find(line.Id);
        if (progress == progress_.end() || !AwaitingFirstReply(progress->second)) continue;
        Log("No reply came within " + std::to_string(settings_.TimeOut) +
            " s of the cancel for the line of " + input_.FileName() + " sent to register " +
            std::to_string(line.RegisterNumber) + ": it keeps its \"" + kOutcomeNotKnownCode + "\"");
    }
    FinishInputFile();
    // A reply that such a line still gets would be taken for that of the register's next line.
    ConnectAnew();
}

void SellingLoop::ProcessingTick() {
    if (processState_ == 1) {
        notReadyCounter_ = 0;
        CloseNotReadyWithRetry();
        const std::size_t passedOver = input_.PassedOver().size();
        const bool opened = input_.OpenNextInputFile();
        if (input_.PassedOver().size() != passedOver) host_.RefreshStatusIfShown();
        if (!opened) return;
        ++fileSerial_;
        progress_.clear();
        if (ParseNextInputLine()) {
            SendNewestLine();
            if (input_.IsOpen()) processState_ = 2;  // not stopped to check a line
        } else if (input_.IsOpen()) {
            // A file whose every line was too long to send has had its results written.
            if (input_.LinesAccepted() == 0) Log("Invalid input file " + input_.FileName());
            FinishInputFile();
        }
    } else if (processState_ == 2) {
        // The user has cancelled: the wait for the lines that may still be answered has its
        // own end.
        if (AwaitingCancelledLines()) {
            CountDownCancelledLines();
            return;
        }
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
            if (notReadyCounter_ >= settings_.TimeOut && logNo != 0) CancelFile(logNo);
        } else {
            notReadyCounter_ = 0;
        }
        // The dialog held the timer; a stop meanwhile leaves it off.
        if (processState_ == 1 || processState_ == 2) {
            host_.StartTimer(LoopTimer::ProcessingTick, kProcessingTickMs);
        }
    });
}

void SellingLoop::CancelFile(int newestRegister) {
    // The newest line's register, and at the first cancel every other register that still
    // holds a request of this file, so that no line of the abandoned file is sold after it
    // is finished. The file is finished when each of them has answered.
    std::vector<int> registers{newestRegister};
    if (!cancelling_) {
        for (const OutstandingLine& line : input_.Outstanding()) {
            auto progress = progress_.find(line.Id);
            if (progress != progress_.end() && progress->second.stage == Stage::RequestSent &&
                std::find(registers.begin(), registers.end(), line.RegisterNumber) == registers.end()) {
                registers.push_back(line.RegisterNumber);
            }
        }
    }
    for (int logNo : registers) {
        Send(kSellingSet, cmdCancelSet, static_cast<std::uint8_t>(logNo), "");
        cancelling_ = true;
        cancelsSent_[logNo].push_back(fileSerial_);
        cancelsUnanswered_.insert(logNo);
    }
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
    FinishOrKeepInputFile(fileAtClose_);
    return true;
}

void SellingLoop::EndOfSession() {
    quit_ = true;
    fileAtClose_ = FileAtStop::KeepWhenUnsold;
    host_.CloseMainWindow();
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
