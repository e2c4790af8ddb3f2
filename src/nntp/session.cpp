#include "nntp/session.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "app/debug_log.h"
#include "app/number_reader.h"
#include "app/text_util.h"

namespace qs {

int ReplyCode(std::string_view line) {
    size_t pos = 0;
    int code = 0;
    return scanf_reader::ReadInt(line, pos, code) ? code : -1;
}

namespace {

// Any 4xx or 5xx reply to AUTHINFO refuses the login (481 and 482 included, RFC 4643);
// 281 accepts it and 381 asks for the password.
bool LoginRefused(int code) {
    return code >= 400 && code <= 599;
}

// Whether the CAPABILITIES reply offers COMPRESS with the DEFLATE algorithm. The reply is
// read to its end either way.
bool OffersDeflate(NntpSocket& connection) {
    connection.SendCommand("CAPABILITIES");
    std::string line;
    if (!connection.ReadLine(line) || ReplyCode(line) != 101)
        return false;
    bool offered = false;
    while (connection.ReadLine(line, kReplyBufferSize, LineMode::Whole)) {
        line = WithoutLineEnd(line);
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

// "COMPRESS DEFLATE" when the server offers it; the connection is left uncompressed when
// it does not or refuses, and fails only when the stream broke on the way.
void NegotiateCompression(NntpSocket& connection) {
    if (!OffersDeflate(connection) || !connection.good())
        return;
    connection.SendCommand("COMPRESS DEFLATE");
    std::string line;
    connection.ReadLine(line);
    if (ReplyCode(line) == 206 && connection.StartCompression())
        LogLine("Compression on\n");
}

// One attempt on `server`; returns the error text when it failed.
std::optional<std::string> Attempt(NntpSocket& connection, const ServerEntry& server) {
    LogLine("CONNECT!\n");
    connection.Open(server.host, server.port, TlsOptionsOf(server));
    if (!connection.is_open())
        return connection.open_error().empty() ? "Cannot open socket." : connection.open_error();

    std::string line;
    connection.ReadLine(line);
    LogLine("Connect string: %s\n", line.c_str());
    int code = ReplyCode(line);
    if (code != 200 && code != 201)
        return line;

    // Servers that also take feeds answer reader commands with 401 until they hear this.
    // It comes before any login, as RFC 4643 forbids it after authentication.
    std::string mode_reply;
    connection.SendCommand("MODE READER");
    connection.ReadLine(mode_reply);

    std::optional<std::string> error;
    if (!server.user.empty()) {
        connection.SendCommand("AUTHINFO USER " + server.user);
        connection.ReadLine(line);
        code = ReplyCode(line);
        if (LoginRefused(code)) {
            error = line;
        } else if (code != 281) {
            connection.SendCommand("AUTHINFO PASS " + server.password);
            connection.ReadLine(line);
            if (LoginRefused(ReplyCode(line)))
                error = line;
        }
    }
    LogLine("Reply: %s\n", line.c_str());
    if (!error && server.compress)
        NegotiateCompression(connection);
    return error;
}

}  // namespace

TlsOptions TlsOptionsOf(const ServerEntry& server) {
    TlsOptions tls;
    tls.enabled = server.ssl != 0;
    tls.verify = static_cast<TlsVerify>(std::clamp(server.verify, 0, 2));
    return tls;
}

SlotConnection ConnectToServer(WorkerState& state, int slot_index, ServerRotation& rotation,
                               StatusText* status, bool single_attempt) {
    ThreadSlot& slot = state.slot(slot_index);
    if (rotation.count() == 0) {
        if (Host* host = state.host())
            host->ShowMessage("No newsservers selected, go to Options->News Servers!",
                              Host::Icon::Stop);
        return nullptr;
    }
    // Without single_attempt the ring is walked ConnectionRetries times at most, so a worker
    // facing only dead servers gives up instead of trying for ever.
    const int attempts = rotation.connect_attempts();
    const SocketOptions options = SocketOptionsFrom(rotation.settings());
    int failed_attempts = 0;

    for (;;) {
        SlotConnection connection(new NntpSocket(options), SlotConnectionRelease{&slot});
        slot.AttachConnection(connection.get());

        const ServerEntry& server = *rotation.current();
        if (status)
            status->Set(server.host + ":Connecting...");

        std::optional<std::string> error = Attempt(*connection, server);
        if (!error) {
            // A stop that came while the socket was not open yet had nothing to shut down:
            // it is seen here, before the connection is used.
            if (slot.stop_requested()) {
                if (status)
                    status->Set("Stopped.");
                return nullptr;
            }
            return connection;
        }

        rotation.SetLastError(server.host, WithoutLineEnd(*error));
        rotation.Next();
        bool stop = false;
        if (status) {
            status->Set(server.host + ":Connect Failed!! " + *error);
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, std::chrono::milliseconds(2000));
            status->Set(rotation.host() + ":Trying news server...");
            if (!state.downloading())
                stop = true;
            else
                state.SleepUnlessStopped(slot_index, std::chrono::milliseconds(1000));
        }
        if (stop || !state.ShouldContinue(slot_index)) {
            if (status)
                status->Set("Stopped.");
            return nullptr;
        }
        connection.reset();
        if (single_attempt || ++failed_attempts >= attempts)
            return nullptr;
    }
}

bool SelectGroup(NntpSocket& connection, const std::string& group) {
    connection.SendCommand("GROUP " + group);
    std::string line;
    connection.ReadLine(line);
    // The count and the article numbers after the code are not needed here.
    return ReplyCode(line) == 211;
}

}  // namespace qs
