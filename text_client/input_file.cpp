#include "text_client/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "netcontroller/nc_fields.h"
#include "platform/dir_search.h"
#include "platform/program_path.h"
#include "text_client/output_target.h"

namespace ecr {
namespace {

constexpr std::size_t kMaxShortString = 255;
constexpr std::size_t kMinLineLength = 16;
constexpr std::size_t kResultLength = 11;
constexpr std::size_t kTotalsResultLength = 21;
constexpr std::size_t kReadChunk = 4096;
constexpr unsigned kCheckNameAttempts = 100;
constexpr std::uint8_t erSyntaxCode = 5;
constexpr std::uint8_t erNotExecutedCode = 22;

std::optional<int> ReadSignedDecimal(std::string_view text) {
    int value = 0;
    const char* begin = text.data();
    if (!text.empty() && text.front() == '+') ++begin;
    auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || begin == end) return std::nullopt;
    return value;
}

std::string CodeText(std::uint8_t code, bool totalsForm) {
    if (code == 0) return "Ok";
    if (code == erSyntaxCode || (!totalsForm && code == erNotExecutedCode)) return "Er";
    char text[3];
    std::snprintf(text, sizeof text, "%.2X", code);
    return text;
}

// "%.6d,%.1d,%s" of number, digit and code text, cut to the 11 bytes of a result.
std::string FormatResultWithCodeText(std::int32_t number, std::uint8_t digit, const std::string& codeText) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6d,%.1d,%s", number, digit, codeText.c_str());
    return std::string(text).substr(0, kResultLength);
}

// The placeholder from its first underscore: what a line shows that is still to be sold.
std::string UnsoldLineResult() { return std::string(kResultPlaceholder).substr(1, kResultLength); }

// True when a move out of `inputFolder` that failed with `error` failed because nothing may
// be taken out of that folder (read-only, or not ours to change).
bool InputFolderKeeps(const std::string& inputFolder, int error) {
    if (error != EACCES && error != EPERM && error != EROFS) return false;
    const std::string folder = inputFolder.empty() ? "." : inputFolder;
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0;
}

}  // namespace

std::optional<std::uint8_t> CopOfLetter(char letter) {
    switch (letter) {
        case 'S': case 's': return 4;
        case 'P': case 'p': return 5;
        case 'T': case 't': return 6;
        case 'C': case 'c': return 8;
        case 'I': case 'i': return 9;
        case 'H': case 'h': return 10;
        case 'F': case 'f': return 11;
        case 'N': case 'n': return 12;
        case 'Z': case 'z': return 13;
        case 'A': case 'a': return 14;
        case 'Y': case 'y': return 15;
        default: return std::nullopt;
    }
}

std::optional<RequestLine> ParseInputLine(std::string_view line, std::uint32_t lineStart,
                                          bool sellWithExtPlu, TextEncoding encoding) {
    if (line.size() < kMinLineLength || line[1] != ',') return std::nullopt;
    std::size_t numberLength;
    if (line[3] == ',') {
        numberLength = 1;
    } else if (line[4] == ',') {
        numberLength = 2;
    } else {
        return std::nullopt;
    }
    int registerNumber = ReadSignedDecimal(line.substr(2, numberLength)).value_or(0);
    if (registerNumber < 1 || registerNumber > 16) return std::nullopt;
    const std::size_t placeholderAt = 2 + numberLength;
    const std::string_view placeholder = kResultPlaceholder;
    if (line.substr(placeholderAt, placeholder.size()) != placeholder) return std::nullopt;
    auto cop = CopOfLetter(line[0]);
    if (!cop) return std::nullopt;

    std::string data(line.substr(placeholderAt + placeholder.size()).substr(0, kMaxShortString));
    if (*cop == copTotals && data != kTotalsPlaceholder) return std::nullopt;
    if (*cop == copSell && !sellWithExtPlu) {
        data = ("1;" + data).substr(0, kMaxShortString);
    }
    if (encoding == TextEncoding::Dos) data = DosToWindows(data);

    RequestLine request;
    request.RegisterNumber = registerNumber;
    request.COP = *cop;
    request.Data = std::move(data);
    request.ResultOffset = lineStart + static_cast<std::uint32_t>(placeholderAt + 1);
    return request;
}

