#include "app/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qs {

bool FileLock::TryLock(const std::string& path) {
    if (fd_ >= 0)
        return true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FileLock::Unlock() {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace qs
