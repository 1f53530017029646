#pragma once

// The input files that the selling client passes over although the search finds them, kept
// in a small file of the program's own so that a new start passes them over too:
// - a finished file that could not be removed from the input folder (its output is written,
//   or its action writes none): finishing it again would write its output again;
// - a file set aside for a check that could be neither moved into "check" nor renamed: its
//   lines would be sold again before a person has checked the line whose outcome it does
//   not show.
// A file is known by its device, inode, size, change time and name. Its entry goes once the name
// no longer holds that file unchanged: a person edited it (in place or anew), moved it away,
// or handed another file over under its name.
//
// The store holds one line per file: device, inode, size, change time (seconds and
// nanoseconds), the reason ("removal" or "check") and the path, with "\" and line ends written as "\\"
// and "\n". It is replaced whole (written aside, synced and renamed) and removed when no
// file is left; a store that cannot be read or written is logged and the files are passed
// over for this run only.
//
// Threads: one object belongs to the input file of the selling loop (main thread).

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace ecr {

// The store lies beside the program's INI file, named like it with this extension.
inline constexpr char kPassedOverStoreExtension[] = ".passed";

class PassedOverFiles {
public:
    using LogSink = std::function<void(const std::string& text)>;

    enum class Reason { NotRemoved, NotSetAside };

    struct Entry {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec changed{};
        Reason reason = Reason::NotRemoved;
        std::string path;
    };

    // Reads the store at `storePath`; "" keeps the files in memory only.
    PassedOverFiles(std::string storePath, LogSink log);

    // Passes over the file `path` whose open descriptor is `fd`, as it is now.
    void Add(int fd, const std::string& path, Reason reason);

    // True when `path` holds a file passed over, unchanged.
    bool Holds(const std::string& path) const;

    // Forgets the files whose name no longer holds them unchanged (saved when any went).
    void ForgetChanged();

    const std::vector<Entry>& Entries() const { return entries_; }

private:
    void Load();
    void Save();
    void Log(const std::string& text) const;

    std::string storePath_;
    LogSink log_;
    std::vector<Entry> entries_;
};

// What the status window and the log say of a file passed over: its path and why.
std::string PassedOverText(const PassedOverFiles::Entry& entry);

}  // namespace ecr
