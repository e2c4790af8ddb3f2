// Downloading the big group of a generated corpus from a loopback news server: BODY,
// yEnc decoding with part checks, and writing the file, with 1 and 6 slots, plain and over
// TLS (the second argument; strict certificate checks against a throw-away CA). The server
// runs in this process, so the figures include its cost, its TLS encryption too. Set
// QS_BENCH_MB for the corpus size (default 256 MiB). Also: a server 50 ms away, with and
// without pipelined requests.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "app/events.h"
#include "app/host.h"
#include "db/header_db.h"
#include "download/download_queue.h"
#include "download/download_worker.h"
#include "nntp/worker_state.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

#include "process_cpu.h"

namespace {

int64_t CorpusMegabytes() {
    const char* text = std::getenv("QS_BENCH_MB");
    return text && std::atoll(text) > 0 ? std::atoll(text) : 256;
}

// Counts the entries filed done and those filed otherwise.
class OutcomeCounter : public qs::EventListener {
  public:
    void OnEntryFiled(const qs::FiledEntry& entry) override {
        (qs::IsFailure(entry.outcome) ? failed : done).fetch_add(1);
    }
    std::atomic<int> done{0};
    std::atomic<int> failed{0};
};

struct DownloadSetup {
    int slots = 6;
    bool tls = false;
    int pipeline_depth = 4;
    std::chrono::milliseconds latency{0};  // the link's round trip
    int64_t megabytes = 256;
    int64_t file_megabytes = 100;  // the largest file
};

void DownloadCorpus(benchmark::State& state, const DownloadSetup& setup) {
    const int slots = setup.slots;
    const bool tls = setup.tls;
    qs::test::CorpusOptions options;
    options.big_megabytes = setup.megabytes;
    options.big_file_megabytes = setup.file_megabytes;
    auto corpus = std::make_shared<qs::test::GeneratedCorpus>(options);
    qs::test::TempDir certificate_dir;
    qs::test::ServerOptions server_options;
    if (tls) {
        qs::test::TestCertificates certificates(certificate_dir.path());
        qs::test::CertificateFiles files = certificates.IssuedFor("127.0.0.1", "server");
        server_options.tls_certificate = files.certificate;
        server_options.tls_key = files.key;
        ::setenv("SSL_CERT_FILE", certificates.ca_file().c_str(), 1);
    }
    qs::test::NewsServer server(server_options);
    server.SetCorpus(corpus);
    server.SetLatency(setup.latency);

    uint64_t bytes = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        qs::test::TempDir dir;
        qs::SilentHost host(true);
        qs::Settings settings;
        for (int i = 0; i < qs::kThreadSlots; ++i)
            settings.Thread[i] = i < slots ? 1 : 0;
        settings.AutoCreateDirs = 1;
        settings.NoAutoSubdir = 1;
        settings.BaseDir = dir.File("dl");
        settings.PipelineDepth = setup.pipeline_depth;
        qs::ServerEntry entry;
        entry.host = "127.0.0.1";
        entry.port = server.port();
        entry.ssl = tls ? 1 : 0;
        settings.servers.push_back(entry);
        qs::DbEnv env;
        env.data_dir = dir.path();
        auto queue_db = qs::HeaderDatabase::Open(env, "queue");
        auto log_db = qs::HeaderDatabase::Open(env, "log");
        bool stored = queue_db && log_db;
        // Every big file as its own entry.
        const auto& files = corpus->files();
        bytes = 0;
        std::string out = dir.File("dl") + "/";
        ::mkdir(out.c_str(), 0700);
        for (size_t f = 0; f < files.size(); ++f) {
            if (files[f].group != "alt.binaries.big")
                continue;
            qs::Attachment a;
            a.Id = a.filename = files[f].subject;
            a.state = qs::StateQueued;
            a.parts = files[f].parts;
            a.dir = out;
            a.newsgroup = files[f].group;
            for (int p = 1; p <= files[f].parts; ++p) {
                qs::MessageVars mv;
                mv.MessageId = corpus->PartMessageId(f, p);
                mv.attachment = a.Id;
                mv.partnum = p;
                a.partlist.push_back(mv);
            }
            stored = stored && queue_db->StoreAttachment(nullptr, a);
            bytes += files[f].size;
        }
        if (!stored) {
            state.SkipWithError("the queue database refused the entries");
            state.ResumeTiming();
            break;
        }
        OutcomeCounter outcomes;
        qs::DownloadQueue queue(queue_db, log_db, &outcomes);
        qs::WorkerState workers(std::make_shared<const qs::Settings>(settings), &host);
        qs::DownloadShared shared(workers, queue);
        double cpu_start = ProcessCpuSeconds();
        state.ResumeTiming();

        // As the engine starts downloads: a worker on every enabled slot.
        workers.SetDownloading(true);
        workers.StartInterval();
        for (int i = 0; i < qs::kThreadSlots; ++i) {
            if (workers.slot(i).enabled)
                workers.Launch(i, [&shared, i] { qs::DownloadWorker(shared, i); });
        }
        workers.JoinAll();

        state.PauseTiming();
        cpu += ProcessCpuSeconds() - cpu_start;
        if (outcomes.done.load() == 0 || outcomes.failed.load() != 0)
            state.SkipWithError("download failed");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["cpu_s_per_GB"] =
        cpu / (static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e9);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_DownloadCorpus(benchmark::State& state) {
    DownloadSetup setup;
    setup.slots = static_cast<int>(state.range(0));
    setup.tls = state.range(1) != 0;
    setup.megabytes = CorpusMegabytes();
    DownloadCorpus(state, setup);
}

// A distant server: every reply leaves 50 ms after its command came, as over a link with
// that round trip (bandwidth unlimited). 384 MiB in files of up to 32 MiB (88 parts) on 6
// slots, with 1 and 4 BODY commands in flight per connection. Each slot's connection set-up
// (greeting, CAPABILITIES, GROUP: a round trip each) and each file's first request cost a
// round trip at any depth.
void BM_DownloadOverSlowLink(benchmark::State& state) {
    DownloadSetup setup;
    setup.pipeline_depth = static_cast<int>(state.range(0));
    setup.latency = std::chrono::milliseconds(50);
    setup.megabytes = 384;
    setup.file_megabytes = 32;
    DownloadCorpus(state, setup);
}

BENCHMARK(BM_DownloadOverSlowLink)
    ->ArgNames({"depth"})
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_DownloadCorpus)
    ->ArgNames({"slots", "tls"})
    ->ArgsProduct({{1, 6}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
