#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "db/header_db.h"
#include "db/records.h"
#include "nntp/worker_state.h"
#include "scan/scan_task.h"

namespace qs {

// Pauses of the download side; tests shorten them.
struct DownloadTimings {
    std::chrono::milliseconds retry_pause{2000};         // after each failed part fetch
    std::chrono::milliseconds reply_error_pause{1000};   // after a BODY reply other than 22x
    std::chrono::milliseconds failed_entry_pause{2000};  // after an attachment failed
};

// What every download worker shares: the worker state, the scan side (for scan entries),
// the queue and log databases, the subscribed groups and the open-after-download set.
class DownloadShared {
  public:
    // The header database of the subscribed group of that exact name, or null. Called
    // under the queue lock.
    using GroupDatabaseFn = std::function<std::shared_ptr<HeaderDatabase>(const std::string&)>;
    // The scan target of a subscribed group, or nothing when it is not subscribed.
    using ScanTargetFn = std::function<std::optional<ScanTarget>(const std::string&)>;
    // Imports a downloaded NZB file (Grab And Open of a ".nzb" result).
    using ImportFn = std::function<void(const std::string& path)>;

    DownloadShared(WorkerState& state, ScanShared& scans, std::shared_ptr<HeaderDatabase> queue,
                   std::shared_ptr<HeaderDatabase> log)
        : state_(state), scans_(scans), queue_(std::move(queue)), log_(std::move(log)) {}

    WorkerState& state() { return state_; }
    ScanShared& scans() { return scans_; }
    const std::shared_ptr<HeaderDatabase>& queue() const { return queue_; }
    const std::shared_ptr<HeaderDatabase>& log() const { return log_; }

    GroupDatabaseFn group_database;
    ScanTargetFn scan_target;
    ImportFn import_nzb;
    DownloadTimings timings;

    // Grab And Open: attachments whose file is opened once downloaded.
    void AddOpenAfter(const std::string& id);
    // True (and the Id forgotten) when the attachment was grabbed to be opened.
    bool TakeOpenAfter(const std::string& id);
    bool IsOpenAfter(const std::string& id) const;

    // Set by a worker that queued new entries (an imported NZB file); the controlling
    // thread starts workers on the free slots when it sees it.
    std::atomic<bool> start_requested{false};

    // Entries of this run: filed as downloaded, filed as failed, put back unreached.
    std::atomic<int> entries_done{0};
    std::atomic<int> entries_failed{0};
    std::atomic<int> entries_unreached{0};
    // Downloaded entries (counted in entries_done too) with parts given up under SkipMissing.
    std::atomic<int> entries_incomplete{0};
    void ResetCounters() {
        entries_done = 0;
        entries_incomplete = 0;
        entries_failed = 0;
        entries_unreached = 0;
    }

    // Ids a worker is downloading now (queue lock held), so a merge that sets one back to
    // queued never hands it to a second worker.
    std::set<std::string> active;

  private:
    WorkerState& state_;
    ScanShared& scans_;
    std::shared_ptr<HeaderDatabase> queue_;
    std::shared_ptr<HeaderDatabase> log_;
    mutable std::mutex open_after_mutex_;
    std::set<std::string> open_after_;
};

// The worker loop of one slot: takes the first queued entry (state 3) or scan entry
// (state 8), downloads or scans it and files it in the log, until the queue holds no more,
// the work is stopped or the slot is disabled. A download entry stays in the queue, marked
// downloading (4), until it is filed, so a crash never loses it.
void DownloadWorker(DownloadShared& shared, int slot);

// Starts a worker on every enabled slot that has none; returns how many started. Sets the
// downloading flag and starts the speed interval. Controlling thread only.
int StartDownloadWorkers(DownloadShared& shared);

// Starts a worker on one slot when it is enabled and has none. Controlling thread only.
bool StartDownloadWorker(DownloadShared& shared, int slot);

// Entries left marked downloading by a run that ended without filing them go back to
// queued. Returns how many.
int RequeueInterrupted(HeaderDatabase& queue);

}  // namespace qs
