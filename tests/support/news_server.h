#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace qs::test {

// Where an article stands in a corpus: the group's position in Groups() and its number.
struct ArticleKey {
    size_t group = 0;
    int64_t number = 0;
};

struct GroupInfo {
    std::string name;
    int64_t first = 1;
    int64_t last = 0;  // first > last: the group is empty
    int64_t count = 0;
};

// What a news server serves. Implementations are read by several connection threads at once.
class NewsCorpus {
  public:
    virtual ~NewsCorpus() = default;

    virtual std::vector<GroupInfo> Groups() const = 0;
    virtual std::optional<size_t> FindGroup(std::string_view name) const = 0;
    virtual bool Find(size_t group, int64_t number, ArticleKey& key) const = 0;
    // By message-id, with its angle brackets.
    virtual bool FindId(std::string_view message_id, ArticleKey& key) const = 0;

    virtual std::string MessageId(const ArticleKey& key) const = 0;
    // The header lines, each ended by CR LF, without the blank line after them.
    virtual void AppendHead(const ArticleKey& key, std::string& out) const = 0;
    // The body as it goes on the wire: CR LF lines, dot-stuffed, without the closing ".".
    virtual void AppendBody(const ArticleKey& key, std::string& out) const = 0;
    // The same body for a large article: appends to `out` like AppendBody, but may hand
    // `out` to `flush` on the way (which sends and empties it), so that the first bytes
    // travel while the rest is made. False when flush failed; the rest is then left out.
    virtual bool AppendBodyStreaming(const ArticleKey& key, std::string& out,
                                     const std::function<bool(std::string&)>& flush) const {
        (void)flush;
        AppendBody(key, out);
        return true;
    }
    // One overview line without CR LF: number, subject, from, date, message-id, references,
    // bytes and lines, separated by tabs.
    virtual void AppendOverview(const ArticleKey& key, std::string& out) const = 0;
    // A posted article (lines without CR LF, dot-stuffing removed). False refuses it; a kept
    // article sets `message_id` to the id it is served under.
    virtual bool Post(const std::vector<std::string>& lines, std::string& message_id) {
        (void)lines;
        (void)message_id;
        return true;
    }
};

// Appends text as wire-form lines: every "\n" (with or without a "\r" before it) becomes
// CR LF, lines starting with "." get another; a last line without "\n" is ended too.
void AppendWireLines(std::string_view text, std::string& out);

// A Date header value of a day ago: recent enough that no header expiry drops it.
std::string RecentDate();

// A corpus held in memory; tests fill it before or while serving.
class MemoryCorpus : public NewsCorpus {
  public:
    struct Article {
        std::string subject = "test article";
        std::string from = "Poster <poster@example.com>";
        std::string date = RecentDate();
        std::string message_id;  // generated when empty
        std::string references;
        std::vector<std::string> extra_headers;  // "Name: value"
        std::string body;                        // lines separated by "\n" or "\r\n"
    };

    // Adds an empty group whose first article will get number `first`.
    void AddGroup(const std::string& name, int64_t first = 1);
    // Adds the article to the group (created when missing); returns its number.
    int64_t Add(const std::string& group, Article article);
    // The articles received with POST.
    std::vector<std::vector<std::string>> posted() const;
    // A posted article is served in the first group it names that exists here; with this
    // set, a group it names that does not exist is made for it.
    void SetCreateGroupsOnPost(bool create) { create_groups_on_post_ = create; }

    std::vector<GroupInfo> Groups() const override;
    std::optional<size_t> FindGroup(std::string_view name) const override;
    bool Find(size_t group, int64_t number, ArticleKey& key) const override;
    bool FindId(std::string_view message_id, ArticleKey& key) const override;
    std::string MessageId(const ArticleKey& key) const override;
    void AppendHead(const ArticleKey& key, std::string& out) const override;
    void AppendBody(const ArticleKey& key, std::string& out) const override;
    void AppendOverview(const ArticleKey& key, std::string& out) const override;
    bool Post(const std::vector<std::string>& lines, std::string& message_id) override;

  private:
    struct Stored {
        Article article;
        std::string wire_body;
        int64_t lines = 0;
    };
    struct Group {
        std::string name;
        int64_t first = 1;
        std::vector<Stored> articles;
    };
    const Stored* Lookup(const ArticleKey& key) const;

    mutable std::mutex mutex_;
    std::vector<Group> groups_;
    std::map<std::string, ArticleKey> ids_;
    std::vector<std::vector<std::string>> posted_;
    std::atomic<bool> create_groups_on_post_ = false;
};

// One scripted answer.
struct Reply {
    std::string data;                          // bytes sent as they stand
    std::chrono::milliseconds delay{0};        // wait before the first byte
    size_t chunk = 0;                          // > 0: sent in pieces of this many bytes ...
    std::chrono::milliseconds chunk_pause{0};  // ... with this pause between them
    enum class After {
        Continue,  // read the next command
        Close,     // close the connection
        Silence,   // answer nothing more; the connection stays until the client goes
        Endless,   // send bytes without any line end until the client goes
    };
    After after = After::Continue;

