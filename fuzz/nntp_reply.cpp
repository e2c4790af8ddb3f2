// Reply lines as the socket stream cuts them out of what a server sends, read through a
// socketpair, and the reply code of each. Input: one byte choosing the line limit, then the
// bytes the server sends.
//
// Invariants: the lines, their lengths and results are exactly those of a plain split of the
// input at "\n" with the same limit (nothing lost, nothing read twice, never more than the
// limit); a line starting with three digits and a blank has that reply code.

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "nntp/nntp_socket.h"
#include "nntp/session.h"

namespace {

using namespace qs;
using LineResult = SocketStreamBuffer::LineResult;

// The reference: the same cut made on the whole input at once.
LineResult ReferenceLine(std::string_view& rest, size_t limit, std::string& line) {
    const size_t lf = rest.find('\n');
    const size_t length = lf == std::string_view::npos ? rest.size() : lf;
    if (length > limit) {
        line.assign(rest.substr(0, limit));
        rest.remove_prefix(limit);
        return LineResult::TooLong;
    }
    line.assign(rest.substr(0, length));
    if (lf == std::string_view::npos) {
        rest = {};
        return LineResult::End;
    }
    rest.remove_prefix(lf + 1);
    return LineResult::Line;
}

void CheckReplyCode(std::string_view line) {
    const int code = ReplyCode(line);
    if (line.size() >= 4 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' &&
        line[2] >= '0' && line[2] <= '9' && line[3] == ' ')
        QS_FUZZ_CHECK(code == (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
    if (line.empty())
        QS_FUZZ_CHECK(code == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // What fits the socketpair's buffer at once, so one thread writes it all before reading.
    if (size == 0 || size > 96 * 1024)
        return 0;
    static constexpr size_t kLimits[] = {0,
                                         1,
                                         2,
                                         3,
                                         4,
                                         7,
                                         8,
                                         999,
                                         kReplyBufferSize - 1,
                                         4096,
                                         SocketStreamBuffer::kGetSize - 1,
                                         SocketStreamBuffer::kGetSize,
                                         SocketStreamBuffer::kGetSize + 1,
                                         kWholeLineLimit};
    const size_t limit = kLimits[data[0] % (sizeof kLimits / sizeof kLimits[0])];
    const std::string_view wire = fuzz::AsText(data + 1, size - 1);

    int fds[2];
    QS_FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    int buffer_size = 256 * 1024;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer_size, sizeof buffer_size);
    setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
    size_t sent = 0;
    while (sent < wire.size()) {
        const ssize_t n = ::send(fds[1], wire.data() + sent, wire.size() - sent, 0);
        QS_FUZZ_CHECK(n > 0);
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);

    {
        std::atomic<int> handle{fds[0]};
        SocketStreamBuffer stream(handle);
        std::string_view rest = wire;
        std::string line;
        std::string expected;
        for (;;) {
            const LineResult got = stream.ReadLine(line, limit);
            const LineResult want = ReferenceLine(rest, limit, expected);
            QS_FUZZ_CHECK(got == want);
            QS_FUZZ_CHECK(line == expected);
            QS_FUZZ_CHECK(line.size() <= limit);
            CheckReplyCode(line);
            if (got == LineResult::End)
                break;
            // A limit of 0 makes no progress on a line that does not end at once.
            if (got == LineResult::TooLong && limit == 0)
                break;
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
