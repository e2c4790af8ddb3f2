#pragma once

#include <atomic>
#include <cstddef>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <string_view>

#include "nntp/deflate_stream.h"
#include "nntp/tls_channel.h"

namespace qs {

// What a connection is opened with: the send/receive time-out and whether Close says
// "QUIT" first. Taken from the settings snapshot when the connection is made.
struct SocketOptions {
    int timeout_seconds = 120;
    bool gracefully = true;
};

// Reply lines are read 999 characters at a time; the scan uses a larger buffer.
inline constexpr size_t kReplyBufferSize = 1000;
// The most a line read whole may hold before the stream gives up on it.
inline constexpr size_t kWholeLineLimit = 4 * 1024 * 1024;
// No news server takes articles anywhere near this size: a body that grows past it comes
// from a broken or hostile server, and reading on would only fill the memory.
inline constexpr size_t kMaxArticleBytes = size_t{32} << 20;
inline constexpr const char* kArticleTooLarge = "the article is larger than 32 MiB";

// How ReadLine treats a line longer than its buffer.
enum class LineMode {
    FailWhenLong,  // the stream fails, the rest of the line stays unread
    Whole,         // the line is read whole (up to kWholeLineLimit)
};

// The stream buffer under NntpSocket: one 272 KiB block, 16 KiB of pending output followed by
// 256 KiB of received input. A download receives in pieces up to that size: reading more of
// the socket's queue at once, the kernel also acknowledges less often (a download costs a
// fifth less CPU than with 64 KiB pieces, most of it in the kernel). It sends and receives on
// whatever descriptor its owner holds, through the owner's TLS channel once one is set, and
// compressed once StartCompression has been called.
class SocketStreamBuffer : public std::streambuf {
  public:
    static constexpr size_t kPutSize = 16384;
    static constexpr size_t kGetSize = 262144;

    explicit SocketStreamBuffer(const std::atomic<int>& handle);
    SocketStreamBuffer(const SocketStreamBuffer&) = delete;
    SocketStreamBuffer& operator=(const SocketStreamBuffer&) = delete;

    void SetTls(TlsChannel* tls) { tls_ = tls; }
    // From now on both directions are deflated; unread input is dropped. False when zlib
    // cannot start.
    bool StartCompression();
    bool compressing() const { return deflate_ != nullptr; }
    // The next flush keeps the input not read yet (replies to commands sent before).
    void KeepInputAtNextSync() { keep_input_ = true; }

    enum class LineResult { Line, TooLong, End };
    // Cuts the next line out of the input: the "\n" is consumed and not stored, a "\r"
    // before it stays. At most `limit` characters are stored; when the line is longer,
    // TooLong is returned with the rest unread. End: the input ended before a "\n" (what
    // was read so far is in `line`).
    LineResult ReadLine(std::string& line, size_t limit);
    // As ReadLine, but a line that lies whole in the input received so far is not copied:
    // `line` views it there, until the next read. Any other line is put together in `spill`
    // and viewed there.
    LineResult ReadLineInPlace(std::string_view& line, std::string& spill, size_t limit);

    // Where a dot-terminated block (a body) being read stands, between calls.
    enum class BlockState { LineStart, Dot, DotCr, InLine };
    enum class BlockResult { Done, More, End };
    // Appends the input received so far, up to the block's end, to `block` as it came (line
    // feeds and doubled dots kept), receiving first when none is waiting. Done: the "."
    // line that ends the block was read, and is not stored; the input after it stays
    // unread. More: call again. End: the input ended. Start with `state` LineStart.
    BlockResult ReadDotBlock(std::string& block, BlockState& state);

  protected:
    int_type overflow(int_type c) override;
    int sync() override;
    int_type underflow() override;
    int_type pbackfail(int_type) override { return traits_type::eof(); }
    std::streamsize showmanyc() override { return 0; }