std::string DosToWindows(std::string_view data) {
    std::string result(data);
    for (char& c : result) {
        auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x80) c = static_cast<char>(static_cast<std::uint8_t>(byte + 0x40));
    }
    return result;
}

std::string FormatLineResult(std::int32_t number, std::uint8_t digit, std::uint8_t code) {
    return FormatResultWithCodeText(number, digit, CodeText(code, false));
}

std::string FormatPendingLineResult(std::int32_t number, std::uint8_t digit) {
    return FormatResultWithCodeText(number, digit, kOutcomeNotKnownCode);
}

std::string FormatLineResultWithTotals(
    std::int32_t number, std::uint8_t digit, std::string_view payload, std::uint8_t code,
    const std::function<void(int field, std::string_view text)>& onNegative) {
    int totals[3] = {0, 0, 0};
    for (int field = 3; field <= 5; ++field) {
        std::string text = nc::GetField(payload, static_cast<std::size_t>(field));
        int value = ReadSignedDecimal(text).value_or(0);
        if (value < 0) {
            // The line has room for digits only; a sign would push the rest out of place.
            if (onNegative) onNegative(field, text);
            value = 0;
        }
        totals[field - 3] = value;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%.6d,%.1d,%s;%.1d;%.2d;%.4d", number, digit,
                  CodeText(code, true).c_str(), totals[0], totals[1], totals[2]);
    return std::string(text).substr(0, kTotalsResultLength);
}

InputFile::InputFile(const ClientSettings& settings, LogSink log, std::uint32_t seed,
                     std::string passedOverStore)
    : settings_(settings),
      log_(std::move(log)),
      random_(seed),
      passedOver_(std::move(passedOverStore), log_) {}

void InputFile::Log(const std::string& text) const {
    if (log_) log_(text);
}

bool InputFile::OpenNextInputFile() {
    file_ = ExclusiveFile();
    outstanding_.clear();
    fileName_.clear();
    passedOver_.ForgetChanged();
    const auto names = FindMatchingFiles(settings_.InputPath, InputFilePattern(settings_));
    std::erase_if(notOpened_, [&](const auto& entry) {
        return std::find(names.begin(), names.end(), FileNameOf(entry.first)) == names.end();
    });
    for (const std::string& name : names) {
        std::string path = settings_.InputPath + name;
        if (passedOver_.Holds(path)) continue;
        ExclusiveFile opened(path, O_RDWR);
        if (!opened.IsOpen()) {
            const int error = opened.LastError();
            // Another process holds it (the other application still writes it): it comes
            // first once it is released.
            if (error == EWOULDBLOCK) return false;
            if (error != ENOENT) LogNotOpened(path, error);  // ENOENT: gone since the search
            continue;
        }
        notOpened_.erase(path);
        file_ = std::move(opened);
        fileName_ = path;
        newestRegister_ = 0;
        linesAccepted_ = 0;
        endOfFile_ = false;
        position_ = 0;
        buffer_.clear();
        bufferStart_ = 0;
        return true;
    }
    return false;
}

void InputFile::LogNotOpened(const std::string& path, int error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return;  // gone meanwhile
    const auto stamp = std::make_tuple(info.st_dev, info.st_ino,
                                       static_cast<std::int64_t>(info.st_ctim.tv_sec), info.st_ctim.tv_nsec);
    auto logged = notOpened_.find(path);
    if (logged != notOpened_.end() && logged->second == stamp) return;
    notOpened_[path] = stamp;
    Log("Cannot open input file " + path + ": " + std::strerror(error) +
        "; it is passed over while it cannot be opened");
}

int InputFile::ReadInputByte() {
    if (!file_.IsOpen()) return -1;
    if (position_ < bufferStart_ || position_ >= bufferStart_ + buffer_.size()) {
        buffer_.resize(kReadChunk);
        ssize_t n;
        do {
            n = ::pread(file_.Descriptor(), buffer_.data(), buffer_.size(), position_);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            buffer_.clear();
            return -2;
        }
        buffer_.resize(static_cast<std::size_t>(n));
        bufferStart_ = position_;
        if (n == 0) {
            endOfFile_ = true;
            return -3;
        }
    }
    endOfFile_ = false;
    return static_cast<std::uint8_t>(buffer_[position_++ - bufferStart_]);
}

