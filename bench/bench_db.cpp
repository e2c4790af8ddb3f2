// Header database: merging a scan, and the view queries on a large group.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "db/header_db.h"
#include "db/header_view.h"

namespace {

using qs::Attachment;
using qs::DbEnv;
using qs::Group;
using qs::HeaderDatabase;
using qs::HeaderView;
using qs::MessageVars;

std::string FreshDir(const std::string& tag) {
    std::string dir = (std::filesystem::temp_directory_path() / ("qs_bench_db_" + tag)).string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

const char* const kWords[] = {"linux",  "holiday", "music",   "album",     "backup", "photos",
                              "series", "episode", "archive", "docs",      "game",   "movie",
                              "ubuntu", "debian",  "sample",  "collection"};

std::string Name(std::mt19937_64& rng, uint64_t n) {
    std::string s;
    for (int w = 0; w < 3; ++w) {
        s += kWords[rng() % 16];
        s += ' ';
    }
    return s + std::to_string(n) + ".part.rar";
}

// 1,000,000 parts of 100,000 attachments of 10 parts, merged in batch mode, and 1,000,000
// single-part posts. A scan sees the parts of the files being posted at the same time
// interleaved: here 25 at a time.
void BM_MergeScan(benchmark::State& state) {
    const int attachments = static_cast<int>(state.range(0));
    const int parts = static_cast<int>(state.range(1));
    const int window = 25;
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = FreshDir("merge");
        Group g;
        g.name = "alt.binaries.bench";
        if (!qs::OpenHeaderDatabase(g, DbEnv{dir})) {
            state.SkipWithError("open failed");
            return;
        }
        std::mt19937_64 rng(42);
        std::vector<std::string> names(attachments);
        for (int a = 0; a < attachments; ++a)
            names[a] = Name(rng, a);
        state.ResumeTiming();
        {
            qs::DbBatch batch(g.db);
            int64_t article = 1000;
            Attachment att;
            MessageVars part;
            for (int base = 0; base < attachments; base += window) {
                int end = std::min(attachments, base + window);
                for (int p = 1; p <= parts; ++p) {
                    for (int a = base; a < end; ++a) {
                        att.Id = names[a];
                        att.filename = names[a];
                        att.email = "poster@example.com (Poster)";
                        att.parts = parts;
                        att.date = 1700000000 + a;
                        att.isnew = 1;
                        att.state = 0;
                        char mid[96];
                        std::snprintf(mid, sizeof mid, "<%llu.%d.%d@news.example>",
                                      static_cast<unsigned long long>(rng()), a, p);
                        part.MessageId = mid;
                        part.ArticleId = ++article;
                        part.bytes = 384000 + (p * 7) % 1000;
                        part.lines = 3000;
                        part.partnum = p;
                        if (!g.db->StoreAttachment(&part, att)) {
                            state.SkipWithError("merge failed");
                            return;
                        }
                    }
                }
            }
        }
        state.PauseTiming();
        g.db.reset();
        std::filesystem::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * attachments * parts);
}
// Wall-clock time: the writes and syncs of the file count as much as the CPU.
BENCHMARK(BM_MergeScan)
    ->Args({100000, 10})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// A group database of 1,000,000 attachments, built once per process.
struct BigDb {
    std::string dir;
    Group group;

    BigDb() {
        dir = FreshDir("views");
        Group build;
        build.name = "alt.binaries.big";
        if (!qs::OpenHeaderDatabase(build, DbEnv{dir}))
            std::abort();
        std::mt19937_64 rng(7);
        {
            qs::DbBatch batch(build.db);
            Attachment a;
            for (int i = 0; i < 1000000; ++i) {
                a.filename = Name(rng, i);
                a.Id = a.filename;
                a.email = "poster" + std::to_string(rng() % 5000) + "@example.com";
                // Two in three are single posts (complete), the rest incomplete.
                a.parts = rng() % 3 ? 1 : 2 + static_cast<int>(rng() % 49);
                a.partcount = 1;
                a.bytes = static_cast<int64_t>(rng() % 50000000);
                a.lines = a.bytes / 128;
                a.date = 1600000000 + static_cast<int64_t>(rng() % 100000000);
                a.state = 0;
                a.isnew = 0;
                if (!build.db->StoreAttachment(nullptr, a))
                    std::abort();
            }
        }
    }
    // A fresh view of the shared database, showing incomplete rows or not.
    HeaderView View(bool show_incomplete) {
        if (!group.db) {
            group.name = "alt.binaries.big";
            if (!qs::OpenHeaderDatabase(group, DbEnv{dir}))
                std::abort();
        }
        HeaderView view(group.db);
        view.SetHideIncomplete(!show_incomplete);
        return view;
    }
};

BigDb& Big() {
    static BigDb* db = new BigDb();
    return *db;
}

void BM_OpenBig(benchmark::State& state) {
    Big();
    for (auto _ : state) {
        Group g;
        g.name = "alt.binaries.big";
        qs::OpenHeaderDatabase(g, DbEnv{Big().dir});
        benchmark::DoNotOptimize(g.db->kb_total());
    }
}
BENCHMARK(BM_OpenBig)->Unit(benchmark::kMillisecond);

// range(0): 1 shows incomplete rows; range(1): 1 with a filter text.
void BM_CountRows(benchmark::State& state) {
    HeaderView view = Big().View(state.range(0) != 0);
    view.SetFilter(state.range(1) ? "linux 12" : "");  // matches a few hundred rows
    int64_t n = 0;
    for (auto _ : state)
        n = view.CountRows();
    state.counters["rows"] = static_cast<double>(n);
}
BENCHMARK(BM_CountRows)->ArgsProduct({{1, 0}, {0, 1}})->Unit(benchmark::kMillisecond);

const char* const kOrders[] = {"filename", "email", "bytes", "lines", "parts", "date"};

// range(0): order column; range(1): descending; range(2): 1 shows incomplete rows. With
// incomplete rows hidden about 667,000 rows remain: the page read is at row 600,000 then.
void BM_FillRowCache900k(benchmark::State& state) {
    HeaderView view = Big().View(state.range(2) != 0);
    const int64_t row = state.range(2) ? 900000 : 600000;
    std::string order = std::string(kOrders[state.range(0)]) + (state.range(1) ? " desc" : "");
    state.SetLabel(order);
    if (!view.SetOrder(order)) {
        state.SkipWithError("order refused");
        return;
    }
    for (auto _ : state) {
        view.Invalidate();
        if (!view.FillRowCache(row, 50)) {
            state.SkipWithError("read failed");
            return;
        }
    }
}
BENCHMARK(BM_FillRowCache900k)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}, {1}})
    ->Args({0, 1, 0})
    ->Args({2, 0, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
