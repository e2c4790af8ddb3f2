#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/events.h"
#include "db/header_db.h"
#include "db/records.h"
#include "download/download_queue.h"
#include "nntp/worker_state.h"

namespace qs {

// Pauses of the download side; tests shorten them.
struct DownloadTimings {
    std::chrono::milliseconds retry_pause{2000};         // after each failed part fetch
    std::chrono::milliseconds reply_error_pause{1000};   // after a BODY reply other than 22x
    std::chrono::milliseconds failed_entry_pause{2000};  // after an attachment failed
};

// What every download worker shares: the worker state, the queue, and what the engine
// lends them (the groups' databases, a scan run on the worker's slot, NZB import).
class DownloadShared {
  public:
    // The header database of the subscribed group of that exact name, or null.
    using GroupDatabaseFn = std::function<std::shared_ptr<HeaderDatabase>(const std::string&)>;
    // Runs a queued scan of the group on the calling worker's slot; false when the group
    // is not subscribed.
    using ScanEntryFn = std::function<bool(const std::string& group, int slot)>;
    // Imports a downloaded NZB file (Grab And Open of a ".nzb" result).
    using ImportFn = std::function<void(const std::string& path)>;

    DownloadShared(WorkerState& state, DownloadQueue& queue) : state_(state), queue_(queue) {}

    WorkerState& state() { return state_; }
    DownloadQueue& queue() { return queue_; }

    GroupDatabaseFn group_database;
    ScanEntryFn run_scan_entry;
    ImportFn import_nzb;
    DownloadTimings timings;

    // Set by a worker that queued new entries (an imported NZB file); the controlling
    // thread starts workers on the free slots when it sees it.
    std::atomic<bool> start_requested{false};

  private:
    WorkerState& state_;
    DownloadQueue& queue_;
};

// The worker loop of one slot: takes the first queued entry (state 3) or scan entry
// (state 8), downloads or scans it and files it, until the queue holds no more, the work
// is stopped or the slot is disabled. A download entry stays in the queue, marked
// downloading (4), until it is filed, so a crash never loses it.
void DownloadWorker(DownloadShared& shared, int slot);

}  // namespace qs
