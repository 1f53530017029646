#include "text_client/passed_over_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "text_client/sold_file.h"
#include "text_client/whole_file.h"

namespace ecr {
namespace {

constexpr char kNotRemovedWord[] = "removal";
constexpr char kNotSetAsideWord[] = "check";

std::string Escaped(const std::string& path) {
    std::string text;
    for (char c : path) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::string Unescaped(const std::string& text) {
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            path += text[i] == 'n' ? '\n' : text[i];
        } else {
            path += text[i];
        }
    }
    return path;
}

bool SameFile(const PassedOverFiles::Entry& entry, const struct stat& info) {
    return entry.device == info.st_dev && entry.inode == info.st_ino && entry.size == info.st_size &&
           entry.changed.tv_sec == info.st_ctim.tv_sec && entry.changed.tv_nsec == info.st_ctim.tv_nsec;
}

}  // namespace

PassedOverFiles::PassedOverFiles(std::string storePath, LogSink log)
    : storePath_(std::move(storePath)), log_(std::move(log)) {
    Load();
}

void PassedOverFiles::Log(const std::string& text) const {
    if (log_) log_(text);
}

void PassedOverFiles::Load() {
    if (storePath_.empty()) return;
    std::ifstream in(storePath_, std::ios::binary);
    if (!in) return;  // none kept yet
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        unsigned long long device = 0, inode = 0;
        long long size = 0, seconds = 0, nanoseconds = 0;
        std::string reason;
        if (!(fields >> device >> inode >> size >> seconds >> nanoseconds >> reason) || fields.get() != ' ') {
            Log("Line of " + storePath_ + " not understood: " + line);
            continue;
        }
        std::string rest;
        std::getline(fields, rest);
        Entry entry;
        entry.device = static_cast<dev_t>(device);
        entry.inode = static_cast<ino_t>(inode);
        entry.size = static_cast<off_t>(size);
        entry.changed.tv_sec = static_cast<time_t>(seconds);
        entry.changed.tv_nsec = static_cast<long>(nanoseconds);
        entry.reason = reason == kNotSetAsideWord ? Reason::NotSetAside : Reason::NotRemoved;
        entry.path = Unescaped(rest);
        entries_.push_back(std::move(entry));
    }
}

void PassedOverFiles::Save() {
    if (storePath_.empty()) return;
    if (entries_.empty()) {
        if (::unlink(storePath_.c_str()) != 0 && errno != ENOENT) {
            Log(ErrnoText("Cannot remove " + storePath_));
        }
        return;
    }
    std::string content;
    for (const Entry& entry : entries_) {
        content += std::to_string(entry.device) + " " + std::to_string(entry.inode) + " " +
                   std::to_string(entry.size) + " " + std::to_string(entry.changed.tv_sec) + " " + std::to_string(entry.changed.tv_nsec) +
                   " " + (entry.reason == Reason::NotSetAside ? kNotSetAsideWord : kNotRemovedWord) +
                   " " + Escaped(entry.path) + "\n";
    }
    if (!ReplaceWholeFile(storePath_, content)) {
        Log(ErrnoText("Cannot write " + storePath_ +
                      " (the files passed over are passed over only until the program ends)"));
    }
}

void PassedOverFiles::Add(int fd, const std::string& path, Reason reason) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        Log(ErrnoText("Cannot pass over " + path));
        return;
    }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.path == path; }),
                   entries_.end());
    entries_.push_back({info.st_dev, info.st_ino, info.st_size, info.st_ctim, reason, path});
    Save();
}

bool PassedOverFiles::Holds(const std::string& path) const {
    struct stat info {};
    if (entries_.empty() || ::stat(path.c_str(), &info) != 0) return false;
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return entry.path == path && SameFile(entry, info);
    });
}

void PassedOverFiles::ForgetChanged() {
    const auto gone = std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        struct stat info {};
        // A name that cannot be looked at just now (a folder that cannot be read) still
        // holds what it held.
        const bool held = ::stat(entry.path.c_str(), &info) == 0 ? SameFile(entry, info)
                                                                 : errno != ENOENT && errno != ENOTDIR;
        if (!held) Log(entry.path + " is no longer passed over: it was changed or moved away");
        return !held;
    });
    if (gone == entries_.end()) return;
    entries_.erase(gone, entries_.end());
    Save();
}

std::string PassedOverText(const PassedOverFiles::Entry& entry) {
    return entry.path + (entry.reason == PassedOverFiles::Reason::NotSetAside
                             ? " (set aside for a check, but it could not be moved)"
                             : " (finished, but it could not be removed)");
}

}  // namespace ecr
