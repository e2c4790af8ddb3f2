// Scanning a group through the engine from the in-process test server: 200,000 overview
// lines in the style of today's binary posts (obfuscated names, long message-ids), read with
// XOVER into the group's database, plain and over COMPRESS DEFLATE. Reports overview lines
// per second and the bytes the server put on the wire per line.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

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

void BM_ScanGroup(benchmark::State& state) {
    const bool compress = state.range(0) != 0;
    test::ServerOptions options;
    options.compress = compress;
    test::NewsServer server(options);
    server.SetCorpus(Shared().corpus);
    test::TempDir home;
    SilentHost host(true);
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({kGroup, home.File("dl") + "/", 0});
    s.AutoCreateDirs = 1;
    s.RetentionDays = 0;
    if (!SaveSettings(s, home.File("Quillstream.ini")))
        std::abort();
    Engine engine(StartupContext{home.path(), home.File("Quillstream.ini"), ""}, host);
    if (!engine.Open())
        std::abort();

    int64_t lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine.ResetGroup(kGroup);
        const int64_t wire_before = server.wire_bytes_sent();
        state.ResumeTiming();
        if (engine.StartScan(kGroup).count == 0) {
            state.SkipWithError("the scan did not start");
            return;
        }
        engine.WaitForWorkers();
        state.PauseTiming();
        state.counters["wire_bytes_per_line"] =
            static_cast<double>(server.wire_bytes_sent() - wire_before) / kArticles;
        lines += kArticles;
        state.ResumeTiming();
    }
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanGroup)
    ->ArgName("compress")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
