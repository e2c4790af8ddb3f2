#include "support/news_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "nntp/deflate_stream.h"
#include "nntp/tls_socket_bio.h"

namespace qs::test {

namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::string NoTabs(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

bool ParseNumber(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

void AppendWireLines(std::string_view text, std::string& out) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        if (end > start && text[start] == '.')
            out += '.';
        out.append(text.substr(start, end - start));
        out += "\r\n";
        start = next;
    }
}

// ---------------------------------------------------------------------------------------------
// MemoryCorpus

void MemoryCorpus::AddGroup(const std::string& name, int64_t first) {
    std::lock_guard lock(mutex_);
    for (const Group& g : groups_) {
        if (g.name == name)
            return;
    }
    groups_.push_back(Group{name, first, {}});
}

std::string RecentDate() {
    const time_t when = time(nullptr) - 86400;
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &parts);
    return text;
}

int64_t MemoryCorpus::Add(const std::string& group, Article article) {
    AddGroup(group);
    std::lock_guard lock(mutex_);
    size_t index = 0;
    while (groups_[index].name != group)
        ++index;
    Group& g = groups_[index];
    int64_t number = g.first + static_cast<int64_t>(g.articles.size());
    if (article.message_id.empty())
        article.message_id = "<" + std::to_string(number) + "." + group + "@memory.test>";
    Stored stored;
    AppendWireLines(article.body, stored.wire_body);
    for (char c : stored.wire_body)
        stored.lines += c == '\n';
    ids_[article.message_id] = ArticleKey{index, number};
    stored.article = std::move(article);
    g.articles.push_back(std::move(stored));
    return number;
}

std::vector<std::vector<std::string>> MemoryCorpus::posted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

std::vector<GroupInfo> MemoryCorpus::Groups() const {
    std::lock_guard lock(mutex_);
    std::vector<GroupInfo> out;
    for (const Group& g : groups_) {
        auto n = static_cast<int64_t>(g.articles.size());
        out.push_back(GroupInfo{g.name, g.first, g.first + n - 1, n});
    }
    return out;
}

std::optional<size_t> MemoryCorpus::FindGroup(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < groups_.size(); ++i) {
        if (groups_[i].name == name)
            return i;
    }
    return std::nullopt;
}

const MemoryCorpus::Stored* MemoryCorpus::Lookup(const ArticleKey& key) const {
    if (key.group >= groups_.size())
        return nullptr;
    const Group& g = groups_[key.group];
    int64_t offset = key.number - g.first;
    if (offset < 0 || offset >= static_cast<int64_t>(g.articles.size()))
        return nullptr;
    return &g.articles[static_cast<size_t>(offset)];
}

bool MemoryCorpus::Find(size_t group, int64_t number, ArticleKey& key) const {
    std::lock_guard lock(mutex_);
    key = ArticleKey{group, number};
    return Lookup(key) != nullptr;
}

bool MemoryCorpus::FindId(std::string_view message_id, ArticleKey& key) const {
    std::lock_guard lock(mutex_);
    auto it = ids_.find(std::string(message_id));
    if (it == ids_.end())
        return false;
    key = it->second;
    return true;
}

std::string MemoryCorpus::MessageId(const ArticleKey& key) const {
    std::lock_guard lock(mutex_);
    const Stored* s = Lookup(key);
    return s ? s->article.message_id : std::string();
}

void MemoryCorpus::AppendHead(const ArticleKey& key, std::string& out) const {
    std::lock_guard lock(mutex_);
    const Stored* s = Lookup(key);
    if (!s)
        return;
    const Article& a = s->article;
    out += "Path: memory.test!not-for-mail\r\nFrom: " + a.from +
           "\r\nNewsgroups: " + groups_[key.group].name + "\r\nSubject: " + a.subject +
           "\r\nDate: " + a.date + "\r\nMessage-ID: " + a.message_id + "\r\n";
    if (!a.references.empty())
        out += "References: " + a.references + "\r\n";
    out += "Lines: " + std::to_string(s->lines) + "\r\n";
    for (const std::string& h : a.extra_headers)
        out += h + "\r\n";
}

