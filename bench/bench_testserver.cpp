// The test news server: BODY throughput over loopback, and generating yEnc bodies alone.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/generated_corpus.h"
#include "support/news_server.h"

namespace {

using qs::test::ArticleKey;
using qs::test::GeneratedCorpus;
using qs::test::NewsServer;

constexpr int64_t kBigMegabytes = 256;

// One server over one corpus for the whole program (the corpus caches whole-file CRCs).
struct Setup {
    std::shared_ptr<GeneratedCorpus> corpus;
    NewsServer server;
    size_t big = 0;
    int64_t first = 0, last = 0;

    Setup() {
        qs::test::CorpusOptions options;
        options.big_megabytes = kBigMegabytes;
        corpus = std::make_shared<GeneratedCorpus>(options);
        server.SetCorpus(corpus);
        big = *corpus->FindGroup("alt.binaries.big");
        auto groups = corpus->Groups();
        first = groups[big].first;
        last = groups[big].last;
        // Whole-file CRCs are computed on first use: not part of what is measured.
        corpus->PrepareChecksums();
    }
};

Setup& Shared() {
    static Setup* setup = new Setup();
    return *setup;
}

// A minimal NNTP reader: reads whole replies into a reused buffer.
class Client {
  public:
    explicit Client(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        buffer_.resize(1 << 20);
        ok_ = ok_ && ReadLine().rfind("200", 0) == 0;
    }
    ~Client() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return ok_; }

    bool Command(const std::string& line, std::string& status) {
        std::string data = line + "\r\n";
        if (::send(fd_, data.data(), data.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(data.size()))
            return false;
        status = ReadLine();
        return !status.empty();
    }
    // The rest of a multi-line reply, "." CR LF included; its size. Nothing is asked for
    // before the reply is read, so it ends where the bytes received so far end.
    int64_t ReadMulti() {
        int64_t total = 0;
        std::string last = "\r\n";  // the status line's end: an empty reply is "." CR LF
        for (;;) {
            if (at_ == have_) {
                ssize_t r = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
                if (r <= 0)
                    return -1;
                at_ = 0;
                have_ = static_cast<size_t>(r);
            }
            size_t n = have_ - at_;
            last.append(buffer_.data() + at_ + (n > 5 ? n - 5 : 0), std::min<size_t>(n, 5));
            if (last.size() > 5)
                last.erase(0, last.size() - 5);
            total += static_cast<int64_t>(n);
            at_ = have_;
            if (last == "\r\n.\r\n")
                return total;
        }
    }

  private:
    std::string ReadLine() {
        std::string line;
        for (;;) {
            while (at_ < have_) {
                char c = buffer_[at_++];
                line += c;
                if (c == '\n')
                    return line;
            }
            ssize_t r = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
            if (r <= 0)
                return {};
            at_ = 0;
            have_ = static_cast<size_t>(r);
        }
    }

    int fd_ = -1;
    bool ok_ = false;
    std::vector<char> buffer_;
    size_t at_ = 0, have_ = 0;
};

// BODY of every article of alt.binaries.big (kBigMegabytes MiB of decoded data), spread
// over range(0) connections; bytes counted as they arrive on the wire.
//   quillstream-testserver --port 11119 --big-mb 1024 &
//   QS_BENCH_PORT=11119 bench_testserver --benchmark_filter=Loopback
// measures the standalone server on its corpus instead.
void BM_BodyOverLoopback(benchmark::State& state) {
    Setup& s = Shared();
    const int connections = static_cast<int>(state.range(0));
    // QS_BENCH_PORT: measure a quillstream-testserver on that loopback port instead.
    const char* external = std::getenv("QS_BENCH_PORT");
    const int port = external ? std::atoi(external) : s.server.port();
    int64_t bytes = 0;
    for (auto _ : state) {
        std::atomic<int64_t> received{0};
        std::atomic<bool> failed{false};
        std::vector<std::thread> clients;
        for (int c = 0; c < connections; ++c)
            clients.emplace_back([&, c] {
                Client client(port);
                std::string status;
                long long count = 0, first = 0, last = -1;
                if (!client.ok() || !client.Command("GROUP alt.binaries.big", status) ||
                    std::sscanf(status.c_str(), "211 %lld %lld %lld", &count, &first, &last) != 3) {
                    failed = true;
                    return;
                }
                int64_t mine = 0;
                for (int64_t n = first + c; n <= last; n += connections) {
                    if (!client.Command("BODY " + std::to_string(n), status) ||
                        status.rfind("222", 0) != 0) {
                        failed = true;
                        return;
                    }
                    int64_t got = client.ReadMulti();
                    if (got < 0) {
                        failed = true;
                        return;
                    }
                    mine += got + static_cast<int64_t>(status.size());
                }
                client.Command("QUIT", status);
                received += mine;
            });
        for (auto& t : clients)
            t.join();
        if (failed) {
            state.SkipWithError("a connection failed");
            return;
        }
        bytes += received;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BodyOverLoopback)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// One 768,000-byte yEnc part generated into a reused buffer, no socket.
void BM_GenerateYEncPart(benchmark::State& state) {
    Setup& s = Shared();
    ArticleKey key;
    if (!s.corpus->Find(s.big, s.first, key)) {
        state.SkipWithError("no article");
        return;
    }
    std::string out;
    int64_t bytes = 0;
    for (auto _ : state) {
        out.clear();
        s.corpus->AppendBody(key, out);
        bytes += static_cast<int64_t>(out.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_GenerateYEncPart)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
