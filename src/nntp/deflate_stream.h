#pragma once

#include <zlib.h>

#include <sys/types.h>
#include <cstddef>
#include <memory>
#include <string>

namespace qs {

// Both directions of a connection after "COMPRESS DEFLATE" (RFC 8054): raw deflate, the
// bytes sent compressed and flushed at the end of each command, the bytes received inflated
// as they come. Each side is one endless stream for the life of the connection.
class DeflateStream {
  public:
    static constexpr size_t kInputSize = 16384;

    // Null when zlib cannot set up its state.
    static std::unique_ptr<DeflateStream> Create();
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Compresses the bytes into `out` (which is replaced); with `flush` everything given so
    // far can be inflated by the peer from what `out` holds. False on a zlib failure.
    bool Compress(const char* data, size_t size, bool flush, std::string& out);

    // Inflates into `out`, calling `receive` (as recv: > 0 bytes read, <= 0 failed) whenever
    // the compressed input runs dry, until some text comes out. Returns the bytes made, or
    // what receive returned when it failed, or -1 when the stream is damaged or has ended.
    template <typename Receive>
    ssize_t Read(char* out, size_t size, Receive&& receive) {
        for (;;) {
            if (inflater_.avail_in == 0) {
                ssize_t got = receive(input_.get(), kInputSize);
                if (got <= 0)
                    return got;
                Received(static_cast<size_t>(got));
            }
            ssize_t made = Inflate(out, size);
            if (made != 0)
                return made;
        }
    }
    // Received bytes are waiting to be inflated.
    bool HasInput() const { return inflater_.avail_in != 0; }

  private:
    DeflateStream() = default;
    void Received(size_t size);
    // The bytes made (0: more input is needed), -1 when the stream is damaged or has ended.
    ssize_t Inflate(char* out, size_t size);

    z_stream deflater_{};
    z_stream inflater_{};
    bool deflater_ready_ = false;
    bool inflater_ready_ = false;
    bool ended_ = false;
    std::unique_ptr<char[]> input_{new char[kInputSize]};
};

}  // namespace qs
