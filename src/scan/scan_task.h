#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
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

// A piece of a scan's work: a whole server (a position in the enabled server list), read
// from the resume point by a pass that also plans the server's chunks, or one such chunk.
struct ScanWork {
    int server = 0;
    std::optional<ArticleRange> chunk;
};

// One group's scan: the work still to be done and what each server gave. The workers of
// the scan share it; the last one to leave reports the scan's end to the listener, once.
class ScanJob {
  public:
    ScanJob(ScanTarget target, std::vector<std::string> hosts, EventListener* events);

    const ScanTarget& target() const { return target_; }

    // A worker is counted in before it is started, and the starter seals the job once every
    // worker is on its way, so the scan cannot seem ended early. Controlling thread.
    void AddWorker();
    void Seal();
    // Takes the next piece of work whose server is not in `skip`; false when none is left.
    // While a whole-server pass is still planning, waits for its chunks as long as
    // `keep_waiting` says so.
    bool TakeWork(ScanWork& work, const std::set<int>& skip,
                  const std::function<bool()>& keep_waiting);
    // The planning of a whole server taken with TakeWork ends: its `chunks` (maybe none) go
    // to the front of the work, for every free worker.
    void HandOver(int server, const std::vector<ArticleRange>& chunks);
    // A chunk this worker could not connect for goes back, for the others; any other
    // piece of work taken is Finished once reported.
    void GiveBack(const ScanWork& work);
    void Finished(const ScanWork& work);
    // Takes a chunk of `server` if one is waiting (for a pass that has a connection to it).
    std::optional<ArticleRange> TakeChunkOf(int server);
    // What one pass over a server gave; the passes of a server add up.
    void Report(int index, const ServerScan& result);
    std::string host(int index) const;
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
    std::condition_variable work_added_;
    std::deque<ScanWork> work_;
    std::vector<int> passes_;  // per server: passes reported
    int planning_ = 0;         // whole-server passes that have not handed over yet
    int chunks_begun_ = 0;     // chunks taken with TakeWork, not yet finished or given back
    ScanReport report_;
    int workers_ = 0;
    bool sealed_ = false;
    bool ended_ = false;
};

// The body of a scan worker: takes servers from the job until none is left or the work is
// stopped, then leaves the job. A download worker runs it for a queued scan.
void Scanproc(WorkerState& state, int slot, ScanJob& job);

// What one call of ScanServer reads.
struct ScanPass {
    // A chunk of the server: XOVER first-last, and the chunk's record shrinks as its lines
    // are stored. None: the whole server from the resume point.
    std::optional<ArticleRange> chunk;
    // A whole-server pass with this set plans the server's chunks (ScanChunks) and hands
    // those it does not read itself, with the unread ones of earlier scans, to this. It is
    // called once, and cleared.
    std::function<void(const std::vector<ArticleRange>&)> hand_over;
    // Once a chunk is read to its end, the next chunk of the same server for this pass to
    // read on its connection; none ends the pass.
    std::function<std::optional<ArticleRange>()> next_chunk;
};

// Reads one server's overview of the group into its database: true when read to the end
// or stopped, false when the connection, GROUP, XOVER or the filter failed. `result`
// gets the lines read and, on failure, the server's answer.
// Lines posted before `expiry_cutoff` (when above 0) are not stored.
bool ScanServer(WorkerState& state, const ScanTarget& target, int slot, ServerScan& result,
                int64_t expiry_cutoff = 0, ScanPass pass = {});

// The start number of a server's overview: the highest stored number, else the first
// article; moved up to last - max_headers when that limit is set and higher.
int64_t ScanStartNumber(int64_t highest_stored, int64_t first, int64_t last, int max_headers);

}  // namespace qs
