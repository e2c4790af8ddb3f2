// quillstream-testserver: serves a corpus generated from a seed over NNTP.

#include <signal.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/posting_corpus.h"

namespace {

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    using qs::test::Reply;
    CLI::App app{
        "A news server for tests and demos: it serves a corpus generated from a seed, and the "
        "articles posted to it."};
    std::string address = "127.0.0.1";
    int port = 11119;
    qs::test::CorpusOptions corpus_options;
    std::string user, password, nzb_path, sha_path;
    std::vector<std::string> tls_files;
    int delay_ms = 0, latency_ms = 0, body_error = 0, greeting_code = 0;
    int64_t drop_after = -1, scan_group = 0, scan_step = 1;
    int overview_pace_ms = 0;
    bool endless_body = false, junk_body = false, no_serve = false, compress = false;

    app.add_option("--address", address, "address to listen on")->capture_default_str();
    app.add_option("--port", port, "port to listen on (0: any free port)")->capture_default_str();
    app.add_option("--seed", corpus_options.seed, "corpus seed")->capture_default_str();
    app.add_option("--big-mb", corpus_options.big_megabytes, "size of alt.binaries.big in MiB")
        ->capture_default_str();
    app.add_option("--missing-percent", corpus_options.missing_percent,
                   "share of parts answered 430 although the NZB lists them")
        ->check(CLI::Range(0, 100));
    app.add_option("--scan-group", scan_group,
                   "also serve alt.binaries.scan with N overview lines made on the fly (scan "
                   "benchmarks)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--scan-step", scan_step,
                   "number the --scan-group articles 1, 1+N, 1+2N, ... (a wide range of few lines)")
        ->check(CLI::PositiveNumber);
    app.add_option("--overview-pace-ms", overview_pace_ms,
                   "pause this long after every 100 overview lines (a slow XOVER)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--tls", tls_files, "speak TLS with this certificate and key (PEM files)")
        ->expected(2)
        ->type_name("CERT KEY");
    app.add_flag("--compress", compress, "offer and take COMPRESS DEFLATE");
    app.add_option("--user", user, "require AUTHINFO with this user name");
    app.add_option("--password", password, "the password for --user");
    app.add_option("--delay-ms", delay_ms, "delay before every reply");
    app.add_option("--latency-ms", latency_ms,
                   "model a link with this round trip: each reply leaves this long after its "
                   "command came, pipelined commands overlap");
    app.add_option("--drop-after", drop_after, "close each connection after sending N bytes");
    app.add_flag("--endless-body", endless_body, "answer BODY/ARTICLE with an endless line");
    app.add_flag("--junk-body", junk_body, "answer BODY/ARTICLE with junk bytes, then close");
    app.add_option("--body-error", body_error, "answer every BODY/ARTICLE with this code")
        ->check(CLI::IsMember({430, 480, 502}));
    app.add_option("--greeting-code", greeting_code, "greet with this code (e.g. 400, 502)");
    app.add_option("--write-nzb", nzb_path, "write the NZB of the corpus to this file");
    app.add_option("--write-sha256", sha_path, "write 'sha256  name' lines of the corpus files");
    app.add_flag("--no-serve", no_serve, "write the files and exit");
    CLI11_PARSE(app, argc, argv);

    auto corpus = std::make_shared<qs::test::GeneratedCorpus>(corpus_options);
    if (!nzb_path.empty() && !WriteText(nzb_path, corpus->Nzb())) {
        std::cerr << "cannot write " << nzb_path << "\n";
        return 2;
    }
    if (!sha_path.empty() && !WriteText(sha_path, corpus->Sha256List())) {
        std::cerr << "cannot write " << sha_path << "\n";
        return 2;
    }
    if (no_serve)
        return 0;

    // Block the stop signals before any thread starts; the main thread waits for them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::unique_ptr<qs::test::NewsServer> server;
    try {
        qs::test::ServerOptions options{address, port, {}, {}, compress};
        if (tls_files.size() == 2) {
            options.tls_certificate = tls_files[0];
            options.tls_key = tls_files[1];
        }
        server = std::make_unique<qs::test::NewsServer>(options);
    } catch (const std::exception& e) {
        std::cerr << "quillstream-testserver: " << e.what() << "\n";
        return 1;
    }
    // Posted articles are kept, so that a post can be read back.
    std::shared_ptr<const qs::test::NewsCorpus> served = corpus;
    if (scan_group > 0)
        served = std::make_shared<qs::test::ScanGroupCorpus>(corpus, scan_group, scan_step);
    server->SetCorpus(std::make_shared<qs::test::PostingCorpus>(served));
    if (!user.empty())
        server->RequireLogin(user, password);
    if (delay_ms > 0)
        server->SetReplyDelay(std::chrono::milliseconds(delay_ms));
    if (latency_ms > 0)
        server->SetLatency(std::chrono::milliseconds(latency_ms));
    if (drop_after >= 0)
        server->SetDropAfterBytes(drop_after);
    if (overview_pace_ms > 0)
        server->SetOverviewPace(100, std::chrono::milliseconds(overview_pace_ms));
    if (greeting_code)
        server->SetGreeting(Reply::Line(std::to_string(greeting_code) + " service not available"));
    for (const char* verb : {"BODY", "ARTICLE"}) {
        if (endless_body)
            server->SetReply(verb, Reply::Endless("222 0 <endless@testserver>\r\n"));
        else if (junk_body)
            server->SetReply(verb,
                             Reply::Junk(1 << 20, static_cast<uint32_t>(corpus_options.seed)));
        else if (body_error == 430)
            server->SetReply(verb, Reply::Line("430 No article with that message-id"));
        else if (body_error == 480)
            server->SetReply(verb, Reply::Line("480 Authentication required"));
        else if (body_error == 502)
            server->SetReply(verb, Reply::Line("502 Access denied"));
    }

    std::cout << "quillstream-testserver listening on " << address << ":" << server->port()
              << (tls_files.empty() ? "" : " (TLS)") << std::endl;
    for (const auto& g : served->Groups())
        std::cout << "  " << g.name << " " << g.count << " articles (" << g.first << "-" << g.last
                  << ")" << std::endl;

    // The whole-file CRCs of the last yEnc parts, made while the first clients connect.
    std::thread checksums([corpus] { corpus->PrepareChecksums(); });
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    server->Stop();
    checksums.join();
    return 0;
}
