#pragma once

// The input file that was sold, as the selling client finishes or keeps it: still open and
// locked, so that another application that takes the lock before it writes cannot touch
// the file until the output action is done.
//
// Every operation works on the file that is open, not on whatever its name holds now. The
// other application may have handed a new batch over under the same name meanwhile (renamed
// into place, or written after the old file was deleted): the file sold is then written out
// from what is open, and the new file stays in the input folder, untouched, for the next
// tick. Moves and deletes check the name again after they acted, so that a new file that
// arrives between the check and the act is put back under its name.
//
// Threads: one SoldFile is used on one thread at a time, while its ExclusiveFile stays open.

#include <functional>
#include <string>

#include "platform/exclusive_file.h"

namespace ecr {

class SoldFile {
public:
    using LogSink = std::function<void(const std::string& text)>;

    // `file` is the open input file, `path` the name it was opened under; both must outlive
    // this object.
    SoldFile(const ExclusiveFile& file, const std::string& path, LogSink log);

    // True while the name still holds the file sold.
    bool AtPath() const { return file_.IsAt(path_); }

    enum class AtTarget { Replace, Keep };

    // Moves the file sold to `target`, replacing a file there (AtTarget::Keep: failing with
    // EEXIST instead). When the name no longer holds it, or the target lies on another file
    // system, the file is written to `target` from what is open instead (and then removed
    // from the input folder if its name holds it; when that fails, AtPath() stays true and
    // RemoveError() tells why). False, with errno set, when nothing reached the target: the
    // file stays where it was.
    bool MoveTo(const std::string& target, AtTarget atTarget = AtTarget::Replace);

    // Appends the whole file sold to `target` (created when missing, opened for this
    // process alone). On any failure the target is cut back to its old length and false is
    // returned with the reason in `error`.
    bool AppendTo(const std::string& target, std::string& error);

    // Writes the whole file sold to `target`, which must not exist yet. On any failure no
    // target is left behind and false is returned with the reason in `error` (errno set).
    bool CopyTo(const std::string& target, std::string& error);

    // Deletes the file sold from the input folder when its name holds it. It is first
    // renamed aside and checked there, so that a file handed over under the name in the
    // meantime is never deleted. False when the file stays at its name (RemoveError() and
    // errno tell why).
    bool RemoveFromInputFolder();
    int RemoveError() const { return removeError_; }

private:
    // Renames `from`, which holds a file that is not the one sold, back to the input name.
    void PutBack(const std::string& from);
    void Log(const std::string& text) const;

    const ExclusiveFile& file_;
    const std::string& path_;
    LogSink log_;
    int removeError_ = 0;
};

// "what: " and the text of errno.
std::string ErrnoText(const std::string& what);

// True when something is there under `path` (a symbolic link counts itself).
bool FileExists(const std::string& path);

}  // namespace ecr
