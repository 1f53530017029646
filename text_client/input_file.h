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
// order of the lines still reach their own lines. A line shows a result with the code text
// "??" from before its request leaves until its outcome is known, and that mark is on the
// disk before the request goes, so that a line that went out is never sold again, also when
// the program, the server or the machine dies before the final reply.
//
// Files that must not be sold or finished again although they lie in the input folder are
// passed over (see passed_over_files.h); a file that cannot be opened is passed over while
// it cannot, and logged once.
//
// The file stays open, locked for this process, from opening until it is finished or kept;
// finishing works on the file that is open (see sold_file.h).
//
// Threads: one InputFile belongs to the selling loop and is used on the main thread only.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/exclusive_file.h"
#include "text_client/client_settings.h"
#include "text_client/passed_over_files.h"
#include "text_client/sold_file.h"

namespace ecr {

inline constexpr char kResultPlaceholder[] = ",______,_,__;";
// The code text of a line whose request reached the register while its final reply has not
// come: the outcome is not known yet. No reply code gives it ("Ok", "Er" and two
// hexadecimal digits are the others).
inline constexpr char kOutcomeNotKnownCode[] = "??";
inline constexpr char kTotalsPlaceholder[] = "_;__;____;";
// The folder inside the input folder where a file is kept whose result could not be
// written: the search for input files does not look into it, so no line of the file is
// sold again before a person has checked it and moved the file back.
inline constexpr char kCheckFolderName[] = "check";

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
    bool OutcomePending = false;  // its request reached the register; it shows "??"
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

// The 11 bytes of a line whose outcome is not known yet: "%.6d,%.1d,??", cut to 11.
std::string FormatPendingLineResult(std::int32_t number, std::uint8_t digit);

// The 21 bytes of a totals (N) line: the 11 bytes (with "Er" for 5 only) then
// ";%.1d;%.2d;%.4d" of the reply's Payload fields 3, 4 and 5, cut to 21. A field that is
// empty, not a number, or negative is written as 0; `onNegative` hears of each negative one.
std::string FormatLineResultWithTotals(
    std::int32_t number, std::uint8_t digit, std::string_view payload, std::uint8_t code,
    const std::function<void(int field, std::string_view text)>& onNegative = {});

// What finishing a file did.
enum class FinishOutcome {
    NothingOpen,
    // The output action ran. A move, append or delete that failed is logged and leaves the
    // file in the input folder, to be finished again at the next try (a file sold whose name
    // was given to another file meanwhile is kept under a new name, see KeepInputFile).
    ActionApplied,
    // The output file would be found as an input file (see output_target.h): the file stays
    // where it is, logged, and finishing it again gives the same until the settings change.
    KeptOutputNamesInput,
};

// What writing a result did.
enum class ResultWrite {
    Written,
    NotOutstanding,  // no file open, no such line outstanding, or a result longer than the
                     // line's place (totals for a line that is not a totals line): nothing
                     // written
    Failed,          // the write failed (logged): the line stays outstanding, showing what
                     // it showed before or part of the new bytes
};

class InputFile {
public:
    using LogSink = std::function<void(const std::string& text)>;

    // `settings` are the values in force; they must outlive this object. The random source
    // of unique output names is seeded with `seed`. The files passed over are kept in
    // `passedOverStore` ("": for the life of this object only).
    InputFile(const ClientSettings& settings, LogSink log, std::uint32_t seed,
              std::string passedOverStore = {});

    // Closes a file still open (without output action), then opens the first file of the
    // input folder that matches "*." + InputExt and is not passed over, for this process
    // alone. A file that another process holds (its lock is taken) holds the later files
    // back until it is released; one that cannot be opened for any other reason is logged
    // once and passed over while it stays so. False when no file was opened.
    bool OpenNextInputFile();

    // Reads on to the next valid line and makes it the newest outstanding line. False at
    // the end of the file (or with no file open: the end-of-file flag is then set).
    bool ParseNextInputLine();

