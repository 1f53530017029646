#pragma once

// While it lives, no entry of `folder` can be made, renamed or removed (its files can still
// be written): the folder's mode denies it to a user, its immutable flag to root, who may
// write anywhere. Frozen() is false where neither works (a file system without the flag).

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace ecr::testing_support {

class FrozenFolder {
public:
    explicit FrozenFolder(std::string folder) : folder_(std::move(folder)) {
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0555);
        } else {
            SetImmutable(true);
        }
        const std::string probe = folder_ + ".probe";
        const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        frozen_ = fd < 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
        }
    }
    ~FrozenFolder() {
        if (::geteuid() != 0) {
            ::chmod(folder_.c_str(), 0755);
        } else {
            SetImmutable(false);
        }
    }
    FrozenFolder(const FrozenFolder&) = delete;
    FrozenFolder& operator=(const FrozenFolder&) = delete;

    bool Frozen() const { return frozen_; }

private:
    void SetImmutable(bool on) {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }

    std::string folder_;
    bool frozen_ = false;
};

}  // namespace ecr::testing_support
