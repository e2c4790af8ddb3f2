// Throughput of the per-line work of a scan: split an XOVER line, filter it, parse its
// counter and date, take out what the database stores. Lines per second are reported as
// items_per_second.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/host.h"
#include "db/records.h"
#include "scan/date_parser.h"
#include "scan/header_filter.h"
#include "scan/overview_line.h"

namespace {

// A mix like a binary group's overview: multi-part posts in both counter styles, some
// single posts, real-looking dates and Message-IDs.
std::vector<std::string> MakeLines(size_t count) {
    static const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::vector<std::string> lines;
    lines.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        size_t file = i / 50;
        size_t part = i % 50 + 1;
        std::string subject;
        switch (file % 3) {
            case 0:
                subject = "[" + std::to_string(file) + "/9999] - \"holiday.part" +
                          std::to_string(file % 100) + ".rar\" yEnc (" + std::to_string(part) +
                          "/50)";
                break;
            case 1:
                subject = "Some.Show.S01E0" + std::to_string(file % 10) + ".1080p.mkv yEnc [" +
                          std::to_string(part) + "/50] - 1.2 GB";
                break;
            default:
                subject = "Re: a question about post " + std::to_string(i);
        }
        // Articles arrive in posting order, a few seconds apart.
        std::time_t posted = 1796626364 + static_cast<std::time_t>(i) * 3;
        std::tm tm{};
        gmtime_r(&posted, &tm);
        char date[64];
        std::snprintf(date, sizeof date, "%s, %02d %s %d %02d:%02d:%02d +0000",
                      kWeekdays[tm.tm_wday], tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
        lines.push_back(std::to_string(100000000 + i) + "\t" + subject + "\tposter" +
                        std::to_string(i % 17) + " <p" + std::to_string(i % 17) +
                        "@example.org>\t" + date + "\t<part" + std::to_string(i) +
                        ".abcdef@news.example.org>\t\t" + std::to_string(700000 + i % 1000) + "\t" +
                        std::to_string(5400 + i % 10) + "\r\n");
    }
    return lines;
}

const std::vector<std::string>& Lines() {
    static const std::vector<std::string> lines = MakeLines(100000);
    return lines;
}

void ScanLines(benchmark::State& state, const qs::HeaderFilter::Options& options) {
    const auto& lines = Lines();
    qs::SilentHost host;
    qs::HeaderFilter filter;
    if (!filter.Prepare(options, host)) {
        state.SkipWithError("filter does not compile");
        return;
    }
    qs::OverviewRecord record;
    qs::ScannedArticle out;
    size_t i = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        const std::string& line = lines[i];
        if (++i == lines.size())
            i = 0;
        bytes += static_cast<int64_t>(line.size());
        qs::OverviewFields fields = qs::SplitOverviewLine(line);
        if (!filter.Accepts(fields.subject, fields.from))
            continue;
        qs::ParseOverviewFields(fields, record);
        benchmark::DoNotOptimize(qs::ToScannedArticle(record, out));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
}

void BM_ParseNoFilter(benchmark::State& state) {
    ScanLines(state, {});
}
void BM_ParseWordFilter(benchmark::State& state) {
    ScanLines(state, {true, true, false, "sample, password ,nzb,spam,PAR2"});
}
void BM_ParseRegexFilter(benchmark::State& state) {
    ScanLines(state, {true, false, true, "\\.(rar|r\\d\\d|mkv)\\b|holiday"});
}

// The filter alone on subject and From.
void BM_RegexFilterOnly(benchmark::State& state) {
    const auto& lines = Lines();
    std::vector<qs::OverviewFields> fields;
    for (const auto& l : lines)
        fields.push_back(qs::SplitOverviewLine(l));
    qs::SilentHost host;
    qs::HeaderFilter filter;
    filter.Prepare({true, false, true, "\\.(rar|r\\d\\d|mkv)\\b|holiday"}, host);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.Accepts(fields[i].subject, fields[i].from));
        if (++i == fields.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

// The Date field alone: the calendar conversion dominates.
void BM_DateOnly(benchmark::State& state) {
    const auto& lines = Lines();
    std::vector<std::string_view> dates;
    for (const auto& l : lines)
        dates.push_back(qs::SplitOverviewLine(l).date);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qs::ParseOverviewDate(dates[i]));
        if (++i == dates.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_DateOnly);
BENCHMARK(BM_ParseNoFilter);
BENCHMARK(BM_ParseWordFilter);
BENCHMARK(BM_ParseRegexFilter);
BENCHMARK(BM_RegexFilterOnly);
BENCHMARK_MAIN();
