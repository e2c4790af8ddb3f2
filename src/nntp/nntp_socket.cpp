#include "nntp/nntp_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/debug_log.h"
#include "app/line_scan.h"

namespace qs {

// ---------------------------------------------------------------------------------------------
// SocketStreamBuffer

SocketStreamBuffer::SocketStreamBuffer(const std::atomic<int>& handle)
    : handle_(handle), block_(new char[kPutSize + kGetSize]) {
    char* put = block_.get();
    setp(put, put + kPutSize);
    char* get_end = block_.get() + kPutSize + kGetSize;
    setg(get_end, get_end, get_end);
}

bool SocketStreamBuffer::WireSend(const char* data, size_t left) {
    int fd = handle_.load();
    if (fd < 0)
        return false;
    while (left > 0) {
        ssize_t n = tls_ ? tls_->Send(data, left) : ::send(fd, data, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR && !tls_)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t SocketStreamBuffer::WireReceive(char* data, size_t size) {
    int fd = handle_.load();
    if (fd < 0)
        return -1;
    if (tls_)
        return tls_->Receive(data, size);
    ssize_t n;
    do {
        n = ::recv(fd, data, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool SocketStreamBuffer::SendPending(bool flush) {
    const char* data = pbase();
    size_t size = static_cast<size_t>(pptr() - pbase());
    setp(block_.get(), block_.get() + kPutSize);
    if (handle_.load() < 0)
        return false;
    if (!deflate_)
        return WireSend(data, size);
    if (size == 0 && !flush)
        return true;
    return deflate_->Compress(data, size, flush, compressed_) &&
           WireSend(compressed_.data(), compressed_.size());
}

bool SocketStreamBuffer::StartCompression() {
    deflate_ = DeflateStream::Create();
    char* get_end = block_.get() + kPutSize + kGetSize;
    setg(get_end, get_end, get_end);
    return deflate_ != nullptr;
}

SocketStreamBuffer::int_type SocketStreamBuffer::overflow(int_type c) {
    if (!SendPending(false))
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int SocketStreamBuffer::sync() {
    bool sent = SendPending(true);
    // Writing a command ends whatever reply was being read: unread input is dropped, unless
    // the command was sent ahead of replies still to be read.
    if (!keep_input_) {
        char* get_end = block_.get() + kPutSize + kGetSize;
        setg(get_end, get_end, get_end);
    }
    keep_input_ = false;
    return sent ? 0 : -1;
}

SocketStreamBuffer::int_type SocketStreamBuffer::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    char* get = block_.get() + kPutSize;
    ssize_t n;
    if (!deflate_)
        n = WireReceive(get, kGetSize);
    else
        n = deflate_->Read(get, kGetSize,
                           [this](char* data, size_t size) { return WireReceive(data, size); });
    if (n <= 0)
        return traits_type::eof();
    setg(get, get, get + n);
    return traits_type::to_int_type(*gptr());
}

SocketStreamBuffer::LineResult SocketStreamBuffer::ReadLine(std::string& line, size_t limit) {
    line.clear();
    for (;;) {
        if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof()))
            return LineResult::End;
        const char* begin = gptr();
        size_t available = static_cast<size_t>(egptr() - gptr());
        size_t room = limit - line.size();
        // A "\n" right after the last character that fits still ends the line.
        size_t window = available < room + 1 ? available : room + 1;
        const void* lf = std::memchr(begin, '\n', window);
        if (lf) {
            size_t length = static_cast<size_t>(static_cast<const char*>(lf) - begin);
            line.append(begin, length);
            gbump(static_cast<int>(length + 1));
            return LineResult::Line;
        }
        if (available > room) {
            line.append(begin, room);
            gbump(static_cast<int>(room));
            return LineResult::TooLong;
        }
        line.append(begin, available);
        gbump(static_cast<int>(available));
    }
}

SocketStreamBuffer::LineResult SocketStreamBuffer::ReadLineInPlace(std::string_view& line,
                                                                   std::string& spill,
                                                                   size_t limit) {
    if (gptr() < egptr()) {
        const size_t available = static_cast<size_t>(egptr() - gptr());
        // A "\n" right after the last character that fits still ends the line.
        const size_t window = available < limit + 1 ? available : limit + 1;
        if (const void* lf = std::memchr(gptr(), '\n', window)) {
            const auto length = static_cast<size_t>(static_cast<const char*>(lf) - gptr());
            line = std::string_view(gptr(), length);
            gbump(static_cast<int>(length + 1));
            return LineResult::Line;
        }
    }
    const LineResult result = ReadLine(spill, limit);
    line = spill;
    return result;
}

SocketStreamBuffer::BlockResult SocketStreamBuffer::ReadDotBlock(std::string& block,
                                                                 BlockState& state) {
    if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof()))
        return BlockResult::End;
    const char* begin = gptr();
    const char* end = egptr();
    const char* at = begin;
    // Inside a line only the line feed matters; at a line's start, a "." that is the whole
    // line (with or without its CR) ends the block.
    while (at < end) {
        if (state == BlockState::InLine) {
            // Only a line that starts with a dot can end the block.
            const char* lf = FindLineFeedBefore(at, end, '.');
            if (lf == nullptr) {
                state = end[-1] == '\n' ? BlockState::LineStart : BlockState::InLine;
                at = end;
                break;
            }
            at = lf + 2;
            state = BlockState::Dot;
            continue;
        }
        const char c = *at++;
        if (state == BlockState::LineStart) {
            state = c == '.'    ? BlockState::Dot
                    : c == '\n' ? BlockState::LineStart
                                : BlockState::InLine;
        } else if (state == BlockState::Dot && c == '\r') {
            state = BlockState::DotCr;
        } else if (c == '\n') {
            // ".\n" or ".\r\n": the end line, whose "." (and CR) were stored already.
            const size_t stored = state == BlockState::Dot ? 1 : 2;
            block.append(begin, static_cast<size_t>(at - begin));
            block.resize(block.size() - stored - 1);
            gbump(static_cast<int>(at - begin));
            state = BlockState::LineStart;
            return BlockResult::Done;
        } else {
            state = BlockState::InLine;
        }
    }
    block.append(begin, static_cast<size_t>(at - begin));
    gbump(static_cast<int>(at - begin));
    return BlockResult::More;
}

// ---------------------------------------------------------------------------------------------
// NntpSocket

NntpSocket::NntpSocket(SocketOptions options)
    : std::iostream(nullptr), options_(options), buffer_(handle_) {
    rdbuf(&buffer_);
}

NntpSocket::~NntpSocket() {
    Close();
}

void NntpSocket::Open(const std::string& host, int port, TlsOptions tls) {
    if (handle_.load() >= 0)
        Close();
    open_error_.clear();

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (port < 0 || port > 65535 ||
        ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        if (found)
            ::freeaddrinfo(found);
        LogLine("cannot resolve remote host!\n");
        return;
    }

    bool created = false;
    bool bind_failed = false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        created = true;
        sockaddr_storage local{};
        local.ss_family = static_cast<sa_family_t>(a->ai_family);
        socklen_t local_size =
            a->ai_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), local_size) != 0) {
            ::close(fd);
            bind_failed = true;
            continue;
        }
        {
            // Published before connecting, so a stop can abort a slow connect.
            std::lock_guard lock(shutdown_mutex_);
            handle_.store(fd);
        }
        int rc;
        do {
            rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        } while (rc != 0 && errno == EINTR);
        if (rc == 0)
            break;
        {
            std::lock_guard lock(shutdown_mutex_);
            handle_.store(-1);
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);

    int fd = handle_.load();
    if (fd < 0) {
        if (bind_failed)
            LogLine("bind error!\n");
        else if (created)
            LogLine("conecction error!\n");
        return;
    }
    timeval timeout{};
    timeout.tv_sec = options_.timeout_seconds;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    if (!tls.enabled)
        return;
    auto channel = std::make_unique<TlsChannel>();
    open_error_ = channel->Handshake(fd, host, tls.verify);
    if (!open_error_.empty()) {
        LogLine("%s\n", open_error_.c_str());
        channel.reset();
        CloseDescriptor();
        return;
    }
    tls_ = std::move(channel);
    buffer_.SetTls(tls_.get());
}

