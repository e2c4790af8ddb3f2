// quillstream-post: posts the corpus generated from a seed, or files given by name, to a
// news server with POST (RFC 3977), so a server nobody here wrote can serve them back.

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file_set.h"
#include "support/generated_corpus.h"

namespace {

using qs::test::ArticleKey;
using qs::test::GeneratedCorpus;
using qs::test::NewsCorpus;
using qs::test::PostedFileSet;

struct PostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A blocking NNTP connection that reads CR LF lines.
class Connection {
  public:
    Connection(const std::string& host, int port) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        std::string service = std::to_string(port);
        if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0)
            throw PostError(host + ": " + gai_strerror(rc));
        for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
            fd_ = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (fd_ >= 0 && connect(fd_, a->ai_addr, a->ai_addrlen) != 0) {
                close(fd_);
                fd_ = -1;
            }
        }
        freeaddrinfo(found);
        if (fd_ < 0)
            throw PostError("cannot connect to " + host + ":" + service);
        timeval timeout{60, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    ~Connection() {
        if (fd_ >= 0)
            close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Send(std::string_view data) {
        while (!data.empty()) {
            ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                throw PostError("connection lost while sending");
            data.remove_prefix(static_cast<size_t>(n));
        }
    }
    std::string ReadLine() {
        for (;;) {
            size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return line;
            }
            if (buffer_.size() > 65536)
                throw PostError("reply line too long");
            char chunk[4096];
            ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                throw PostError("connection closed by the server");
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Sends a command and returns the reply line; throws unless it starts with `expect`.
    std::string Command(const std::string& command, const char* expect) {
        Send(command + "\r\n");
        return Expect(command, expect);
    }
    std::string Expect(const std::string& what, const char* expect) {
        std::string reply = ReadLine();
        if (reply.rfind(expect, 0) != 0)
            throw PostError(what + ": " + reply);
        return reply;
    }

  private:
    int fd_ = -1;
    std::string buffer_;
};

struct Options {
    std::string host = "127.0.0.1";
    int port = 119;
    std::string user, password;
    int connections = 2;
};

void Login(Connection& c, const Options& o) {
    std::string greeting = c.ReadLine();
    if (greeting.rfind("200", 0) != 0 && greeting.rfind("201", 0) != 0)
        throw PostError("greeting: " + greeting);
    // A server that treats us as a peer only reads after MODE READER.
    c.Send("MODE READER\r\n");
    std::string mode = c.ReadLine();
    if (mode.rfind("200", 0) != 0 && mode.rfind("201", 0) != 0)
        throw PostError("MODE READER: " + mode);
    if (!o.user.empty()) {
        c.Command("AUTHINFO USER " + o.user, "381");
        c.Command("AUTHINFO PASS " + o.password, "281");
    }
}

// Posts the articles over o.connections connections, which take the next one in turn.
int PostArticles(const NewsCorpus& corpus, const std::vector<ArticleKey>& articles,
                 const Options& o) {
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> bytes{0};
    std::mutex error_mutex;
    std::string first_error;
    auto post_loop = [&] {
        try {
            Connection c(o.host, o.port);
            Login(c, o);
            std::string article;
            for (size_t i = next++; i < articles.size(); i = next++) {
                article.clear();
                corpus.AppendHead(articles[i], article);
                article += "\r\n";
                corpus.AppendBody(articles[i], article);
                article += ".\r\n";
                c.Command("POST", "340");
                c.Send(article);
                c.Expect("POST " + corpus.MessageId(articles[i]), "240");
                bytes += article.size();
            }
            c.Send("QUIT\r\n");
        } catch (const std::exception& e) {
            std::lock_guard lock(error_mutex);
            if (first_error.empty())
                first_error = e.what();
            next.store(articles.size());
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < o.connections; ++i)
        threads.emplace_back(post_loop);
    for (auto& t : threads)
        t.join();
    if (!first_error.empty()) {
        std::cerr << "quillstream-post: " << first_error << "\n";
        return 1;
    }
    std::cout << articles.size() << " articles posted (" << bytes.load() << " bytes)\n";
    return 0;
}

// Posts files as a set to one group, but for the parts named "NAME:PART" in `omit`, and
// writes the NZB of every part, omitted or not.
int PostFiles(const std::vector<std::string>& paths, const std::string& group, size_t part_size,
              const std::vector<std::string>& omit, const std::string& nzb_path, const Options& o) {
    PostedFileSet set(group, paths, part_size);
    std::vector<ArticleKey> articles;
    size_t omitted = 0;
    for (const auto& f : set.files()) {
        for (size_t p = 0; p < f.parts.size(); ++p) {
            const std::string name = f.name + ":" + std::to_string(p + 1);
            if (std::find(omit.begin(), omit.end(), name) != omit.end())
                ++omitted;
            else
                articles.push_back(f.parts[p].key);
        }
    }
    if (omitted != omit.size()) {
        std::cerr << "quillstream-post: --omit names a part that is not in the files\n";
        return 2;
    }
    if (!nzb_path.empty()) {
        std::ofstream out(nzb_path, std::ios::binary | std::ios::trunc);
        out << set.Nzb("Poster <poster@example.com>");
        if (!out) {
            std::cerr << "cannot write " << nzb_path << "\n";
            return 2;
        }
    }
    return PostArticles(set.corpus(), articles, o);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Posts the generated corpus (the one quillstream-testserver serves) to a news "
        "server, and writes its NZB and SHA-256 list."};
    Options o;
    qs::test::CorpusOptions corpus_options;
    std::string nzb_path, sha_path;
    bool list_only = false;
    std::string dump_name;
    app.add_option("--host", o.host, "news server")->capture_default_str();
    app.add_option("--port", o.port, "its port")->capture_default_str();
    app.add_option("--user", o.user, "AUTHINFO user name");
    app.add_option("--password", o.password, "AUTHINFO password");
    app.add_option("--connections", o.connections, "connections posting at once")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("--seed", corpus_options.seed, "corpus seed")->capture_default_str();
    app.add_option("--big-mb", corpus_options.big_megabytes, "size of alt.binaries.big in MiB")
        ->capture_default_str();
    app.add_option("--big-file-mb", corpus_options.big_file_megabytes,
                   "largest file in alt.binaries.big in MiB")
        ->capture_default_str();
    app.add_option("--write-nzb", nzb_path, "write the NZB of the corpus to this file");
    app.add_option("--write-sha256", sha_path, "write 'sha256  name' lines of the corpus files");
    app.add_flag("--list", list_only,
                 "print the groups and files (group, encoding, parts, bytes, name) and exit");
    app.add_option("--dump", dump_name, "write the decoded bytes of this corpus file to stdout");
    std::vector<std::string> files, omit;
    std::string files_group = "alt.binaries.sets";
    size_t part_size = 256000;
    app.add_option("--files", files,
                   "post these files (yEnc) as one set instead of the corpus; --write-nzb "
                   "then writes their NZB");
    app.add_option("--group", files_group, "the group --files go to")->capture_default_str();
    app.add_option("--part-size", part_size, "decoded bytes per part of --files")
        ->check(CLI::Range(size_t{1000}, size_t{10000000}))
        ->capture_default_str();
    app.add_option("--omit", omit, "NAME:PART of --files not to post (the NZB still names it)");
    CLI11_PARSE(app, argc, argv);

    if (!files.empty()) {
        try {
            return PostFiles(files, files_group, part_size, omit, nzb_path, o);
        } catch (const std::exception& e) {
            std::cerr << "quillstream-post: " << e.what() << "\n";
            return 2;
        }
    }

    GeneratedCorpus corpus(corpus_options);
    auto write = [](const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        return static_cast<bool>(out);
    };
    if (!nzb_path.empty() && !write(nzb_path, corpus.Nzb())) {
        std::cerr << "cannot write " << nzb_path << "\n";
        return 2;
    }
    if (!sha_path.empty() && !write(sha_path, corpus.Sha256List())) {
        std::cerr << "cannot write " << sha_path << "\n";
        return 2;
    }
    if (!dump_name.empty()) {
        for (size_t i = 0; i < corpus.files().size(); ++i) {
            if (corpus.files()[i].name == dump_name) {
                std::string data = corpus.FileData(i);
                std::fwrite(data.data(), 1, data.size(), stdout);
                return 0;
            }
        }
        std::cerr << "no corpus file " << dump_name << "\n";
        return 1;
    }
    if (list_only) {
        for (const auto& g : corpus.Groups())
            std::cout << "group " << g.name << "\n";
        static const char* kinds[] = {"yenc", "uu", "base64", "text"};
        for (const auto& f : corpus.files())
            std::cout << f.group << "\t" << kinds[static_cast<int>(f.encoding)] << "\t" << f.parts
                      << "\t" << f.size << "\t" << f.name << "\n";
        return 0;
    }

    // Every article in corpus order; the connections take the next one in turn.
    std::vector<ArticleKey> articles;
    for (const auto& f : corpus.files()) {
        size_t group = *corpus.FindGroup(f.group);
        for (int p = 0; p < f.parts; ++p)
            articles.push_back(ArticleKey{group, f.first_number + p});
    }
    return PostArticles(corpus, articles, o);
}
