// The server's list of groups: reading a list of 200,000 groups with LIST from the
// in-process test server into the groups database (Engine::FetchGroupList), then the
// groups list's row count and one screenful of rows read on a cache hint at the top, the
// middle and the end, over all groups and under a search text.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/host.h"
#include "app/settings.h"
#include "engine/engine.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace {

using namespace qs;

constexpr int kGroups = 200'000;
constexpr int64_t kScreen = 40;  // rows of one screenful

const char* const kHierarchies[] = {"alt.binaries", "alt", "comp.lang", "de.rec", "rec.music"};
const char* const kWords[] = {"music", "movies", "software", "games", "pictures",
                              "linux", "misc",   "test",     "sound", "boneless"};

// One line of a LIST answer: "name last first flags".
std::string ListLine(int n) {
    std::string name =
        std::string(kHierarchies[n % 5]) + "." + kWords[(n / 5) % 10] + "." + std::to_string(n);
    const int64_t first = 1 + (n * 7919LL) % 100'000;
    const int64_t last = first + (n * 104'729LL) % 5'000'000;
    return name + " " + std::to_string(last) + " " + std::to_string(first) + " y";
}

struct Setup {
    test::TempDir home;
    test::NewsServer server;
    SilentHost host;
    std::unique_ptr<Engine> engine;

    Setup() {
        std::vector<std::string> lines;
        lines.reserve(kGroups);
        for (int n = 0; n < kGroups; ++n)
            lines.push_back(ListLine(n));
        server.SetReply("LIST", test::Reply::Multi("215 list of newsgroups follows", lines));
        Settings s;
        s.servers.push_back({server.host(), "", "", 0, server.port()});
        s.groups.push_back({"alt.binaries.music.5", home.File("dl") + "/", 0});
        if (!SaveSettings(s, home.File("Quillstream.ini")))
            std::abort();
        engine = std::make_unique<Engine>(
            StartupContext{home.path(), home.File("Quillstream.ini"), ""}, host);
        if (!engine->Open())
            std::abort();
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

// The list read whole, stored in batches, the subscribed group marked again.
void BM_FetchGroupList(benchmark::State& state) {
    Engine& engine = *Shared().engine;
    int64_t groups = 0;
    for (auto _ : state) {
        CommandResult r = engine.FetchGroupList();
        if (!r.ok) {
            state.SkipWithError(r.message.c_str());
            return;
        }
        groups += r.count;
    }
    state.counters["groups/s"] =
        benchmark::Counter(static_cast<double>(groups), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FetchGroupList)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

const char* const kSearches[] = {"", "binaries", "music.7"};

std::unique_ptr<GroupListView> SearchView(int search) {
    Engine& engine = *Shared().engine;
    if (engine.group_list_fetch().stored < kGroups && !engine.FetchGroupList().ok)
        std::abort();
    std::unique_ptr<GroupListView> view = engine.OpenGroupList();
    if (!view)
        std::abort();
    view->SetFilter(kSearches[search]);
    return view;
}

// range(0): the search text.
void BM_CountRows(benchmark::State& state) {
    std::unique_ptr<GroupListView> view = SearchView(static_cast<int>(state.range(0)));
    int64_t rows = 0;
    for (auto _ : state)
        rows = view->CountRows();
    state.SetLabel(std::string("search \"") + kSearches[state.range(0)] + "\"");
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_CountRows)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// range(0): the search text; range(1): where the screen starts, in per cent of the rows
// (100: the last screen).
void BM_ScreenfulFill(benchmark::State& state) {
    std::unique_ptr<GroupListView> view = SearchView(static_cast<int>(state.range(0)));
    const int64_t count = view->CountRows();
    const int64_t at =
        std::max<int64_t>(0, std::min(count * state.range(1) / 100, count - kScreen));
    state.SetLabel(std::string("search \"") + kSearches[state.range(0)] + "\" at row " +
                   std::to_string(at) + " of " + std::to_string(count));
    for (auto _ : state) {
        view->Invalidate();
        if (!view->FillRowCache(at, kScreen)) {
            state.SkipWithError("read failed");
            return;
        }
    }
}
BENCHMARK(BM_ScreenfulFill)->ArgsProduct({{0, 1, 2}, {0, 50, 100}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
