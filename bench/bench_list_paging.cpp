// The attachment list over a group of 1,000,000 attachments, as the main window reads it
// through the engine: opening the group and counting its rows, one screenful of rows
// read on a cache hint at the top, the middle, near the end and at the very end, and
// paging from the first screen to the last. The target: a screenful under 100 ms at any
// position, in every order.
//
// The group is built once into $TMPDIR/qs_bench_list_paging and kept for later runs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "db/header_db.h"
#include "engine/engine.h"

namespace {

using namespace qs;

constexpr int64_t kAttachments = 1'000'000;
constexpr int64_t kScreen = 40;  // rows of one screenful
const char* const kGroup = "alt.binaries.paging";

std::string HomeDir() {
    return (std::filesystem::temp_directory_path() / "qs_bench_list_paging").string();
}

const char* const kWords[] = {"Holiday", "Music",  "Album",  "Backup",    "Photos", "Series",
                              "Linux",   "Debian", "Sample", "Docs",      "Game",   "Movie",
                              "Live",    "Remix",  "Final",  "Collection"};
const char* const kKinds[] = {".part01.rar", ".rar", ".par2", ".vol03+04.par2", ".nfo",
                              ".mkv",        ".zip", ".7z",   ".mp3",           ".flac"};

// One attachment as a scan stores it: a subject with its counter gone, a poster, the
// parts present of the parts announced, sizes of a part of ~750 kB, dates rising with
// the article numbers over two years, with some jitter.
Attachment MakeAttachment(std::mt19937_64& rng, int64_t n) {
    Attachment a;
    std::string title;
    for (int w = 0; w < 3; ++w)
        title += std::string(w ? "." : "") + kWords[rng() % 16];
    char subject[256];
    std::snprintf(subject, sizeof subject, "[%llu/%llu] - \"%s.S%02lluE%02llu%s\" yEnc ",
                  static_cast<unsigned long long>(n % 40 + 1),
                  static_cast<unsigned long long>(40 + n % 7), title.c_str(),
                  static_cast<unsigned long long>(rng() % 12 + 1),
                  static_cast<unsigned long long>(rng() % 24 + 1), kKinds[rng() % 10]);
    a.filename = subject;
    a.Id = a.filename + std::to_string(n);
    const uint64_t poster = rng() % 5000;
    a.email = "poster" + std::to_string(poster) + " <p" + std::to_string(poster) + "@example.com>";
    a.parts = rng() % 4 ? 1 + static_cast<int>(rng() % 120) : 1;
    // One in five is missing parts.
    a.partcount = rng() % 5 ? a.parts : std::max(1, a.parts - 1 - static_cast<int>(rng() % 3));
    a.bytes = static_cast<int64_t>(a.partcount) * (700'000 + static_cast<int64_t>(rng() % 100'000));
    a.lines = a.bytes / 128;
    a.date = 1'650'000'000 + n * 63 + static_cast<int64_t>(rng() % 3600);
    a.state = a.partcount < a.parts ? StateIncomplete : StateComplete;
    a.newsgroup = kGroup;
    a.isnew = 0;
    return a;
}

// The home with the group subscribed and its header database filled, built once.
void EnsureHome() {
    const std::string home = HomeDir();
    const std::string done = home + "/complete";
    if (std::filesystem::exists(done))
        return;
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home + "/data");
    Settings settings;
    settings.groups.push_back({kGroup, home + "/downloads/", 0});
    if (!SaveSettings(settings, home + "/Quillstream.ini"))
        std::abort();
    std::fprintf(stderr, "building a group of %lld attachments in %s ...\n",
                 static_cast<long long>(kAttachments), home.c_str());
    {
        std::shared_ptr<HeaderDatabase> db = HeaderDatabase::Open(DbEnv{home + "/data"}, kGroup);
        if (!db)
            std::abort();
        std::mt19937_64 rng(11);
        DbBatch batch(db);
        for (int64_t n = 0; n < kAttachments; ++n)
            if (!db->StoreAttachment(nullptr, MakeAttachment(rng, n)))
                std::abort();
    }
    std::ofstream(done) << "built\n";
}

