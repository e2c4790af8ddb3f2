#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "db/header_db.h"
#include "db/records.h"
#include "nntp/worker_state.h"

namespace qs {

// A group as a scan sees it: its stored fields, its open header database and the highest
// article number stored when the scan was prepared.
struct ScanTarget {
    Group group;
    std::shared_ptr<HeaderDatabase> db;
    int64_t start_article = 0;
};

// What every scan worker shares: the worker state, the server work list (positions in the
// enabled server list, guarded by the queue lock) and the queue database that takes a scan
// entry when no slot is free.
class ScanShared {
  public:
    ScanShared(WorkerState& state, std::shared_ptr<HeaderDatabase> queue)
        : state_(state), queue_(std::move(queue)) {}

    WorkerState& state() { return state_; }
    const std::shared_ptr<HeaderDatabase>& queue() const { return queue_; }

    // Guarded by state().queue_mutex().
    std::deque<int> servers;

    // Servers whose overview was read to the end, and those that failed, since the last reset.
    std::atomic<int> servers_scanned{0};
    std::atomic<int> servers_failed{0};

  private:
    WorkerState& state_;
    std::shared_ptr<HeaderDatabase> queue_;
};

// Prepares the scan of one group and starts a worker on every enabled free slot; when none
// is free the scan waits as a scan entry at the head of the queue. Stamps `lastscanned` on
// `group`, ensures its download directory and clears its new marks. Returns the number of
// workers started.
int StartScan(ScanShared& shared, Group& group, const std::shared_ptr<HeaderDatabase>& db);

// The body of a scan worker: takes servers from the work list until it is empty or the
// work is stopped. A download worker calls it for a scan entry.
void Scanproc(ScanShared& shared, int slot, const ScanTarget& target);

// Reads one server's overview of the group into its database: 1 when read to the end or
// stopped, 0 when the connection, GROUP, XOVER or the filter failed.
int ScanServer(ScanShared& shared, const ScanTarget& target, int slot);

// The start number of a server's overview: the highest stored number, else the first
// article; moved up to last - max_headers when that limit is set and higher.
int64_t ScanStartNumber(int64_t highest_stored, int64_t first, int64_t last, int max_headers);

}  // namespace qs
