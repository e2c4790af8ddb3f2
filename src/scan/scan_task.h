#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/events.h"
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

// One group's scan: the servers still to be read (positions in the enabled server list)
// and what each gave. The workers of the scan share it; the last one to leave reports the
// scan's end to the listener, once.
class ScanJob {
  public:
    ScanJob(ScanTarget target, std::vector<std::string> hosts, EventListener* events);

    const ScanTarget& target() const { return target_; }

    // A worker is counted in before it is started, and the starter seals the job once every
    // worker is on its way, so the scan cannot seem ended early. Controlling thread.
    void AddWorker();
    void Seal();
    // Takes the next server to read; false when none is left.
    bool TakeServer(int& index);
    // What reading one server gave.
    void Report(int index, const ServerScan& result);
    // A worker is done with the scan; the last one reports its end.
    void Leave();

    // A server's scan starts: its cut-off joins the job's (the earliest is kept).
    void NoteExpiryCutoff(std::optional<int64_t> cutoff);
    std::optional<int64_t> expiry_cutoff() const;

    bool ended() const;
    ScanReport report() const;

  private:
    void Leave(bool worker);
    void ExpireHeaders(ScanReport& ended);

    ScanTarget target_;
    EventListener* events_;
    mutable std::mutex mutex_;
    std::deque<int> servers_;
    ScanReport report_;
    int workers_ = 0;
    bool sealed_ = false;
    bool ended_ = false;
};

// The body of a scan worker: takes servers from the job until none is left or the work is
// stopped, then leaves the job. A download worker runs it for a queued scan.
void Scanproc(WorkerState& state, int slot, ScanJob& job);

// Reads one server's overview of the group into its database: true when read to the end
// or stopped, false when the connection, GROUP, XOVER or the filter failed. `result`
// gets the lines read and, on failure, the server's answer.
// Lines posted before `expiry_cutoff` (when above 0) are not stored.
bool ScanServer(WorkerState& state, const ScanTarget& target, int slot, ServerScan& result,
                int64_t expiry_cutoff = 0);

// The start number of a server's overview: the highest stored number, else the first
// article; moved up to last - max_headers when that limit is set and higher.
int64_t ScanStartNumber(int64_t highest_stored, int64_t first, int64_t last, int max_headers);

}  // namespace qs
