#include "text_client/sold_file.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "text_client/whole_file.h"

namespace ecr {
namespace {

constexpr unsigned kAsideAttempts = 100;

// The bytes of an open file from its start, whatever its read position.
bool ReadWhole(int fd, std::string& content) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    content.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::pread(fd, content.data() + done, content.size() - done,
                            static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // shrank meanwhile: take what is there
        done += static_cast<std::size_t>(n);
    }
    content.resize(done);
    return true;
}

// Renames `from` to `to` unless `to` exists. A file system without RENAME_NOREPLACE gets a
// hard link and an unlink, which refuse an existing target just as well.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    return ::unlink(from.c_str()) == 0;
}

// A free name beside `path` that the search for input files does not find (it does not end
// with the input extension).
std::string AsideName(const std::string& path) {
    const std::string stem = path + ".~finishing-" + std::to_string(::getpid()) + "-";
    std::string name;
    for (unsigned attempt = 0; attempt < kAsideAttempts; ++attempt) {
        name = stem + std::to_string(attempt);
        if (!FileExists(name)) break;
    }
    return name;
}

}  // namespace

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

SoldFile::SoldFile(const ExclusiveFile& file, const std::string& path, LogSink log)
    : file_(file), path_(path), log_(std::move(log)) {}

void SoldFile::Log(const std::string& text) const {
    if (log_) log_(text);
}

bool SoldFile::MoveTo(const std::string& target, AtTarget atTarget) {
    if (AtPath()) {
        const bool moved = atTarget == AtTarget::Replace ? ::rename(path_.c_str(), target.c_str()) == 0
                                                         : RenameNoReplace(path_, target);
        if (moved) {
            if (file_.IsAt(target)) return true;
            // A new file took the name between the check and the move.
            PutBack(target);
        } else if (errno != EXDEV) {
            return false;
        }
    }
    std::string error;
    if (!CopyTo(target, error)) return false;
    RemoveFromInputFolder();
    return true;
}

bool SoldFile::AppendTo(const std::string& target, std::string& error) {
    ExclusiveFile out(target, O_WRONLY | O_CREAT);
    if (!out.IsOpen()) {
        errno = out.LastError();
        error = ErrnoText("cannot open " + target);
        return false;
    }
    std::string content;
    if (!ReadWhole(file_.Descriptor(), content)) {
        error = ErrnoText("cannot read " + path_);
        return false;
    }
    const off_t oldLength = ::lseek(out.Descriptor(), 0, SEEK_END);
    if (oldLength < 0) {
        error = ErrnoText("cannot seek " + target);
        return false;
    }
    if (!WriteAll(out.Descriptor(), content) ||
        ::fsync(out.Descriptor()) != 0) {
        error = ErrnoText("cannot write " + target);
        // A half-written copy would repeat at the next try: take it back.
        if (::ftruncate(out.Descriptor(), oldLength) != 0) {
            error += "; " + ErrnoText("cannot cut back");
        }
        return false;
    }
    if (!out.Close()) {
        errno = out.LastError();
        error = ErrnoText("cannot close " + target);
        return false;
    }
    return true;
}

bool SoldFile::CopyTo(const std::string& target, std::string& error) {
    std::string content;
    if (!ReadWhole(file_.Descriptor(), content)) {
        error = ErrnoText("cannot read " + path_);
        return false;
    }
    ExclusiveFile out(target, O_WRONLY | O_CREAT | O_EXCL);
    if (!out.IsOpen()) {
        errno = out.LastError();
        error = ErrnoText("cannot create " + target);
        return false;
    }
    bool written = WriteAll(out.Descriptor(), content) &&
                   ::fsync(out.Descriptor()) == 0;
    if (written && !out.Close()) {
        errno = out.LastError();
        written = false;
    }
    if (!written) {
        const int failure = errno;
        error = ErrnoText("cannot write " + target);
        ::unlink(target.c_str());
        errno = failure;
        return false;
    }
    return true;
}

bool SoldFile::RemoveFromInputFolder() {
    if (!AtPath()) return true;
    const std::string aside = AsideName(path_);
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        removeError_ = errno;
        return false;
    }
    if (!file_.IsAt(aside)) {
        // A new file took the name between the check and the rename.
        PutBack(aside);
        return true;
    }
    if (::unlink(aside.c_str()) != 0) Log(ErrnoText("Cannot delete " + path_ + " (renamed " + aside + ")"));
    return true;
}

void SoldFile::PutBack(const std::string& from) {
    if (RenameNoReplace(from, path_)) {
        Log("A new file was handed over as " + path_ +
            " while the file sold under that name was finished; it waits for the next tick");
        return;
    }
    Log(ErrnoText("A new file handed over as " + path_ +
                  " while the file sold under that name was finished is left as " + from));
}

}  // namespace ecr
