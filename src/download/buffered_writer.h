#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qs {

// An output file written through a buffer, byte for byte without any translation.
// Sequential writes collect in the buffer; positioned writes flush it and go straight to
// their offset. A failed write is remembered (and logged once) rather than thrown.
class BufferedWriter {
  public:
    static constexpr size_t kBufferSize = 256 * 1024;

    BufferedWriter() = default;
    ~BufferedWriter();
    BufferedWriter(const BufferedWriter&) = delete;
    BufferedWriter& operator=(const BufferedWriter&) = delete;

    // Creates or truncates the file; false (and errno set) when it cannot be opened.
    bool Open(const std::string& path);
    bool is_open() const { return fd_ >= 0; }
    // True once any write to the current file has failed.
    bool failed() const { return failed_; }
    // Why the last Open or write failed (the system's text); empty when nothing failed.
    const std::string& error() const { return error_; }
    // The errno of the failure (0 when none), so a full disk can be told from other causes.
    int error_number() const { return error_number_; }

    // Appends at the sequential position.
    void Write(const void* data, size_t size);
    void Put(uint8_t byte) {
        if (used_ == kBufferSize)
            Flush();
        buffer_[used_++] = byte;
    }
    // Writes at `offset` (the file grows with a hole when it lies beyond the end) and moves
    // the sequential position behind the written bytes.
    void WriteAt(uint64_t offset, const void* data, size_t size);
    void Flush();
    // Flushes and closes; false when any write of this file failed.
    bool Close();

  private:
    void WriteOut(uint64_t offset, const char* data, size_t size);

    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    uint64_t position_ = 0;  // file offset of buffer_[0]
    bool failed_ = false;
    std::string error_;
    int error_number_ = 0;
};

}  // namespace qs