InputFile::LineRead InputFile::ReadInputLine() {
    LineRead line;
    int byte;
    do {
        line.start = position_;
        byte = ReadInputByte();
    } while (byte == '\r' || byte == '\n');
    while (byte >= 0 && byte != '\r' && byte != '\n') {
        line.text += static_cast<char>(byte);
        byte = ReadInputByte();
    }
    if (byte == -2) endOfFile_ = true;  // a read failure ends the file
    return line;
}

bool InputFile::ParseNextInputLine() {
    if (!file_.IsOpen()) {
        endOfFile_ = true;
        return false;
    }
    for (;;) {
        LineRead line = ReadInputLine();
        auto request = ParseInputLine(line.text, line.start, settings_.SELL_WITH_EXT_PLU,
                                      settings_.Encoding);
        if (request) {
            OutstandingLine accepted;
            static_cast<RequestLine&>(accepted) = std::move(*request);
            accepted.Id = nextId_++;
            newestRegister_ = accepted.RegisterNumber;
            ++linesAccepted_;
            outstanding_.push_back(std::move(accepted));
            return true;
        }
        if (endOfFile_) return false;
    }
}

const OutstandingLine* InputFile::NewestLine() const {
    return outstanding_.empty() ? nullptr : &outstanding_.back();
}

const OutstandingLine* InputFile::FindLine(std::uint64_t id) const {
    for (const OutstandingLine& line : outstanding_) {
        if (line.Id == id) return &line;
    }
    return nullptr;
}

ResultWrite InputFile::WriteAt(std::uint64_t id, const std::string& bytes, LineShows shows,
                               bool synced) {
    if (!file_.IsOpen()) return ResultWrite::NotOutstanding;
    auto line = outstanding_.begin();
    while (line != outstanding_.end() && line->Id != id) ++line;
    if (line == outstanding_.end()) return ResultWrite::NotOutstanding;
    // Only a totals line has room for the totals: on any other line they would overwrite
    // its data.
    const std::size_t room = line->COP == copTotals ? kTotalsResultLength : kResultLength;
    if (bytes.size() > room) {
        Log("Result of " + std::to_string(bytes.size()) + " bytes not written into " + fileName_ +
            ": its line has room for " + std::to_string(room));
        return ResultWrite::NotOutstanding;
    }
    ssize_t n;
    do {
        n = ::pwrite(file_.Descriptor(), bytes.data(), bytes.size(), line->ResultOffset);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(bytes.size())) {
        if (n >= 0) errno = EIO;  // a short write over bytes that exist
        Log(ErrnoText("Cannot write the result into " + fileName_));
        return ResultWrite::Failed;
    }
    if (synced && ::fdatasync(file_.Descriptor()) != 0) {
        Log(ErrnoText("Cannot bring the result written into " + fileName_ + " to the disk"));
        return ResultWrite::Failed;
    }
    switch (shows) {
        case LineShows::Result:
            outstanding_.erase(line);
            break;
        case LineShows::OutcomeNotKnown:
            line->OutcomePending = true;
            break;
        case LineShows::Placeholder:
            line->OutcomePending = false;
            break;
    }
    return ResultWrite::Written;
}

ResultWrite InputFile::WriteLineResult(std::uint64_t id, std::int32_t number, std::uint8_t digit,
                                       std::uint8_t code) {
    return WriteAt(id, FormatLineResult(number, digit, code), LineShows::Result);
}

ResultWrite InputFile::WriteLineResultWithTotals(std::uint64_t id, std::int32_t number,
                                                 std::uint8_t digit, std::string_view payload,
                                                 std::uint8_t code) {
    auto onNegative = [this](int field, std::string_view text) {
        Log("Negative total in field " + std::to_string(field) + " of the reply (" +
            std::string(text) + ") written as 0");
    };
    return WriteAt(id, FormatLineResultWithTotals(number, digit, payload, code, onNegative),
                   LineShows::Result);
}

ResultWrite InputFile::WriteSendingResult(std::uint64_t id) {
    return WriteAt(id, FormatPendingLineResult(0, 0), LineShows::OutcomeNotKnown, true);
}

ResultWrite InputFile::WritePendingResult(std::uint64_t id, std::int32_t number,
                                          std::uint8_t digit) {
    return WriteAt(id, FormatPendingLineResult(number, digit), LineShows::OutcomeNotKnown);
}

