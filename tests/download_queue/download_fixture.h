#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/events.h"
#include "app/host.h"
#include "app/settings.h"
#include "db/header_db.h"
#include "download/download_queue.h"
#include "download/download_worker.h"
#include "download/part_retrieval.h"
#include "nntp/worker_state.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs::test {

// The body of one yEnc part of `data` (bytes [begin, end) of the file), lines separated by
// "\n", as a poster writes it.
std::string YencPart(const std::string& name, const std::string& data, int part, int total,
                     size_t begin, size_t end);
// A file's bytes made up from a seed.
std::string MadeUpBytes(size_t size, uint32_t seed);

// A host that remembers messages and files opened.
class RecordingHost : public Host {
  public:
    void ShowMessage(const std::string& text, Icon) override {
        std::lock_guard lock(mutex);
        messages.push_back(text);
    }
    bool AskYesNo(const std::string&) override { return true; }
    void Refresh() override {}
    void OpenFile(const std::string& path) override {
        std::lock_guard lock(mutex);
        opened.push_back(path);
    }
    std::vector<std::string> Messages() {
        std::lock_guard lock(mutex);
        return messages;
    }

    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<std::string> opened;
};

// Remembers every entry the queue filed or put back, with its outcome.
class RecordingEvents : public EventListener {
  public:
    void OnEntryFiled(const FiledEntry& entry) override {
        std::lock_guard lock(mutex_);
        filed_.push_back(entry);
    }
    std::vector<FiledEntry> Filed() {
        std::lock_guard lock(mutex_);
        return filed_;
    }
    int Count(EntryOutcome outcome) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const FiledEntry& entry : filed_)
            n += entry.outcome == outcome;
        return n;
    }

  private:
    std::mutex mutex_;
    std::vector<FiledEntry> filed_;
};

// Queue and log databases, worker state and the download side over in-process servers.
class DownloadFixture : public ::testing::Test {
  protected:
    DownloadFixture();
    ~DownloadFixture() override;

    // Adds a server entry for `server`.
    void AddServer(const NewsServer& server);
    // Builds the worker state and the shared download state once; the settings snapshot
    // is taken from settings_ now and again by ApplySettings and StartWorkers.
    DownloadShared& Shared();
    void ApplySettings();
    // A yEnc file of `parts` parts posted to `group` on each of the servers; returns its
    // data. The part message-ids are "<name.N@test>".
    std::string PostYenc(const std::vector<NewsServer*>& servers, const std::string& name,
                         size_t size, int parts, uint32_t seed = 1);
    // A queue entry for the file posted by PostYenc (or any message-ids of that form).
    Attachment Entry(const std::string& name, int parts);
    void Queue(const Attachment& entry) { ASSERT_TRUE(queue_db_->StoreAttachment(nullptr, entry)); }

    // Starts a download worker on every enabled free slot, as the engine's StartDownloads.
    void StartWorkers();
    // Runs workers on the enabled slots until they end.
    void RunWorkers();
    // The rows of a database in stored order.
    std::vector<Attachment> Rows(HeaderDatabase& db);
    static int64_t Count(HeaderDatabase& db) { return db.CountView(ViewQuery{}); }
    // BODY commands a server received for a message-id.
    static int BodyCount(const NewsServer& server, const std::string& message_id);

    std::string OutputDir() const { return dir_.File("out") + "/"; }

    TempDir dir_;
    RecordingHost host_;
    RecordingEvents events_;
    Settings settings_;
    std::shared_ptr<HeaderDatabase> queue_db_;
    std::shared_ptr<HeaderDatabase> log_db_;
    std::unique_ptr<qs::DownloadQueue> queue_;
    std::unique_ptr<WorkerState> state_;
    std::unique_ptr<DownloadShared> shared_;
};

}  // namespace qs::test
