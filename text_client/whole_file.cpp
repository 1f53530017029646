#include "text_client/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ecr {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReplaceWholeFile(const std::string& path, std::string_view content) {
    std::string aside = path + ".~new-XXXXXX";
    const int fd = ::mkostemp(aside.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(aside.c_str(), path.c_str()) == 0) return true;
    if (written) error = errno;
    ::unlink(aside.c_str());
    errno = error;
    return false;
}

}  // namespace ecr