ResultWrite InputFile::WriteUnsold(std::uint64_t id) {
    return WriteAt(id, UnsoldLineResult(), LineShows::Placeholder);
}

int InputFile::LineNumberOf(std::uint64_t id) const {
    const OutstandingLine* line = FindLine(id);
    if (!line || !file_.IsOpen()) return 0;
    // The bytes between the line's start and its result hold no line end.
    int lineEnds = 0;
    bool afterCr = false;
    std::string chunk(kReadChunk, '\0');
    for (std::uint32_t position = 0; position < line->ResultOffset;) {
        const std::size_t wanted = std::min<std::size_t>(chunk.size(), line->ResultOffset - position);
        const ssize_t n = ::pread(file_.Descriptor(), chunk.data(), wanted, position);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        for (ssize_t i = 0; i < n; ++i) {
            const char byte = chunk[static_cast<std::size_t>(i)];
            if (afterCr && byte != '\n') ++lineEnds;  // a CR alone
            if (byte == '\n') ++lineEnds;
            afterCr = byte == '\r';
        }
        position += static_cast<std::uint32_t>(n);
    }
    return lineEnds + 1;
}

bool InputFile::HasUnsoldLines() {
    if (!file_.IsOpen()) return false;
    for (const OutstandingLine& line : outstanding_) {
        if (!line.OutcomePending) return true;
    }
    const std::uint32_t position = position_;
    const bool endOfFile = endOfFile_;
    bool found = false;
    while (!found) {
        const LineRead line = ReadInputLine();
        found = ParseInputLine(line.text, line.start, settings_.SELL_WITH_EXT_PLU,
                               settings_.Encoding)
                    .has_value();
        if (endOfFile_) break;
    }
    position_ = position;
    endOfFile_ = endOfFile;
    return found;
}

std::string InputFile::MakeUniqueOutputName(const std::string& path, std::string_view prefix,
                                            std::string_view extension) {
    std::uniform_int_distribution<int> draw(0, 99'999'999);
    std::string name;
    do {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%.8d", draw(random_));
        name = std::string(prefix.substr(0, 3)) + digits + "." + std::string(extension);
    } while (FileExists(path + name));
    return name;
}

FinishOutcome InputFile::FinishInputFile() {
    if (!file_.IsOpen()) return FinishOutcome::NothingOpen;
    outstanding_.clear();
    // Still open and locked: an application that waits for the lock to hand a new file over
    // under this name gets it only once the file sold is out of the way.
    const FinishOutcome outcome = ApplyOutputAction();
    file_.Close();
    return outcome;
}

void InputFile::KeepInputFile() {
    if (!file_.IsOpen()) return;
    outstanding_.clear();
    SoldFile sold(file_, fileName_, log_);
    KeepSold(sold);
    file_.Close();
}

std::string InputFile::SetAsideForCheck() {
    if (!file_.IsOpen()) return {};
    outstanding_.clear();
    SoldFile sold(file_, fileName_, log_);
    const std::string folder = settings_.InputPath + kCheckFolderName + "/";
    const std::string name(FileNameOf(fileName_));
    std::string kept;
    if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) {
        kept = MoveToFreeName(sold, [&](unsigned attempt) {
            return folder + name + (attempt == 0 ? "" : "." + std::to_string(attempt));
        });
    }
    if (kept.empty()) {
        Log(ErrnoText("Cannot move " + fileName_ + " into " + folder));
        // Something else holds that name: beside the other input files, under a name that
        // the search for them does not match.
        kept = MoveToFreeName(sold, [&](unsigned attempt) {
            const std::string aside = name + "." + kCheckFolderName +
                                      (attempt == 0 ? "" : "." + std::to_string(attempt));
            return WildcardMatchNoCase(aside, InputFilePattern(settings_)) ? std::string()
                                                                          : settings_.InputPath + aside;
        });
        if (kept.empty()) Log(ErrnoText("Cannot rename " + fileName_));
    }
    if (kept.empty()) {
        // Nothing can be moved in the input folder (it is read-only, say): it is not sold
        // again, also after a new start, until a person has dealt with it.
        passedOver_.Add(file_.Descriptor(), fileName_, PassedOverFiles::Reason::NotSetAside);
        Log(fileName_ + " stays in the input folder; it is passed over until it changes or is"
                        " moved away, and must be checked");
    } else {
        Log("Kept " + fileName_ + " as " + kept + " for a person to check");
    }
    file_.Close();
    return kept;
}

