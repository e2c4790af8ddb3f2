#include "app/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace qs {

namespace {
// Opens `path` and locks it with `operation`; the descriptor, or -1.
int OpenLocked(const std::string& path, int operation) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    int rc;
    while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

bool FileLock::TryLock(const std::string& path) {
    if (fd_ < 0)
        fd_ = OpenLocked(path, LOCK_EX | LOCK_NB);
    return fd_ >= 0;
}

bool FileLock::Lock(const std::string& path) {
    if (fd_ < 0)
        fd_ = OpenLocked(path, LOCK_EX);
    return fd_ >= 0;
}

void FileLock::Unlock() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace qs