void MemoryCorpus::AppendBody(const ArticleKey& key, std::string& out) const {
    std::lock_guard lock(mutex_);
    if (const Stored* s = Lookup(key))
        out += s->wire_body;
}

void MemoryCorpus::AppendOverview(const ArticleKey& key, std::string& out) const {
    std::lock_guard lock(mutex_);
    const Stored* s = Lookup(key);
    if (!s)
        return;
    const Article& a = s->article;
    out += std::to_string(key.number) + "\t" + NoTabs(a.subject) + "\t" + NoTabs(a.from) + "\t" +
           NoTabs(a.date) + "\t" + a.message_id + "\t" + NoTabs(a.references) + "\t" +
           std::to_string(s->wire_body.size()) + "\t" + std::to_string(s->lines);
}

bool MemoryCorpus::Post(const std::vector<std::string>& lines, std::string& message_id) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(lines);
    }
    // Serve it back in the first group it names that exists here.
    Article article;
    std::vector<std::string> groups;
    size_t i = 0;
    for (; i < lines.size() && !lines[i].empty(); ++i) {
        const std::string& h = lines[i];
        size_t colon = h.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = Upper(h.substr(0, colon));
        std::string value = h.substr(colon + 1);
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        if (name == "SUBJECT")
            article.subject = value;
        else if (name == "FROM")
            article.from = value;
        else if (name == "MESSAGE-ID")
            article.message_id = value;
        else if (name == "REFERENCES")
            article.references = value;
        else if (name == "DATE")
            article.date = value;
        else if (name == "NEWSGROUPS") {
            for (char& c : value) {
                if (c == ',')
                    c = ' ';
            }
            groups = Words(value);
        }
    }
    for (++i; i < lines.size(); ++i)
        article.body += lines[i] + "\n";
    for (const std::string& g : groups) {
        if (FindGroup(g) || create_groups_on_post_) {
            ArticleKey key;
            key.number = Add(g, std::move(article));
            key.group = *FindGroup(g);
            message_id = MessageId(key);
            break;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reply

Reply Reply::Line(std::string_view line) {
    return Raw(std::string(line) + "\r\n");
}

Reply Reply::Raw(std::string data) {
    Reply r;
    r.data = std::move(data);
    return r;
}

Reply Reply::Multi(std::string_view status, const std::vector<std::string>& lines) {
    Reply r = Line(status);
    for (const std::string& l : lines) {
        if (!l.empty() && l[0] == '.')
            r.data += '.';
        r.data += l + "\r\n";
    }
    r.data += ".\r\n";
    return r;
}

Reply Reply::Silence() {
    Reply r;
    r.after = After::Silence;
    return r;
}

Reply Reply::Endless(std::string prefix) {
    Reply r = Raw(std::move(prefix));
    r.after = After::Endless;
    return r;
}

Reply Reply::Close(std::string data) {
    Reply r = Raw(std::move(data));
    r.after = After::Close;
    return r;
}

Reply Reply::Junk(size_t size, uint32_t seed) {
    Reply r;
    r.data.resize(size);
    uint32_t x = seed ? seed : 1;
    for (char& c : r.data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xff);
    }
    r.after = After::Close;
    return r;
}

// ---------------------------------------------------------------------------------------------
// NewsServer

// The state of one client connection.
struct NewsServer::Connection {
    int fd = -1;
    SSL* ssl = nullptr;                      // set when the connection speaks TLS
    std::unique_ptr<DeflateStream> deflate;  // set after COMPRESS DEFLATE
    std::atomic<int64_t>* wire_bytes_sent = nullptr;
    std::string compressed;

    // Everything or nothing, as it goes on the wire.
    bool WireSend(const char* data, size_t size) {
        while (size > 0) {
            ssize_t n;
            if (ssl) {
                n = SSL_write(ssl, data, static_cast<int>(size));
            } else {
                do {
                    n = ::send(fd, data, size, MSG_NOSIGNAL);
                } while (n < 0 && errno == EINTR);
            }
            if (n <= 0)
                return false;
            if (wire_bytes_sent)
                wire_bytes_sent->fetch_add(n);
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    ssize_t WireReceive(char* data, size_t size) const {
        if (ssl)
            return SSL_read(ssl, data, static_cast<int>(size));
        ssize_t n;
        do {
            n = ::recv(fd, data, size, 0);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    // The text bytes sent (each call flushed through the compression), or -1.
    ssize_t Send(const char* data, size_t size) {
        if (deflate) {
            if (!deflate->Compress(data, size, true, compressed) ||
                !WireSend(compressed.data(), compressed.size()))
                return -1;
        } else if (!WireSend(data, size)) {
            return -1;
        }
        return static_cast<ssize_t>(size);
    }
    ssize_t Receive(char* data, size_t size) {
        if (!deflate)
            return WireReceive(data, size);
        return deflate->Read(data, size,
                             [this](char* in, size_t room) { return WireReceive(in, room); });
    }
    int64_t sent = 0;
    int64_t drop_after = -1;
    bool authenticated = false;
    std::string user;
    std::optional<size_t> group;
    int64_t current = 0;  // current article number, 0: none
    std::string in;       // received, not yet read
    size_t in_pos = 0;
    // When each whole line in `in` arrived, and when the line read last did.
    std::deque<std::chrono::steady_clock::time_point> arrivals;
    std::chrono::steady_clock::time_point arrival;

    // Received bytes wait in TLS or the inflater, where poll cannot see them.
    bool Buffered() const {
        return (ssl && SSL_pending(ssl) > 0) || (deflate && deflate->HasInput());
    }
    std::string out;  // reply being built
};

NewsServer::NewsServer() : NewsServer(ServerOptions{}) {}

NewsServer::NewsServer(ServerOptions options) : options_(std::move(options)) {
    auto memory = std::make_shared<MemoryCorpus>();
    memory_corpus_ = memory.get();
    corpus_ = memory;
    greeting_ = Reply::Line("200 Quillstream test server ready (posting ok)");
    if (!options_.tls_certificate.empty() && !options_.tls_key.empty()) {
        tls_context_.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
        if (!tls_context_ ||
            SSL_CTX_use_certificate_chain_file(tls_context_.get(),
                                               options_.tls_certificate.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls_context_.get(), options_.tls_key.c_str(),
                                        SSL_FILETYPE_PEM) != 1) {
            ERR_clear_error();
            throw std::runtime_error("cannot load the TLS certificate " + options_.tls_certificate +
                                     " and key " + options_.tls_key);
        }
    }

    bool v6 = options_.address.find(':') != std::string::npos;
    listen_fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0)
        throw std::runtime_error("socket failed");
    int on = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    socklen_t size;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(options_.port));
        size = sizeof *a;
        if (::inet_pton(AF_INET6, options_.address.c_str(), &a->sin6_addr) != 1)
            throw std::runtime_error("bad address " + options_.address);
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(options_.port));
        size = sizeof *a;
        if (::inet_pton(AF_INET, options_.address.c_str(), &a->sin_addr) != 1)
            throw std::runtime_error("bad address " + options_.address);
    }
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listen_fd_, 64) != 0) {
        int error = errno;
        ::close(listen_fd_);
        throw std::runtime_error(std::string("cannot listen: ") + std::strerror(error));
    }
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = v6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
               : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