void NntpSocket::CloseDescriptor() {
    std::lock_guard lock(shutdown_mutex_);
    // The descriptor is released even when close reports an error; keeping the number
    // would risk closing a reused one later.
    if (::close(handle_.load()) != 0)
        LogLine("cannot close the socket!\n");
    handle_.store(-1);
}

void NntpSocket::Close() {
    if (handle_.load() >= 0) {
        const bool graceful = options_.gracefully && good();
        if (graceful) {
            *this << "QUIT\r" << std::endl;
        }
        if (tls_) {
            tls_->Close(graceful && good());
            buffer_.SetTls(nullptr);
            tls_.reset();
        }
        CloseDescriptor();
    }
    LogLine("Socket closed!\n");
}

void NntpSocket::Shutdown() {
    std::lock_guard lock(shutdown_mutex_);
    int fd = handle_.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

namespace {

size_t LineLimit(size_t size, LineMode mode) {
    return mode == LineMode::Whole ? kWholeLineLimit : (size > 0 ? size - 1 : 0);
}

}  // namespace

bool NntpSocket::LineRead(SocketStreamBuffer::LineResult result, bool nothing_read) {
    switch (result) {
        case SocketStreamBuffer::LineResult::Line:
            return true;
        case SocketStreamBuffer::LineResult::TooLong:
            setstate(std::ios::failbit);
            return false;
        case SocketStreamBuffer::LineResult::End:
            setstate(nothing_read ? std::ios::eofbit | std::ios::failbit : std::ios::eofbit);
            return false;
    }
    return false;
}

bool NntpSocket::ReadLine(std::string& line, size_t size, LineMode mode) {
    line.clear();
    if (!good())
        return false;
    const SocketStreamBuffer::LineResult result = buffer_.ReadLine(line, LineLimit(size, mode));
    return LineRead(result, line.empty());
}

NntpSocket::BlockResult NntpSocket::ReadDotBlock(std::string& block, BlockState& state) {
    if (!good())
        return BlockResult::End;
    const BlockResult result = buffer_.ReadDotBlock(block, state);
    if (result == BlockResult::End)
        setstate(std::ios::eofbit);
    return result;
}

bool NntpSocket::ReadLineInPlace(std::string_view& line, std::string& spill, size_t size,
                                 LineMode mode) {
    line = {};
    spill.clear();
    if (!good())
        return false;
    const SocketStreamBuffer::LineResult result =
        buffer_.ReadLineInPlace(line, spill, LineLimit(size, mode));
    return LineRead(result, line.empty());
}

bool NntpSocket::ReadLine(char* buffer, size_t size) {
    if (size == 0)
        return false;
    std::string line;
    bool complete = ReadLine(line, size);
    std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = '\0';
    return complete;
}

void NntpSocket::SendCommand(std::string_view command) {
    if (!good())
        return;
    write(command.data(), static_cast<std::streamsize>(command.size()));
    *this << '\r' << std::endl;
}

void NntpSocket::SendPipelinedCommand(std::string_view command) {
    buffer_.KeepInputAtNextSync();
    SendCommand(command);
}

}  // namespace qs
