// The CAPABILITIES reply a server gives after the login and the COMPRESS DEFLATE stream that
// follows when it offers compression, through a real connection to a loopback peer that
// answers each command. Input: two bytes (little-endian) giving the length of the
// CAPABILITIES reply, the reply, then the raw deflate bytes the peer sends once compression
// is on. Before that, the bytes are compressed and inflated again through DeflateStream.
//
// Invariants: compression is switched on exactly when the reply is a 101 that ends with "."
// and has a COMPRESS line naming DEFLATE; every line read from the compressed stream is the
// next line zlib makes of the bytes sent, and a stream zlib reads without error gives every
// line; compressing and inflating gives the bytes back.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "app/text_util.h"
#include "fuzz_support.h"
#include "nntp/deflate_stream.h"
#include "nntp/server_rotation.h"
#include "nntp/session.h"
#include "nntp/worker_state.h"

namespace {

using namespace qs;

void SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data.remove_prefix(static_cast<size_t>(n));
    }
}

// The next command line the client sent; false when it closed. After compression starts,
// any bytes at all count as a command.
bool ReceiveCommand(int fd, std::string& pending, std::string& line, bool raw) {
    for (;;) {
        const size_t lf = pending.find('\n');
        if (raw && !pending.empty()) {
            line = pending;
            pending.clear();
            return true;
        }
        if (!raw && lf != std::string::npos) {
            line = WithoutLineEnd(pending.substr(0, lf));
            pending.erase(0, lf + 1);
            return true;
        }
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

// The capabilities text up to and including its "." line; `terminated` says whether it has one.
std::string_view UpToTerminator(std::string_view text, bool& terminated) {
    terminated = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos)
            break;
        if (start > 0 && WithoutLineEnd(text.substr(start, lf - start)) == ".") {
            terminated = true;
            return text.substr(0, lf + 1);
        }
        start = lf + 1;
    }
    return text;
}

// The peer: a greeting, 200 to MODE READER, the capabilities, 206 to COMPRESS DEFLATE and
// then the payload for whatever command comes next.
void Serve(int listener, std::string_view capabilities, std::string_view payload) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    std::string pending;
    std::string command;
    bool terminated = false;
    const std::string_view reply = UpToTerminator(capabilities, terminated);
    SendAll(fd, "200 fuzz peer ready\r\n");
    while (ReceiveCommand(fd, pending, command, false)) {
        if (command == "MODE READER") {
            SendAll(fd, "200 reader\r\n");
        } else if (command == "CAPABILITIES") {
            SendAll(fd, reply);
            if (!terminated)
                ::shutdown(fd, SHUT_WR);
        } else if (command == "COMPRESS DEFLATE") {
            SendAll(fd, "206 compression on\r\n");
            if (ReceiveCommand(fd, pending, command, true))
                SendAll(fd, payload);
            ::shutdown(fd, SHUT_WR);
        }
    }
    ::close(fd);
}

// What the client should conclude from the capabilities text.
bool OffersDeflate(std::string_view text) {
    size_t lf = text.find('\n');
    if (lf == std::string_view::npos || lf > kReplyBufferSize - 1 ||
        ReplyCode(text.substr(0, lf)) != 101)
        return false;
    text.remove_prefix(lf + 1);
    bool offered = false;
    while ((lf = text.find('\n')) != std::string_view::npos) {
        const std::string line = WithoutLineEnd(text.substr(0, lf));
        text.remove_prefix(lf + 1);
        if (line == ".")
            return offered;
        std::istringstream words(line);
        std::string word;
        if (words >> word && EqualsNoCase(word, "COMPRESS")) {
            while (words >> word)
                offered = offered || EqualsNoCase(word, "DEFLATE");
        }
    }
    return false;
}

// The text zlib makes of the payload in one go; `clean` when it read it without error.
std::string Inflated(std::string_view payload, bool& clean) {
    z_stream z{};
    QS_FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
    z.avail_in = static_cast<uInt>(payload.size());
    std::string out;
    int rc = Z_OK;
    while (rc == Z_OK) {
        char chunk[16384];
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_SYNC_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0))
            break;
    }
    clean = rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR;
    inflateEnd(&z);
    return out;
}

void CheckRoundTrip(std::string_view text, size_t chunk) {
    auto sender = DeflateStream::Create();
    auto receiver = DeflateStream::Create();
    QS_FUZZ_CHECK(sender && receiver);
    std::string wire;
    QS_FUZZ_CHECK(sender->Compress(text.data(), text.size(), true, wire));
    std::string_view left = wire;
    auto receive = [&](char* out, size_t size) -> ssize_t {
        const size_t n = std::min({size, chunk, left.size()});
        std::copy_n(left.data(), n, out);
        left.remove_prefix(n);
        return static_cast<ssize_t>(n);
    };
    std::string back;
    while (back.size() < text.size()) {
        char out[1000];
        const ssize_t n = receiver->Read(out, sizeof out, receive);
        QS_FUZZ_CHECK(n > 0);
        back.append(out, static_cast<size_t>(n));
    }
    QS_FUZZ_CHECK(back == text);
}

struct Peer {
    int listener = -1;
    int port = 0;
    SilentHost host;
    Peer() {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 4) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fuzz::Broken("no loopback listener", __FILE__, __LINE__);
        port = ntohs(address.sin_port);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 256 * 1024)
        return 0;
    static Peer peer;
    const size_t wanted = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8;
    const std::string_view rest = fuzz::AsText(data + 2, size - 2);
    const std::string_view capabilities = rest.substr(0, wanted);
    const std::string_view payload = rest.substr(capabilities.size());

    CheckRoundTrip(rest, 1 + data[0] % 64);

    auto settings = std::make_shared<Settings>();
    ServerEntry server;
    server.host = "127.0.0.1";
    server.port = peer.port;
    settings->servers.push_back(server);
    settings->SocketTimeout = 20;
    settings->SocketsGracefully = 0;
    WorkerState state(settings, &peer.host);
    ServerRotation rotation(state.slot(0), settings);

    std::thread serving(Serve, peer.listener, capabilities, payload);
    {
        SlotConnection connection = ConnectToServer(state, 0, rotation, nullptr, true);
        QS_FUZZ_CHECK(connection != nullptr);
        const bool offered = OffersDeflate(capabilities);
        QS_FUZZ_CHECK(connection->compressing() == offered);
        if (offered) {
            bool clean = false;
            std::string_view text;
            const std::string inflated = Inflated(payload, clean);
            text = inflated;
            connection->SendCommand("XOVER 1-2");
            std::string line;
            size_t lines = 0;
            while (connection->ReadLine(line, kReplyBufferSize, LineMode::Whole)) {
                const size_t lf = text.find('\n');
                QS_FUZZ_CHECK(lf != std::string_view::npos);
                QS_FUZZ_CHECK(line == text.substr(0, lf));
                text.remove_prefix(lf + 1);
                ++lines;
            }
            if (clean)
                QS_FUZZ_CHECK(text.find('\n') == std::string_view::npos);
            (void)lines;
        }
    }
    serving.join();
    return 0;
}
