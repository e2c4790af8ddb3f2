#include "nntp/session.h"

#include <algorithm>
#include <optional>

#include "app/debug_log.h"

namespace qs {

int ReplyCode(std::string_view line) {
    // Like "%d": leading blanks, an optional sign, then digits; no undefined overflow.
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' ||
                               line[i] == '\n' || line[i] == '\v' || line[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        negative = line[i++] == '-';
    if (i >= line.size() || line[i] < '0' || line[i] > '9')
        return -1;
    long value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        if (value < 1000000000L)
            value = value * 10 + (line[i] - '0');
    }
    if (value > 999999999L)
        value = 999999999L;
    return static_cast<int>(negative ? -value : value);
}

namespace {

// Any 4xx or 5xx reply to AUTHINFO refuses the login (481 and 482 included, RFC 4643);
// 281 accepts it and 381 asks for the password.
bool LoginRefused(int code) {
    return code >= 400 && code <= 599;
}

// One attempt on `server`; returns the error text when it failed.
std::optional<std::string> Attempt(NntpSocket& connection, const ServerEntry& server) {
    LogLine("CONNECT!\n");
    connection.Open(server.host, server.port);
    if (!connection.is_open())
        return "Cannot open socket.";

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
    return error;
}

}  // namespace

std::unique_ptr<NntpSocket> ConnectToServer(WorkerState& state, int slot_index, StatusText* status,
                                            bool single_attempt) {
    ThreadSlot& slot = state.slot(slot_index);
    const std::vector<ServerEntry>& servers = state.settings().servers;
    if (servers.empty()) {
        if (Host* host = state.host())
            host->ShowMessage("No newsservers selected, go to Options->News Servers!",
                              Host::Icon::Stop);
        return nullptr;
    }
    const int count = static_cast<int>(servers.size());
    // Without single_attempt the ring is walked ConnectionRetries times at most, so a worker
    // facing only dead servers gives up instead of trying for ever.
    const int rounds = std::max(1, state.settings().ConnectionRetries);
    int failed_attempts = 0;

    for (;;) {
        auto connection = std::make_unique<NntpSocket>(state.socket_options());
        slot.AttachConnection(connection.get());

        int index = slot.server_index.load();
        if (index < 0 || index >= count)
            index = 0;
        const ServerEntry& server = servers[static_cast<size_t>(index)];
        if (status)
            status->Set(server.host + ":Connecting...");

        std::optional<std::string> error = Attempt(*connection, server);
        if (!error)
            return connection;

        int next = index + 1 >= count ? 0 : index + 1;
        slot.server_index.store(next);
        bool stop = false;
        if (status) {
            status->Set(server.host + ":Connect Failed!! " + *error);
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, std::chrono::milliseconds(2000));
            status->Set(servers[static_cast<size_t>(next)].host + ":Trying news server...");
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
        if (single_attempt || ++failed_attempts >= rounds * count)
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