std::string InputFile::MoveToFreeName(SoldFile& sold,
                                      const std::function<std::string(unsigned attempt)>& nameFor) {
    for (unsigned attempt = 0; attempt < kCheckNameAttempts; ++attempt) {
        const std::string target = nameFor(attempt);
        if (target.empty()) continue;
        if (sold.MoveTo(target, SoldFile::AtTarget::Keep)) return target;
        if (errno != EEXIST) return {};
    }
    return {};
}

void InputFile::PassOverNotRemoved(const SoldFile& sold, const std::string& what, int error) {
    if (!sold.AtPath()) return;
    passedOver_.Add(file_.Descriptor(), fileName_, PassedOverFiles::Reason::NotRemoved);
    Log("Passed over " + fileName_ + ": " + what + " (" + std::strerror(error) +
        "); it is not finished again until it changes or is moved away");
}

void InputFile::KeepSold(SoldFile& sold) {
    if (sold.AtPath()) return;
    const std::string kept = settings_.InputPath +
                             MakeUniqueOutputName(settings_.InputPath, kUniqueNamePrefix,
                                                  settings_.InputExt);
    std::string error;
    if (sold.CopyTo(kept, error)) {
        Log("The file sold as " + fileName_ + " is kept as " + kept +
            ": its name holds another file now, or none");
    } else {
        Log("Cannot keep the file sold as " + fileName_ + ": " + error);
    }
}

FinishOutcome InputFile::ApplyOutputAction() {
    SoldFile sold(file_, fileName_, log_);
    if (!sold.AtPath()) {
        Log("The input file " + fileName_ +
            " was replaced or removed while in work: the file sold is finished from what is"
            " open, and a new file under its name waits for the next tick");
    }
    const std::string& action = settings_.Action;
    if (!OutputActionWritesFile(action)) {
        if (!sold.RemoveFromInputFolder()) {
            PassOverNotRemoved(sold, "it is finished, but it cannot be removed from the input folder",
                               sold.RemoveError());
        }
        return FinishOutcome::ActionApplied;
    }
    const std::string_view name = FileNameOf(fileName_);
    const std::string outputName =
        action == "UNIQUE"
            ? MakeUniqueOutputName(settings_.OutputPath, kUniqueNamePrefix, settings_.OutputExt)
            : WithExtension(name, settings_.OutputExt);
    const std::string target = settings_.OutputPath + outputName;
    if (OutputNameIsInputFile(settings_, outputName)) {
        // REPLACE would delete the input before moving it, and any output there would be
        // finished again at the next tick: the file stays until the settings are mended.
        Log("Cannot finish " + fileName_ + ": its output " + target +
            " would be an input file; the file is kept");
        KeepSold(sold);
        return FinishOutcome::KeptOutputNamesInput;
    }
    if (action == "APPEND") {
        std::string error;
        if (!sold.AppendTo(target, error)) {
            // Keep the input: it is appended at the next try, once the output can be written.
            Log("Cannot append " + fileName_ + " to " + target + ": " + error);
            KeepSold(sold);
            return FinishOutcome::ActionApplied;
        }
        if (!sold.RemoveFromInputFolder()) {
            PassOverNotRemoved(sold, "it is appended to " + target + ", but it cannot be removed from the input folder",
                               sold.RemoveError());
        }
        return FinishOutcome::ActionApplied;
    }
    if (action == "REPLACE" && FileExists(target)) ::unlink(target.c_str());
    if (sold.MoveTo(target)) {
        PassOverNotRemoved(sold, "it is copied to " + target + ", but it cannot be removed from the input folder",
                           sold.RemoveError());
    } else if (const int error = errno; InputFolderKeeps(settings_.InputPath, error)) {
        // It can never leave the folder: trying again at every tick would only log it again.
        PassOverNotRemoved(sold, "it cannot be moved out of the input folder to " + target, error);
    } else {
        // The output side failed (a missing output folder, say): the next tick tries again.
        errno = error;
        Log(ErrnoText("Cannot move " + fileName_));
        KeepSold(sold);
    }
    return FinishOutcome::ActionApplied;
}

}  // namespace ecr