NewsServer::~NewsServer() {
    Stop();
}

void NewsServer::Stop() {
    if (stopping_.exchange(true))
        return;
    ::shutdown(listen_fd_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    ::close(listen_fd_);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_fds_)
            ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (std::thread& t : workers)
        t.join();
}

void NewsServer::AcceptLoop() {
    while (!stopping_.load()) {
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        std::lock_guard lock(mutex_);
        if (stopping_.load()) {
            ::close(fd);
            break;
        }
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        open_fds_.insert(fd);
        accepted_.fetch_add(1);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void NewsServer::SetCorpus(std::shared_ptr<NewsCorpus> corpus) {
    std::lock_guard lock(mutex_);
    corpus_ = std::move(corpus);
    memory_corpus_ = nullptr;
}

void NewsServer::SetGreeting(Reply greeting) {
    std::lock_guard lock(mutex_);
    greeting_ = std::move(greeting);
}

void NewsServer::SetReply(std::string_view command, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[Upper(command)] = std::move(reply);
}

void NewsServer::QueueReply(std::string_view command, Reply reply) {
    std::lock_guard lock(mutex_);
    queued_[Upper(command)].push_back(std::move(reply));
}

void NewsServer::ClearReplies() {
    std::lock_guard lock(mutex_);
    replies_.clear();
    queued_.clear();
}

void NewsServer::RequireLogin(std::string user, std::string password) {
    std::lock_guard lock(mutex_);
    login_.emplace(std::move(user), std::move(password));
}

void NewsServer::SetLatency(std::chrono::milliseconds latency) {
    std::lock_guard lock(mutex_);
    latency_ = latency;
}

void NewsServer::SetOverviewPace(size_t lines, std::chrono::milliseconds pause) {
    std::lock_guard lock(mutex_);
    overview_pace_lines_ = lines;
    overview_pace_ = pause;
}

void NewsServer::SetConnectionLimit(size_t connections) {
    std::lock_guard lock(mutex_);
    connection_limit_ = connections;
}

bool NewsServer::WaitForNoConnections(std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (admitted_ == 0)
                return true;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void NewsServer::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    reply_delay_ = delay;
}

void NewsServer::SetDropAfterBytes(int64_t bytes) {
    std::lock_guard lock(mutex_);
    drop_after_ = bytes;
}

std::vector<std::string> NewsServer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

void NewsServer::ClearCommands() {
    std::lock_guard lock(mutex_);
    commands_.clear();
}

bool NewsServer::WaitForCommands(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return commands_cv_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

void NewsServer::Record(const std::string& line) {
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(line);
    }
    commands_cv_.notify_all();
}

std::optional<Reply> NewsServer::ScriptedReply(const std::string& line) {
    std::vector<std::string> words = Words(line);
    if (words.empty())
        return std::nullopt;
    std::vector<std::string> keys;
    if (words.size() > 1)
        keys.push_back(Upper(words[0] + " " + words[1]));
    keys.push_back(Upper(words[0]));
    std::lock_guard lock(mutex_);
    for (const std::string& key : keys) {
        auto q = queued_.find(key);
        if (q != queued_.end() && !q->second.empty()) {
            Reply r = std::move(q->second.front());
            q->second.erase(q->second.begin());
            return r;
        }
    }
    for (const std::string& key : keys) {
        auto r = replies_.find(key);
        if (r != replies_.end())
            return r->second;
    }
    return std::nullopt;
}

namespace {}  // namespace

// Sends as much of `data` as the drop limit allows; false when the connection must end.
bool NewsServer::SendAll(Connection& c, std::string_view data) {
    int64_t& sent = c.sent;
    const int64_t drop_after = c.drop_after;
    bool drop = false;
    if (drop_after >= 0 && sent + static_cast<int64_t>(data.size()) >= drop_after) {
        data = data.substr(0, static_cast<size_t>(drop_after - sent));
        drop = true;
    }
    while (!data.empty()) {
        ssize_t n = c.Send(data.data(), data.size());
        if (n <= 0)
            return false;
        sent += n;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return !drop;
}

void NewsServer::Serve(int fd) {
    Connection c;
    c.fd = fd;
    c.wire_bytes_sent = &wire_bytes_sent_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl(nullptr, SSL_free);
    if (tls_context_) {
        ssl.reset(SSL_new(tls_context_.get()));
        BIO* bio = ssl ? NewSocketBio(fd) : nullptr;
        if (bio)
            SSL_set_bio(ssl.get(), bio, bio);
        if (!bio || SSL_accept(ssl.get()) != 1) {
            // A client that refuses the certificate ends here.
            ERR_clear_error();
            std::lock_guard lock(mutex_);
            open_fds_.erase(fd);
            ::close(fd);
            return;
        }
        c.ssl = ssl.get();
    }
    std::shared_ptr<NewsCorpus> corpus;
    Reply greeting;
    std::chrono::milliseconds delay;
    bool admitted = false;
    {
        std::lock_guard lock(mutex_);
        c.drop_after = drop_after_;
        greeting = greeting_;
        delay = reply_delay_;
        if (connection_limit_ > 0 && admitted_ >= connection_limit_)
            greeting = Reply::Close("502 Too many connections\r\n");
        else
            admitted = ++admitted_ > 0;
    }
    struct Admission {
        NewsServer& server;
        bool admitted;
        ~Admission() {
            if (admitted) {
                std::lock_guard lock(server.mutex_);
                --server.admitted_;
            }
        }
    } admission{*this, admitted};

    auto pause = [this](std::chrono::milliseconds d) {
        auto until = std::chrono::steady_clock::now() + d;
        while (!stopping_.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    // Sends a reply and carries out what comes after it; false ends the connection.
    auto send_reply = [&](const Reply& r) {
        pause(delay + r.delay);
        std::string_view data = r.data;
        size_t chunk = r.chunk ? r.chunk : data.size();
        while (!data.empty()) {
            std::string_view piece = data.substr(0, chunk);
            if (!SendAll(c, piece))
                return false;
            data.remove_prefix(piece.size());
            if (!data.empty())
                pause(r.chunk_pause);
        }
        switch (r.after) {
            case Reply::After::Continue:
                return true;
            case Reply::After::Close:
                return false;
            case Reply::After::Silence: {
                char sink[4096];
                while (!stopping_.load() && c.Receive(sink, sizeof sink) > 0) {
                }
                return false;
            }
            case Reply::After::Endless: {
                std::string block(65536, 'x');
                while (!stopping_.load() && SendAll(c, block)) {
                }
                return false;
            }
        }
        return false;
    };
    // Reads what the client sent next, noting when each whole line came.
    auto receive_more = [&] {
        c.in.erase(0, c.in_pos);
        c.in_pos = 0;
        char buffer[65536];
        ssize_t n = c.Receive(buffer, sizeof buffer);
        if (n <= 0)
            return false;
        const auto now = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n')
                c.arrivals.push_back(now);
        }
        c.in.append(buffer, static_cast<size_t>(n));
        return true;
    };
    // The next line from the client without CR LF; false when the client is gone.
    auto read_line = [&](std::string& line) {
        for (;;) {
            size_t lf = c.in.find('\n', c.in_pos);
            if (lf != std::string::npos) {
                line.assign(c.in, c.in_pos, lf - c.in_pos);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                c.in_pos = lf + 1;
                c.arrival =
                    c.arrivals.empty() ? std::chrono::steady_clock::now() : c.arrivals.front();
                if (!c.arrivals.empty())
                    c.arrivals.pop_front();
                return true;
            }
            if (c.in.size() - c.in_pos > 65536)
                return false;  // no line is that long
            if (!receive_more())
                return false;
        }
    };
    // Waits until `until`, reading the commands that come meanwhile so that their arrival
    // is known; false when the client is gone.
    auto wait_reading = [&](std::chrono::steady_clock::time_point until) {
        for (;;) {
            auto now = std::chrono::steady_clock::now();
            if (now >= until || stopping_.load())
                return true;
            if (c.Buffered()) {
                if (!receive_more())
                    return false;
                continue;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count() + 1, 20)));
            if (ready > 0 && !receive_more())
                return false;
        }
    };

    bool alive = send_reply(greeting);
    std::string line;
    while (alive && !stopping_.load() && read_line(line)) {
        Record(line);
        std::chrono::milliseconds latency;
        {
            std::lock_guard lock(mutex_);
            latency = latency_;
        }
        if (latency.count() > 0 && !wait_reading(c.arrival + latency))
            break;
        if (std::optional<Reply> scripted = ScriptedReply(line)) {
            alive = send_reply(*scripted);
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            corpus = corpus_;
            delay = reply_delay_;
        }
        alive = Answer(c, line, *corpus, send_reply, read_line);
    }

    if (c.ssl && !stopping_.load())
        SSL_shutdown(c.ssl);
    ERR_clear_error();
    std::lock_guard lock(mutex_);
    open_fds_.erase(fd);
    ::close(fd);
}

}  // namespace qs::test

namespace qs::test {

bool NewsServer::Answer(Connection& c, const std::string& line, NewsCorpus& corpus,
                        const std::function<bool(const Reply&)>& send,
                        const std::function<bool(std::string&)>& read_line) {
    std::vector<std::string> words = Words(line);
    std::string verb = words.empty() ? std::string() : Upper(words[0]);
    std::string arg = words.size() > 1 ? words[1] : std::string();
    auto say = [&](std::string_view text) { return send(Reply::Line(text)); };
    // Sends the reply built in c.out, keeping the buffer for the next one.
    auto send_out = [&] {
        Reply r;
        r.data.swap(c.out);
        bool ok = send(r);
        c.out.swap(r.data);
        c.out.clear();
        return ok;
    };

    std::optional<std::pair<std::string, std::string>> login;
    {
        std::lock_guard lock(mutex_);
        login = login_;
    }
    if (verb == "QUIT") {
        say("205 closing connection");
        return false;
    }
    if (verb == "AUTHINFO") {
        std::string what = Upper(arg);
        std::string value = words.size() > 2 ? line.substr(line.find(words[2])) : std::string();
        if (what == "USER") {
            c.user = value;
            return say("381 Password required");
        }
        if (what == "PASS") {
            if (c.user.empty() && login)
                return say("482 Authentication commands issued out of sequence");
            if (!login || (c.user == login->first && value == login->second)) {
                c.authenticated = true;
                return say("281 Authentication accepted");
            }
            return say("481 Authentication failed");
        }
        return say("501 Syntax error");
    }
    if (verb == "DATE") {
        std::time_t now = std::time(nullptr);
        std::tm t{};
        gmtime_r(&now, &t);
        char text[32];
        std::strftime(text, sizeof text, "111 %Y%m%d%H%M%S", &t);
        return say(text);
    }
    if (verb == "MODE")
        return say(Upper(arg) == "READER" ? "200 Posting allowed" : "501 Unknown MODE variant");
    if (verb == "CAPABILITIES") {
        std::vector<std::string> capabilities = {"VERSION 2", "READER", "OVER", "POST",
                                                 "AUTHINFO USER"};
        if (options_.compress)
            capabilities.push_back("COMPRESS DEFLATE");
        return send(Reply::Multi("101 Capability list:", capabilities));
    }
    if (login && !c.authenticated)
        return say("480 Authentication required");
    if (verb == "COMPRESS" && options_.compress) {
        if (Upper(arg) != "DEFLATE")
            return say("503 Compression algorithm not supported");
        if (c.deflate)
            return say("502 Command unavailable");
        // The reply goes out as it is; everything after it is compressed both ways.
        if (!say("206 Compression active"))
            return false;
        c.deflate = DeflateStream::Create();
        return c.deflate != nullptr;
    }

    if (verb == "GROUP") {
        std::optional<size_t> g = corpus.FindGroup(arg);
        if (!g)
            return say("411 No such group " + arg);
        GroupInfo info = corpus.Groups()[*g];
        c.group = g;
        c.current = info.count > 0 ? info.first : 0;
        return say("211 " + std::to_string(info.count) + " " + std::to_string(info.first) + " " +
                   std::to_string(info.last) + " " + info.name);
    }
    if (verb == "LIST") {
        std::string what = arg.empty() ? "ACTIVE" : Upper(arg);
        c.out.clear();
        if (what == "ACTIVE") {
            c.out += "215 list of newsgroups follows\r\n";
            for (const GroupInfo& g : corpus.Groups()) {
                c.out += g.name + " " + std::to_string(g.last) + " " + std::to_string(g.first) +
                         " y\r\n";
            }
        } else if (what == "NEWSGROUPS") {
            c.out += "215 information follows\r\n";
            for (const GroupInfo& g : corpus.Groups())
                c.out += g.name + "\tTest group " + g.name + "\r\n";
        } else if (what == "OVERVIEW.FMT") {
            c.out +=
                "215 Order of fields in overview database.\r\nSubject:\r\nFrom:\r\nDate:\r\n"
                "Message-ID:\r\nReferences:\r\n:bytes\r\n:lines\r\n";
        } else {
            return say("501 Unknown LIST keyword");
        }
        c.out += ".\r\n";
        return send_out();
    }
    if (verb == "POST") {
        if (!say("340 Send article to be posted. End with <CR-LF>.<CR-LF>"))
            return false;
        std::vector<std::string> article;
        std::string text;
        for (;;) {
            if (!read_line(text))
                return false;
            if (text == ".")
                break;
            if (text.size() > 1 && text[0] == '.')
                text.erase(0, 1);
            article.push_back(text);
        }
        std::string message_id;
        if (!corpus.Post(article, message_id))
            return say("441 Posting failed");
        return say("240 Article received " + (message_id.empty() ? "OK" : message_id));
    }
    if (verb == "XOVER" || verb == "OVER") {
        if (!c.group)
            return say("412 No newsgroup selected");
        GroupInfo info = corpus.Groups()[*c.group];
        int64_t low = c.current, high = c.current;
        if (!arg.empty()) {
            size_t dash = arg.find('-');
            if (!ParseNumber(arg.substr(0, dash), low))
                return say("501 Syntax error");
            if (dash == std::string::npos)
                high = low;
            else if (dash + 1 == arg.size())
                high = info.last;
            else if (!ParseNumber(arg.substr(dash + 1), high))
                return say("501 Syntax error");
        } else if (c.current == 0) {
            return say("420 No current article selected");
        }
        if (low < info.first)
            low = info.first;
        if (high > info.last)
            high = info.last;
        c.out = "224 Overview information follows\r\n";
        size_t pace_lines = 0;
        std::chrono::milliseconds pace{0};
        {
            std::lock_guard lock(mutex_);
            pace_lines = overview_pace_lines_;
            pace = overview_pace_;
        }
        bool any = false;
        size_t lines = 0;
        for (int64_t n = low; n <= high; ++n) {
            ArticleKey key;
            if (!corpus.Find(*c.group, n, key))
                continue;
            any = true;
            corpus.AppendOverview(key, c.out);
            c.out += "\r\n";
            const bool paced = pace_lines > 0 && ++lines % pace_lines == 0;
            if (paced || c.out.size() > (1u << 20)) {
                Reply r;
                r.data.swap(c.out);
                if (!send(r))
                    return false;
                c.out.swap(r.data);
                c.out.clear();
                if (paced) {
                    std::this_thread::sleep_for(pace);
                    if (stopping_)
                        return false;
                }
            }
        }
        if (!any) {
            c.out.clear();
            return say("423 No articles in that range");
        }
        c.out += ".\r\n";
        return send_out();
    }
    if (verb == "STAT" || verb == "HEAD" || verb == "BODY" || verb == "ARTICLE") {
        ArticleKey key;
        int64_t number = 0;
        if (!arg.empty() && arg[0] == '<') {
            if (!corpus.FindId(arg, key))
                return say("430 No article with that message-id");
        } else {
            if (!c.group)
                return say("412 No newsgroup selected");
            if (arg.empty()) {
                number = c.current;
                if (number == 0)
                    return say("420 Current article number is invalid");
            } else if (!ParseNumber(arg, number)) {
                return say("501 Syntax error");
            }
            if (!corpus.Find(*c.group, number, key))
                return say("423 No article with that number");
            c.current = number;
        }
        std::string id = corpus.MessageId(key);
        std::string tail = " " + std::to_string(number) + " " + id + "\r\n";
        // c.out keeps its capacity from one reply to the next: a body is built in place.
        c.out.clear();
        if (verb == "STAT") {
            c.out.append("223").append(tail);
        } else if (verb == "HEAD") {
            c.out.append("221").append(tail);
            corpus.AppendHead(key, c.out);
            c.out += ".\r\n";
        } else {
            c.out.append(verb == "BODY" ? "222" : "220").append(tail);
            if (verb == "ARTICLE") {
                corpus.AppendHead(key, c.out);
                c.out += "\r\n";
            }
            // A large body goes out in pieces while it is made: the first piece as a reply
            // (after the reply delay), the others straight after it.
            bool streamed = false;
            auto flush = [&](std::string& piece) {
                bool ok;
                if (!streamed) {
                    Reply r;
                    r.data.swap(piece);
                    ok = send(r);
                    piece.swap(r.data);
                } else {
                    ok = SendAll(c, piece);
                }
                streamed = true;
                piece.clear();
                return ok;
            };
            if (!corpus.AppendBodyStreaming(key, c.out, flush))
                return false;
            c.out += ".\r\n";
            if (streamed) {
                bool ok = SendAll(c, c.out);
                c.out.clear();
                return ok;
            }
        }
        return send_out();
    }
    return say("500 Unknown command");
}

int UnusedLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

}  // namespace qs::test
