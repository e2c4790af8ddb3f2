#include "nntp/deflate_stream.h"

#include <climits>

namespace qs {

namespace {

constexpr int kRawDeflateWindow = -15;  // negative: no zlib header, as RFC 8054 wants

uInt ZlibSize(size_t size) {
    return size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
}

}  // namespace

std::unique_ptr<DeflateStream> DeflateStream::Create() {
    std::unique_ptr<DeflateStream> stream(new DeflateStream);
    stream->deflater_ready_ = deflateInit2(&stream->deflater_, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                                           kRawDeflateWindow, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    stream->inflater_ready_ = inflateInit2(&stream->inflater_, kRawDeflateWindow) == Z_OK;
    if (!stream->deflater_ready_ || !stream->inflater_ready_)
        return nullptr;
    return stream;
}

DeflateStream::~DeflateStream() {
    if (deflater_ready_)
        deflateEnd(&deflater_);
    if (inflater_ready_)
        inflateEnd(&inflater_);
}

bool DeflateStream::Compress(const char* data, size_t size, bool flush, std::string& out) {
    out.clear();
    deflater_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    deflater_.avail_in = ZlibSize(size);
    const int mode = flush ? Z_SYNC_FLUSH : Z_NO_FLUSH;
    char chunk[16384];
    // Until all input is taken and, when flushing, zlib has room left over (nothing pending).
    for (;;) {
        deflater_.next_out = reinterpret_cast<Bytef*>(chunk);
        deflater_.avail_out = sizeof chunk;
        int rc = deflate(&deflater_, mode);
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return false;
        out.append(chunk, sizeof chunk - deflater_.avail_out);
        if (deflater_.avail_in == 0 && deflater_.avail_out != 0)
            return true;
    }
}

void DeflateStream::Received(size_t size) {
    inflater_.next_in = reinterpret_cast<Bytef*>(input_.get());
    inflater_.avail_in = ZlibSize(size);
}

ssize_t DeflateStream::Inflate(char* out, size_t size) {
    if (ended_)
        return -1;
    inflater_.next_out = reinterpret_cast<Bytef*>(out);
    inflater_.avail_out = ZlibSize(size);
    int rc = inflate(&inflater_, Z_SYNC_FLUSH);
    const ssize_t made = static_cast<ssize_t>(ZlibSize(size) - inflater_.avail_out);
    if (rc == Z_STREAM_END)
        ended_ = true;  // what came with the end is still handed out
    else if (rc != Z_OK && rc != Z_BUF_ERROR)
        return -1;
    return made > 0 ? made : (ended_ ? -1 : 0);
}

}  // namespace qs