SilentHost g_host;

std::unique_ptr<Engine> OpenEngine() {
    EnsureHome();
    auto engine = std::make_unique<Engine>(
        StartupContext{HomeDir(), HomeDir() + "/Quillstream.ini", ""}, g_host);
    if (!engine->Open())
        std::abort();
    return engine;
}

// One engine for the whole run, as the window has.
Engine& SharedEngine() {
    static std::unique_ptr<Engine> engine = OpenEngine();
    return *engine;
}

const char* const kOrders[] = {"", "date desc", "filename"};
const char* const kOrderNames[] = {"stored", "date desc", "filename"};

std::unique_ptr<HeaderView> OrderedView(int order) {
    std::unique_ptr<HeaderView> view = SharedEngine().OpenView(kGroup);
    if (!view || !view->SetOrder(kOrders[order]))
        std::abort();
    return view;
}

// Starting the program on the group: the engine opens, the group's view opens and counts
// its rows (the list's row count).
void BM_OpenGroupAndCount(benchmark::State& state) {
    EnsureHome();
    int64_t rows = 0;
    for (auto _ : state) {
        std::unique_ptr<Engine> engine = OpenEngine();
        std::unique_ptr<HeaderView> view = engine->OpenView(kGroup);
        rows = view->CountRows();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_OpenGroupAndCount)->Unit(benchmark::kMillisecond)->UseRealTime();

// The count alone, on an open group (a refresh of the row count).
void BM_CountRows(benchmark::State& state) {
    std::unique_ptr<HeaderView> view = OrderedView(0);
    int64_t rows = 0;
    for (auto _ : state)
        rows = view->CountRows();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_CountRows)->Unit(benchmark::kMillisecond);

// range(0): the order; range(1): where the screen starts, in hundredths of a per cent of
// the rows (10000: the last screen).
void BM_ScreenfulFill(benchmark::State& state) {
    std::unique_ptr<HeaderView> view = OrderedView(static_cast<int>(state.range(0)));
    const int64_t count = view->CountRows();
    const int64_t at = std::min(count * state.range(1) / 10000, count - kScreen);
    state.SetLabel(std::string(kOrderNames[state.range(0)]) + " at row " + std::to_string(at));
    for (auto _ : state) {
        view->Invalidate();
        if (!view->FillRowCache(at, kScreen)) {
            state.SkipWithError("read failed");
            return;
        }
    }
}
BENCHMARK(BM_ScreenfulFill)
    ->ArgsProduct({{0, 1, 2}, {0, 5000, 9999, 10000}})
    ->Unit(benchmark::kMillisecond);

// Page Down from the first screen to the last. A screen deep in the list costs more than
// one at the top (its rows are found by counting past the ones before it), so a pass
// over every screen of a million rows takes minutes: range(1) screens spread evenly from
// the first to the last stand for it (0: every screen). Their rows/s is a full pass's.
void BM_PageToEnd(benchmark::State& state) {
    std::unique_ptr<HeaderView> view = OrderedView(static_cast<int>(state.range(0)));
    const int64_t count = view->CountRows();
    const int64_t screens = (count + kScreen - 1) / kScreen;
    const int64_t step = state.range(1) ? std::max<int64_t>(1, screens / state.range(1)) : 1;
    state.SetLabel(kOrderNames[state.range(0)]);
    int64_t rows = 0;
    for (auto _ : state) {
        view->Invalidate();
        for (int64_t screen = 0; screen < screens; screen += step) {
            if (!view->FillRowCache(screen * kScreen, kScreen)) {
                state.SkipWithError("read failed");
                return;
            }
            rows += std::min(kScreen, count - screen * kScreen);
        }
    }
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PageToEnd)
    ->ArgsProduct({{0, 1, 2}, {500}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
