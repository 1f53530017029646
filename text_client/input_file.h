#pragma once

// The file side of the selling client: the one input file in work, its request lines, the
// results written back into them in place, and the output action applied when the file is
// done.
//
// A request line has one of two shapes (register number of one or of two characters):
//     S,1,______,_,__;data          S,12,______,_,__;data
// The result overwrites the placeholder from its first underscore on, so a file never
// changes its length while it is in work.
//
// Every accepted line stays outstanding, with an id of its own, until its result is written;
// results are written to the line they are given for, so replies that do not arrive in the
// order of the lines still reach their own lines.
//
// Threads: one InputFile belongs to the selling loop and is used on the main thread only.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "platform/exclusive_file.h"
#include "text_client/client_settings.h"

namespace ecr {

inline constexpr char kResultPlaceholder[] = ",______,_,__;";
inline constexpr char kTotalsPlaceholder[] = "_;__;____;";

// Request codes of the line letters on SET 13.
inline constexpr std::uint8_t copSell = 4;
inline constexpr std::uint8_t copTotals = 12;

// The request of one valid line.
struct RequestLine {
    int RegisterNumber = 0;    // 1..16
    std::uint8_t COP = 0;      // 4..6, 8..15
    std::string Data;          // prepared request text, at most 255 bytes
    std::uint32_t ResultOffset = 0;  // file offset of the placeholder's first underscore
};

// An accepted line whose result is not written yet.
struct OutstandingLine : RequestLine {
    std::uint64_t Id = 0;
};

// The request letter's code, or nullopt for a letter that is not a request.
std::optional<std::uint8_t> CopOfLetter(char letter);

// The request of `line` (read at file offset `lineStart`), or nullopt when it is no valid
// request line.
std::optional<RequestLine> ParseInputLine(std::string_view line, std::uint32_t lineStart,
                                          bool sellWithExtPlu, TextEncoding encoding);

// Bytes 0x80..0xFF moved by 0x40 (modulo 256); bytes below 0x80 unchanged.
std::string DosToWindows(std::string_view data);

// The 11 bytes written over the placeholder: "%.6d,%.1d,%s" of number, digit and code text
// ("Ok" for 0, "Er" for 5 and 22, else two upper-case hexadecimal digits), cut to 11.
std::string FormatLineResult(std::int32_t number, std::uint8_t digit, std::uint8_t code);

// The 21 bytes of a totals (N) line: the 11 bytes (with "Er" for 5 only) then
// ";%.1d;%.2d;%.4d" of the reply's Payload fields 3, 4 and 5, cut to 21. A field that is
// empty, not a number, or negative is written as 0; `onNegative` hears of each negative one.
std::string FormatLineResultWithTotals(
    std::int32_t number, std::uint8_t digit, std::string_view payload, std::uint8_t code,
    const std::function<void(int field, std::string_view text)>& onNegative = {});

// Appends the whole of `source` to `target` (created when missing), each opened for this
// process alone. On any failure the target is cut back to its old length, the source is
// left as it is, and false is returned with the reason in `error`.
bool AppendFileToFile(const std::string& target, const std::string& source, std::string& error);

// Moves a file as the original system's move did: a rename, or across file systems a copy
// to the target followed by deleting the source.
bool MoveFileTo(const std::string& source, const std::string& target);

// What finishing a file did.
enum class FinishOutcome {
    NothingOpen,
    // The output action ran. A move, append or delete that failed is logged and leaves the
    // file in the input folder, to be finished again at the next try.
    ActionApplied,
    // The output file would be found as an input file (see output_target.h): the file stays
    // where it is, logged, and finishing it again gives the same until the settings change.
    KeptOutputNamesInput,
};

class InputFile {
public:
    using LogSink = std::function<void(const std::string& text)>;

    // `settings` are the values in force; they must outlive this object. The random source
    // of unique output names is seeded with `seed`.
    InputFile(const ClientSettings& settings, LogSink log, std::uint32_t seed);

    // Closes a file still open (without output action), then opens the first file of the
    // input folder that matches "*." + InputExt, for this process alone. False when none
    // matches or the first one cannot be opened.
    bool OpenNextInputFile();

    // Reads on to the next valid line and makes it the newest outstanding line. False at
    // the end of the file (or with no file open: the end-of-file flag is then set).
    bool ParseNextInputLine();

    // Writes the result of the outstanding line `id` and forgets that line. Does nothing
    // (false) with no file open or for an id that is not outstanding.
    bool WriteLineResult(std::uint64_t id, std::int32_t number, std::uint8_t digit,
                         std::uint8_t code);
    bool WriteLineResultWithTotals(std::uint64_t id, std::int32_t number, std::uint8_t digit,
                                   std::string_view payload, std::uint8_t code);

    // Closes the file and applies the output action. Does nothing with no file open.
    FinishOutcome FinishInputFile();

    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& FileName() const { return fileName_; }  // with its folder
    bool EndOfFile() const { return endOfFile_; }
    int OutstandingLines() const { return static_cast<int>(outstanding_.size()); }
    const std::deque<OutstandingLine>& Outstanding() const { return outstanding_; }
    const OutstandingLine* NewestLine() const;
    const OutstandingLine* FindLine(std::uint64_t id) const;
    // The register of the newest accepted line of the file in work, kept after its result
    // is written; 0 before the file's first line is accepted.
    int NewestRegisterNumber() const { return newestRegister_; }

    // "Wx" + eight random digits + "." + extension, drawn again while it exists in `path`.
    std::string MakeUniqueOutputName(const std::string& path, std::string_view prefix,
                                     std::string_view extension);

    // The byte read (0..255), or -1 no file, -2 read failure, -3 end of file.
    int ReadInputByte();

private:
    struct LineRead {
        std::string text;
        std::uint32_t start = 0;
    };
    LineRead ReadInputLine();
    bool WriteAt(std::uint64_t id, const std::string& bytes);
    FinishOutcome ApplyOutputAction(const std::string& inputFile);
    void Log(const std::string& text) const;

    const ClientSettings& settings_;
    LogSink log_;
    std::mt19937 random_;

    ExclusiveFile file_;
    std::string fileName_;
    bool endOfFile_ = false;
    std::uint32_t position_ = 0;  // offset of the next byte to read
    std::string buffer_;          // bytes read ahead from bufferStart_
    std::uint32_t bufferStart_ = 0;
    std::deque<OutstandingLine> outstanding_;
    std::uint64_t nextId_ = 1;
    int newestRegister_ = 0;
};

}  // namespace ecr
