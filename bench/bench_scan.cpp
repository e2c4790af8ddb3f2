// Scanning a group through the engine from the in-process test server: 200,000 overview
// lines in the style of today's binary posts (obfuscated names, long message-ids), read with
// XOVER into the group's database, plain and over COMPRESS DEFLATE. Reports overview lines
// per second and the bytes the server put on the wire per line. The large variant scans
// 1,000,000 lines the server makes on the fly, next to a plain read of the same XOVER reply
// (received and thrown away), the floor a scan cannot go below. cpu_ns_per_line is the
// process's CPU time (the in-process server's included) per line: on a shared host it varies
// far less than the wall time.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "engine/engine.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

#include "process_cpu.h"

namespace {

using namespace qs;

constexpr int kArticles = 200'000;
const char kGroup[] = "alt.binaries.scan";

std::string RandomText(std::mt19937_64& rng, size_t size) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out(size, ' ');
    for (char& c : out)
        c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    return out;
}

// Posts of 50-part sets: a random set name, a readable poster, a message-id of random text.
std::shared_ptr<test::MemoryCorpus> MakeCorpus() {
    auto corpus = std::make_shared<test::MemoryCorpus>();
    std::mt19937_64 rng(42);
    std::string set_name;
    for (int n = 0; n < kArticles; ++n) {
        const int part = n % 50 + 1;
        if (part == 1)
            set_name = RandomText(rng, 24);
        test::MemoryCorpus::Article a;
        a.subject = "[" + std::to_string(n / 50 % 300 + 1) + "/300] - \"" + set_name + ".part" +
                    std::to_string(part / 10) + std::to_string(part % 10) + ".rar\" yEnc (" +
                    std::to_string(part) + "/50)";
        a.from = "Poster " + std::to_string(n / 5000) + " <poster@example.com>";
        a.message_id = "<" + RandomText(rng, 32) + "@news.example.com>";
        a.body = "x";
        corpus->Add(kGroup, std::move(a));
    }
    return corpus;
}

struct Setup {
    std::shared_ptr<test::MemoryCorpus> corpus = MakeCorpus();
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

// Scans `group` of `corpus` (`articles` lines) once per iteration into a fresh database.
void RunScan(benchmark::State& state, std::shared_ptr<test::NewsCorpus> corpus,
             const std::string& group, int64_t articles, bool compress, int chunks = 1) {
    test::ServerOptions options;
    options.compress = compress;
    test::NewsServer server(options);
    server.SetCorpus(std::move(corpus));
    test::TempDir home;
    SilentHost host(true);
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({group, home.File("dl") + "/", 0});
    s.AutoCreateDirs = 1;
    s.RetentionDays = 0;
    s.ScanChunks = chunks;
    if (!SaveSettings(s, home.File("Quillstream.ini")))
        std::abort();
    Engine engine(StartupContext{home.path(), home.File("Quillstream.ini"), ""}, host);
    if (!engine.Open())
        std::abort();

    int64_t lines = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine.ResetGroup(group);
        const int64_t wire_before = server.wire_bytes_sent();
        const double cpu_before = ProcessCpuSeconds();
        state.ResumeTiming();
        if (engine.StartScan(group).count == 0) {
            state.SkipWithError("the scan did not start");
            return;
        }
        engine.WaitForWorkers();
        state.PauseTiming();
        cpu += ProcessCpuSeconds() - cpu_before;
        state.counters["wire_bytes_per_line"] =
            static_cast<double>(server.wire_bytes_sent() - wire_before) /
            static_cast<double>(articles);
        lines += articles;
        state.ResumeTiming();
    }
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
    state.counters["cpu_ns_per_line"] = cpu * 1e9 / static_cast<double>(lines > 0 ? lines : 1);
}

void BM_ScanGroup(benchmark::State& state) {
    RunScan(state, Shared().corpus, kGroup, kArticles, state.range(0) != 0);
}
BENCHMARK(BM_ScanGroup)
    ->ArgName("compress")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

constexpr int64_t kLargeArticles = 1'000'000;

std::shared_ptr<test::NewsCorpus> LargeCorpus() {
    return std::make_shared<test::ScanGroupCorpus>(nullptr, kLargeArticles);
}

// By one connection, or in chunks read at once by the free slots.
void BM_ScanLargeGroup(benchmark::State& state) {
    RunScan(state, LargeCorpus(), test::ScanGroupCorpus::kGroupName, kLargeArticles, false,
            static_cast<int>(state.range(0)));
}
BENCHMARK(BM_ScanLargeGroup)
    ->ArgName("chunks")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// Reads until the received bytes end with `terminator`; false when the connection ends first.
bool ReceiveUntil(int fd, std::string_view terminator, std::vector<char>& buffer, int64_t& bytes) {
    std::string tail;
    for (;;) {
        ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            return false;
        bytes += n;
        tail.append(buffer.data(), static_cast<size_t>(n));
        if (tail.size() > terminator.size())
            tail.erase(0, tail.size() - terminator.size());
        if (tail == terminator)
            return true;
    }
}

// The same XOVER reply as BM_ScanLargeGroup, received in 64 KiB blocks and thrown away.
void BM_PlainReadLargeGroup(benchmark::State& state) {
    test::NewsServer server;
    server.SetCorpus(LargeCorpus());
    std::vector<char> buffer(65536);
    int64_t lines = 0, bytes = 0;
    const double cpu_before = ProcessCpuSeconds();
    for (auto _ : state) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(server.port()));
        inet_pton(AF_INET, server.host().c_str(), &address.sin_addr);
        const std::string commands =
            "GROUP " + std::string(test::ScanGroupCorpus::kGroupName) + "\r\nXOVER 1-\r\n";
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, commands.data(), commands.size(), 0) !=
                static_cast<ssize_t>(commands.size()) ||
            !ReceiveUntil(fd, "\r\n.\r\n", buffer, bytes)) {
            state.SkipWithError("the XOVER reply did not arrive");
            if (fd >= 0)
                close(fd);
            return;
        }
        close(fd);
        lines += kLargeArticles;
    }
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
    state.counters["bytes_per_line"] =
        static_cast<double>(bytes) / static_cast<double>(lines > 0 ? lines : 1);
    state.counters["cpu_ns_per_line"] =
        (ProcessCpuSeconds() - cpu_before) * 1e9 / static_cast<double>(lines > 0 ? lines : 1);
}
BENCHMARK(BM_PlainReadLargeGroup)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
