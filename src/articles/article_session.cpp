#include "articles/article_session.h"

#include "app/debug_log.h"
#include "app/text_util.h"
#include "articles/article_text.h"
#include "nntp/nntp_socket.h"
#include "nntp/server_rotation.h"
#include "nntp/session.h"

namespace qs {

namespace {

constexpr const char* kRetrieveFailed = "Error retrieving article...";
constexpr const char* kPostFailed = "Error posting message!:\n";

void Tell(const ArticleStatus& status, ArticleRead& read, std::string text) {
    read.status = std::move(text);
    if (status)
        status(read.status);
}

// The lines after a 220 up to the closing ".", unstuffed, each ended by CR LF. Null when the
// article came whole, else why it did not: the connection ended first, a line did not fit
// the line buffer, or the article grew past the size limit.
const char* ReadArticleLines(NntpSocket& connection, std::string& text) {
    std::string line;
    while (connection.ReadLine(line)) {
        if (line.size() >= 2 && line[0] == '.' && line[1] == '\r')
            return nullptr;
        if (text.size() > kMaxArticleBytes)
            return kArticleTooLarge;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string_view content = line;
        if (content.starts_with(".."))
            content.remove_prefix(1);
        text.append(content).append("\r\n");
    }
    return "the connection ended early";
}

// The reply line for a message; a connection that ended gives none, so say that instead.
std::string ReplyText(const std::string& reply) {
    std::string text = WithoutLineEnd(reply);
    return text.empty() ? "the connection ended without a reply" : text;
}

}  // namespace

ArticleRead ReadArticleOn(WorkerState& state, int slot, const std::string& group,
                          const std::string& message_id, const ArticleStatus& status) {
    ArticleRead read;
    ServerRotation rotation(state.slot(slot), state.settings());
    const int servers = rotation.count();
    const bool set_group = rotation.settings().SetGroup != 0 && !group.empty();
    if (servers == 0) {
        ConnectToServer(state, slot, rotation, nullptr, true);  // tells the user why
        Tell(status, read, kRetrieveFailed);
        return read;
    }
    for (int attempts = 0; attempts < servers; ++attempts) {
        Tell(status, read, "Connecting to " + rotation.host() + "...");
        // A failed connect has moved the rotation on already; the other failures move it here,
        // so each attempt moves it once.
        SlotConnection connection = ConnectToServer(state, slot, rotation, nullptr, true);
        if (!connection) {
            Tell(status, read, "Error connecting...");
            continue;
        }
        if (set_group && !SelectGroup(*connection, group)) {
            Tell(status, read, "Error setting group...");
            connection.reset();
            rotation.Next();
            continue;
        }
        LogLine("Connected!\n");
        connection->SendCommand("ARTICLE " + message_id);
        std::string reply;
        connection->ReadLine(reply);
        LogLine("ERROR: %s\n", reply.c_str());
        if (ReplyCode(reply) != 220) {
            rotation.SetLastError(rotation.host(), WithoutLineEnd(reply));
            connection.reset();
            rotation.Next();
            continue;
        }
        Tell(status, read, "Reading...");
        std::string text;
        const char* cut_short = ReadArticleLines(*connection, text);
        read.ok = cut_short == nullptr;
        read.text = std::move(text);
        Tell(
            status, read,
            read.ok ? std::string("Ready...") : std::string("Error reading article: ") + cut_short);
        return read;
    }
    Tell(status, read, kRetrieveFailed);
    return read;
}

PostOutcome PostArticleOn(WorkerState& state, int slot, const std::string& article_text,
                          const ArticleStatus& status) {
    ServerRotation rotation(state.slot(slot), state.settings());
    SlotConnection connection = ConnectToServer(state, slot, rotation, nullptr, false);
    if (!connection) {
        if (rotation.count() == 0)
            return {false, "No newsservers selected, go to Options->News Servers!"};
        return {false, kPostFailed + rotation.last_error()};
    }
    LogLine("Connected!\n");
    if (status)
        status("Posting...");
    connection->SendCommand("POST");
    std::string reply;
    connection->ReadLine(reply);
    LogLine("ERROR: %s %d:error\n", reply.c_str(), ReplyCode(reply));
    if (ReplyCode(reply) != 340)
        return {false, kPostFailed + ReplyText(reply)};

    LogLine("text: %s\n", article_text.c_str());
    *connection << PostWireText(article_text);
    connection->flush();
    connection->ReadLine(reply);
    LogLine("buf: %s\n", reply.c_str());
    LogLine("ERROR: %s %d:error\n", reply.c_str(), ReplyCode(reply));
    if (ReplyCode(reply) != 240)
        return {false, kPostFailed + ReplyText(reply)};
    return {true, WithoutLineEnd(reply)};
}

}  // namespace qs