  private:
    // Sends everything from the start of the put area to the write position, looping over
    // partial sends; the put area is empty afterwards. False when the socket is gone or a
    // send fails (the bytes not taken are dropped with the stream, never sent later).
    bool SendPending(bool flush);
    // The bytes as they go on the wire: through TLS or straight to the descriptor.
    bool WireSend(const char* data, size_t size);
    ssize_t WireReceive(char* data, size_t size);

    const std::atomic<int>& handle_;
    TlsChannel* tls_ = nullptr;
    std::unique_ptr<DeflateStream> deflate_;
    std::string compressed_;  // reused for each send
    std::unique_ptr<char[]> block_;
    bool keep_input_ = false;
};

// A blocking TCP connection to a news server, plain or TLS, read and written as a text
// stream. One object
// per connection attempt; one worker thread reads and writes it. Another thread may call
// Shutdown to wake a blocked receive; only the owner closes the descriptor.
class NntpSocket : public std::iostream {
  public:
    explicit NntpSocket(SocketOptions options = {});
    ~NntpSocket() override;
    NntpSocket(const NntpSocket&) = delete;
    NntpSocket& operator=(const NntpSocket&) = delete;

    // Connects to host:port (every address the resolver gives, IPv4 and IPv6, in turn), then
    // handshakes when TLS is asked for. Afterwards is_open() tells whether it worked; when
    // the TLS handshake failed, open_error() says why.
    void Open(const std::string& host, int port, TlsOptions tls = {});
    // Sends "QUIT" first when the options say so, then closes the descriptor.
    void Close();
    // Wakes a receive or send blocked in another thread; the stream fails there. Safe from
    // any thread while the object exists; the descriptor stays open until its owner closes.
    void Shutdown();

    bool is_open() const { return handle_.load() >= 0; }
    const std::string& open_error() const { return open_error_; }
    int handle() const { return handle_.load(); }

    // Reads one line of at most size - 1 characters (LF dropped, CR kept). Returns true when
    // a whole line ended by LF was read. Once the stream has failed the text is empty.
    bool ReadLine(std::string& line, size_t size = kReplyBufferSize,
                  LineMode mode = LineMode::FailWhenLong);
    // The same into a caller's buffer, zero-terminated.
    bool ReadLine(char* buffer, size_t size);
    // As ReadLine, without copying a line that lies whole in the received input: the view
    // holds until the next read (an overview line is read a million times a second).
    bool ReadLineInPlace(std::string_view& line, std::string& spill, size_t size,
                         LineMode mode = LineMode::FailWhenLong);

    using BlockState = SocketStreamBuffer::BlockState;
    using BlockResult = SocketStreamBuffer::BlockResult;
    // Reads on in a dot-terminated block (see SocketStreamBuffer::ReadDotBlock); End also
    // once the stream has failed, and then the stream is at its end.
    BlockResult ReadDotBlock(std::string& block, BlockState& state);

    // Writes the text followed by CR LF and flushes: one send per command. Input not read
    // yet is dropped: a command starts a new exchange.
    void SendCommand(std::string_view command);
    // The same, but replies still unread are kept: for a command sent while the replies
    // to earlier ones are on their way (pipelining).
    void SendPipelinedCommand(std::string_view command);

    // After the server's 206 to "COMPRESS DEFLATE": both directions are deflated from here.
    bool StartCompression() { return buffer_.StartCompression(); }
    bool compressing() const { return buffer_.compressing(); }

  private:
    // Closes the descriptor under the shutdown lock.
    void CloseDescriptor();
    // Sets the stream's state after a line was read; true for a whole line.
    bool LineRead(SocketStreamBuffer::LineResult result, bool nothing_read);

    SocketOptions options_;
    std::atomic<int> handle_{-1};
    std::unique_ptr<TlsChannel> tls_;
    std::string open_error_;
    std::mutex shutdown_mutex_;  // a shutdown never meets a close of the same descriptor
    SocketStreamBuffer buffer_;
};

}  // namespace qs