    static Reply Line(std::string_view line);  // the line plus CR LF
    static Reply Raw(std::string data);
    // A status line, the data lines dot-stuffed, then ".".
    static Reply Multi(std::string_view status, const std::vector<std::string>& lines);
    static Reply Silence();
    static Reply Endless(std::string prefix = {});
    static Reply Close(std::string data = {});
    // `size` bytes of seeded noise (every byte value, line ends included), then a close.
    static Reply Junk(size_t size, uint32_t seed = 1);
};

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 0;  // 0: the kernel chooses
    // PEM files: when both are set, every connection speaks TLS from its first byte.
    std::string tls_certificate = {};
    std::string tls_key = {};
    // Offer "COMPRESS DEFLATE" in CAPABILITIES and take it.
    bool compress = false;
};

// A news server on a loopback port, one thread per connection. It answers from its corpus
// (RFC 3977 commands: MODE READER, GROUP, STAT, OVER/XOVER, HEAD, BODY, ARTICLE, LIST, POST,
// DATE, QUIT and AUTHINFO USER/PASS) unless a scripted reply for the command is set, and
// records every command line it receives.
class NewsServer {
  public:
    NewsServer();
    explicit NewsServer(ServerOptions options);
    ~NewsServer();
    NewsServer(const NewsServer&) = delete;
    NewsServer& operator=(const NewsServer&) = delete;

    const std::string& host() const { return options_.address; }
    int port() const { return port_; }

    // Replaces the corpus (by default an empty MemoryCorpus).
    void SetCorpus(std::shared_ptr<NewsCorpus> corpus);
    // The MemoryCorpus created with the server; null after SetCorpus.
    MemoryCorpus* memory_corpus() const { return memory_corpus_; }

    void SetGreeting(Reply greeting);
    // `command` is a verb ("BODY") or verb and first argument ("AUTHINFO PASS"), any case.
    // SetReply answers every such command; QueueReply answers the next one only (queued
    // replies come before the one set).
    void SetReply(std::string_view command, Reply reply);
    void QueueReply(std::string_view command, Reply reply);
    void ClearReplies();

    // Every command but AUTHINFO, MODE READER, DATE and QUIT is answered 480 until the
    // client logs in with these.
    void RequireLogin(std::string user, std::string password);
    // Before every reply.
    void SetReplyDelay(std::chrono::milliseconds delay);
    // A link with this round trip: each reply leaves that long after its command arrived,
    // while the commands behind it are already read (pipelined commands overlap).
    void SetLatency(std::chrono::milliseconds latency);
    // An overview reply leaves `lines` lines at a time, with `pause` after each batch: a
    // slow XOVER, so that a scan can be cut short midway.
    void SetOverviewPace(size_t lines, std::chrono::milliseconds pause);
    // Connections beyond this many open ones are greeted with 502 and closed (0: no limit).
    void SetConnectionLimit(size_t connections);
    // Waits until no connection within the limit is open; false when the time runs out.
    bool WaitForNoConnections(std::chrono::milliseconds timeout) const;
    // Each connection closes after it has sent this many bytes (-1: never).
    void SetDropAfterBytes(int64_t bytes);

    // Every command line received, without CR LF, in the order they came.
    std::vector<std::string> commands() const;
    void ClearCommands();
    // Waits until `count` command lines have come or the time runs out.
    bool WaitForCommands(size_t count, std::chrono::milliseconds timeout) const;
    int connections_accepted() const { return accepted_.load(); }
    // Bytes sent on every connection as they went on the wire (compressed when they were).
    int64_t wire_bytes_sent() const { return wire_bytes_sent_.load(); }

    // Stops listening and ends every connection; the destructor calls it.
    void Stop();

  private:
    struct Connection;
    void AcceptLoop();
    void Serve(int fd);
    bool SendAll(Connection& c, std::string_view data);
    // The built-in answer to one command; false ends the connection.
    bool Answer(Connection& c, const std::string& line, NewsCorpus& corpus,
                const std::function<bool(const Reply&)>& send,
                const std::function<bool(std::string&)>& read_line);
    std::optional<Reply> ScriptedReply(const std::string& line);
    void Record(const std::string& line);

    ServerOptions options_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int64_t> wire_bytes_sent_{0};
    std::thread acceptor_;

    mutable std::mutex mutex_;  // everything below
    mutable std::condition_variable commands_cv_;
    std::shared_ptr<NewsCorpus> corpus_;
    MemoryCorpus* memory_corpus_ = nullptr;
    std::shared_ptr<ssl_ctx_st> tls_context_;  // null: plain NNTP
    Reply greeting_;
    std::map<std::string, Reply> replies_;
    std::map<std::string, std::vector<Reply>> queued_;
    std::optional<std::pair<std::string, std::string>> login_;
    std::chrono::milliseconds reply_delay_{0};
    std::chrono::milliseconds latency_{0};
    int64_t drop_after_ = -1;
    size_t connection_limit_ = 0;
    size_t admitted_ = 0;  // connections served (not refused by the limit)
    size_t overview_pace_lines_ = 0;
    std::chrono::milliseconds overview_pace_{0};
    std::vector<std::string> commands_;
    std::set<int> open_fds_;
    std::vector<std::thread> workers_;
};

// A loopback port that nothing listens on (connections to it are refused).
int UnusedLoopbackPort();

}  // namespace qs::test
