#pragma once

#include <string>

namespace qs {

// An exclusive lock on a file that other processes see (flock); released when destroyed or
// when the process ends, however it ends.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock without waiting; false when another holder has it or the file cannot
    // be opened.
    bool TryLock(const std::string& path);
    // Takes the lock, waiting while another holder has it; false when the file cannot be used.
    bool Lock(const std::string& path);
    void Unlock();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace qs
