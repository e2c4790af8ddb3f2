#include "download_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <random>

#include "download/crc32.h"

namespace qs::test {

using namespace std::chrono_literals;

std::string MadeUpBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(rng() & 0xff);
    return out;
}

std::string YencPart(const std::string& name, const std::string& data, int part, int total,
                     size_t begin, size_t end) {
    char head[256];
    std::snprintf(head, sizeof head, "=ybegin part=%d total=%d line=128 size=%zu name=%s\n", part,
                  total, data.size(), name.c_str());
    std::string out = head;
    std::snprintf(head, sizeof head, "=ypart begin=%zu end=%zu\n", begin + 1, end);
    out += head;
    std::string line;
    for (size_t i = begin; i < end; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i] + 42);
        if (c == 0 || c == '\n' || c == '\r' || c == '=' || (c == '.' && line.empty())) {
            line += '=';
            c = static_cast<unsigned char>(c + 64);
        }
        line += static_cast<char>(c);
        if (line.size() >= 128) {
            out += line + "\n";
            line.clear();
        }
    }
    if (!line.empty())
        out += line + "\n";
    uint32_t crc = Crc32(0, data.data() + begin, end - begin);
    std::snprintf(head, sizeof head, "=yend size=%zu part=%d pcrc32=%08x\n", end - begin, part,
                  crc);
    out += head;
    return out;
}

DownloadFixture::DownloadFixture() {
    settings_.Thread[1] = settings_.Thread[2] = settings_.Thread[3] = settings_.Thread[4] =
        settings_.Thread[5] = 0;
    settings_.AutoCreateDirs = 1;
    settings_.BaseDir = dir_.File("base");
    ::mkdir(OutputDir().c_str(), 0700);
    DbEnv env;
    env.data_dir = dir_.path();
    env.host = &host_;
    queue_db_ = HeaderDatabase::Open(env, "queue");
    log_db_ = HeaderDatabase::Open(env, "log");
    queue_ = std::make_unique<qs::DownloadQueue>(queue_db_, log_db_, &events_);
}

DownloadFixture::~DownloadFixture() {
    // The workers go before the shared state they reach.
    if (state_) {
        state_->StopAll();
        state_->JoinAll();
    }
}

void DownloadFixture::AddServer(const NewsServer& server) {
    ServerEntry e;
    e.host = "127.0.0.1";
    e.port = server.port();
    settings_.servers.push_back(e);
}

DownloadShared& DownloadFixture::Shared() {
    if (!shared_) {
        state_ = std::make_unique<WorkerState>(std::make_shared<const Settings>(settings_), &host_);
        shared_ = std::make_unique<DownloadShared>(*state_, *queue_);
        shared_->timings.retry_pause = 1ms;
        shared_->timings.reply_error_pause = 1ms;
        shared_->timings.failed_entry_pause = 1ms;
    }
    return *shared_;
}

void DownloadFixture::ApplySettings() {
    Shared();
    state_->SetSettings(std::make_shared<const Settings>(settings_));
}

std::string DownloadFixture::PostYenc(const std::vector<NewsServer*>& servers,
                                      const std::string& name, size_t size, int parts,
                                      uint32_t seed) {
    std::string data = MadeUpBytes(size, seed);
    size_t per = (size + static_cast<size_t>(parts) - 1) / static_cast<size_t>(parts);
    for (NewsServer* server : servers) {
        for (int p = 1; p <= parts; ++p) {
            MemoryCorpus::Article a;
            a.subject = name + " (" + std::to_string(p) + "/" + std::to_string(parts) + ")";
            a.message_id = "<" + name + "." + std::to_string(p) + "@test>";
            size_t begin = per * static_cast<size_t>(p - 1);
            a.body = YencPart(name, data, p, parts, begin, std::min(size, begin + per));
            server->memory_corpus()->Add("alt.binaries.test", a);
        }
    }
    return data;
}

Attachment DownloadFixture::Entry(const std::string& name, int parts) {
    Attachment a;
    a.Id = a.filename = name + " (1/" + std::to_string(parts) + ")";
    a.state = StateQueued;
    a.parts = parts;
    a.dir = OutputDir();
    a.newsgroup = "alt.binaries.test";
    for (int p = 1; p <= parts; ++p) {
        MessageVars mv;
        mv.MessageId = "<" + name + "." + std::to_string(p) + "@test>";
        mv.attachment = a.Id;
        mv.partnum = p;
        a.partlist.push_back(mv);
    }
    a.partcount = parts;
    return a;
}

void DownloadFixture::StartWorkers() {
    ApplySettings();
    state_->SetDownloading(true);
    state_->StartInterval();
    for (int i = 0; i < kThreadSlots; ++i) {
        if (state_->slot(i).enabled && !state_->slot(i).busy)
            state_->Launch(i, [this, i] { DownloadWorker(*shared_, i); });
    }
}

void DownloadFixture::RunWorkers() {
    StartWorkers();
    state_->JoinAll();
}

std::vector<Attachment> DownloadFixture::Rows(HeaderDatabase& db) {
    std::vector<Attachment> rows;
    EXPECT_TRUE(db.StoredRows(0, -1, rows)) << db.name();
    return rows;
}

int DownloadFixture::BodyCount(const NewsServer& server, const std::string& message_id) {
    int n = 0;
    for (const std::string& c : server.commands())
        n += c == "BODY " + message_id;
    return n;
}

}  // namespace qs::test
