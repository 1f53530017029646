#pragma once

// A full disk for the length of a scope: files this process writes cannot grow past a size.
// The limit is the process's own (RLIMIT_FSIZE), so a test uses it while no other thread
// of its writes files.

#include <sys/resource.h>

#include <csignal>

namespace ecr::testing_support {

// While it lives, files this process writes cannot grow past `bytes`, as on a full disk:
// a write beyond fails with EFBIG (the signal it would raise is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace ecr::testing_support
