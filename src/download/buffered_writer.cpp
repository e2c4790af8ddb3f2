#include "download/buffered_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/debug_log.h"

namespace qs {

BufferedWriter::~BufferedWriter() {
    Close();
}

bool BufferedWriter::Open(const std::string& path) {
    Close();
    // A link planted after the name was chosen is refused, never followed out of the
    // download directory.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        error_number_ = errno;
        error_ = std::strerror(error_number_);
        return false;
    }
    error_.clear();
    error_number_ = 0;
    fd_ = fd;
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    used_ = 0;
    position_ = 0;
    failed_ = false;
    return true;
}

void BufferedWriter::Write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    if (used_ + size <= kBufferSize) {
        std::memcpy(buffer_.get() + used_, bytes, size);
        used_ += size;
        return;
    }
    Flush();
    if (size >= kBufferSize) {
        WriteOut(position_, bytes, size);
        position_ += size;
        return;
    }
    std::memcpy(buffer_.get(), bytes, size);
    used_ = size;
}

void BufferedWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
    Flush();
    WriteOut(offset, static_cast<const char*>(data), size);
    position_ = offset + size;
}

void BufferedWriter::Flush() {
    if (used_ == 0)
        return;
    WriteOut(position_, buffer_.get(), used_);
    position_ += used_;
    used_ = 0;
}

void BufferedWriter::WriteOut(uint64_t offset, const char* data, size_t size) {
    if (fd_ < 0 || failed_)
        return;
    while (size > 0) {
        ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_number_ = n < 0 ? errno : EIO;
            error_ = std::strerror(error_number_);
            LogLine("error writing outfile: %s\n", error_.c_str());
            failed_ = true;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

bool BufferedWriter::Close() {
    if (fd_ < 0)
        return !failed_;
    Flush();
    if (::close(fd_) != 0 && !failed_) {
        error_number_ = errno;
        error_ = std::strerror(error_number_);
        failed_ = true;
    }
    fd_ = -1;
    used_ = 0;
    position_ = 0;
    return !failed_;
}

}  // namespace qs