    // Writes the result of the outstanding line `id` and forgets that line (when written).
    ResultWrite WriteLineResult(std::uint64_t id, std::int32_t number, std::uint8_t digit,
                                std::uint8_t code);
    ResultWrite WriteLineResultWithTotals(std::uint64_t id, std::int32_t number,
                                          std::uint8_t digit, std::string_view payload,
                                          std::uint8_t code);
    // Writes "000000,0,??" into the outstanding line `id`, whose request is about to leave,
    // and waits until it is on the disk; the line stays outstanding until its result is
    // written.
    ResultWrite WriteSendingResult(std::uint64_t id);
    // Writes "??" with the register's number and digit into the outstanding line `id`, whose
    // request reached the register; the line stays outstanding until its result is written.
    ResultWrite WritePendingResult(std::uint64_t id, std::int32_t number, std::uint8_t digit);
    // Writes the placeholder back into the outstanding line `id`, whose request the register
    // did not execute: the line is unsold again until its request is answered anew.
    ResultWrite WriteUnsold(std::uint64_t id);

    // The number (from 1) of the line in the file that the outstanding line `id` is, as an
    // editor counts lines (CR LF, LF and CR each end one); 0 when it cannot be told.
    int LineNumberOf(std::uint64_t id) const;

    // True when a line of the file may still be sold: an outstanding line that still shows
    // its placeholder, or a valid line not read yet. The read position stays where it is.
    bool HasUnsoldLines();

    // Applies the output action to the file sold, then closes it (the lock is held until
    // the action is done). Does nothing with no file open.
    FinishOutcome FinishInputFile();

    // Closes the file without output action: it stays in the input folder. When its name
    // holds another file by now (or none), the file sold is written back into the input
    // folder under a unique name of its own, so that none of its lines is lost.
    void KeepInputFile();

    // Closes the file without output action and moves it into the folder kCheckFolderName
    // inside the input folder (under its name, or its name with ".1", ".2", ... when that is
    // taken); when that folder cannot be made or used, it is renamed in the input folder to
    // its name + "." + kCheckFolderName (".1", ".2", ... when taken), which the search for
    // input files does not match. Returns where it now lies, or "" when it could not be
    // moved at all (logged): it then stays where it was and is passed over until it changes
    // or is moved away.
    std::string SetAsideForCheck();

    // The files passed over, for the status window.
    const std::vector<PassedOverFiles::Entry>& PassedOver() const { return passedOver_.Entries(); }

    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& FileName() const { return fileName_; }  // with its folder
    bool EndOfFile() const { return endOfFile_; }
    // The valid lines read from the file in work so far.
    int LinesAccepted() const { return linesAccepted_; }
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
    // What a line shows once its bytes are written.
    enum class LineShows { Result, OutcomeNotKnown, Placeholder };
    ResultWrite WriteAt(std::uint64_t id, const std::string& bytes, LineShows shows,
                        bool synced = false);
    FinishOutcome ApplyOutputAction();
    // The file sold stays in the input folder: under its name, or under a new one when its
    // name was given to another file.
    void KeepSold(SoldFile& sold);
    // Moves the file sold to the first free one of nameFor(0), nameFor(1), ... (an empty
    // name is skipped); where it went, or "" with errno set.
    std::string MoveToFreeName(SoldFile& sold,
                               const std::function<std::string(unsigned attempt)>& nameFor);
    // When the file finished is still at its name although its output action is done (or
    // can never be), it is passed over, so that it is neither finished nor sold again; the
    // log line says `what` happened and the error `error`.
    void PassOverNotRemoved(const SoldFile& sold, const std::string& what, int error);
    // Logs once that `path` cannot be opened (the error `error`), until it changes.
    void LogNotOpened(const std::string& path, int error);
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
    int linesAccepted_ = 0;
    PassedOverFiles passedOver_;
    // Per name that could not be opened: the device, inode and change time it was logged for.
    std::map<std::string, std::tuple<dev_t, ino_t, std::int64_t, long>> notOpened_;
};

}  // namespace ecr
