#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "db/header_db.h"
#include "db/records.h"
#include "scan/overview_line.h"

namespace qs {

// Stores the parsed overview lines of one scan pass on a merge thread, so that reading the
// socket never waits on SQLite. The reader fills batches of articles and hands them over
// through a bounded queue (it waits only when the store falls that far behind); emptied
// batches come back with their buffers, so a running scan hardly allocates. A batch holds
// the texts of its articles one after another in one buffer: the merge thread reads them on
// another core, and texts in one run cross between the cores' caches faster than texts
// scattered over the heap.
//
// The mergers of one database (the chunks of a scan read at once) share one merge thread.
// The database takes one writer at a time anyway: merge threads of their own would only take
// turns at its lock, and each change of hands costs a wake-up and the caches of the other
// core, on the path that bounds a scan's speed.
//
// The lines are stored in the order they were added, exactly as storing each one at once
// would store them. After a refused write nothing more is stored: failed() turns true and
// the lines behind the failed one are dropped, as a sequential scan stops at that line.
class ScanMerger {
  public:
    static constexpr size_t kBatchLines = 1024;
    static constexpr size_t kBatchTextBytes = 256 * 1024;  // room for the texts of a batch
    // Batches queued by all mergers of a database: room for what the readers get through
    // while the store commits (tens of milliseconds), instead of waiting for it.
    static constexpr size_t kQueuedBatches = 32;

    ScanMerger(std::shared_ptr<HeaderDatabase> db, const Group& group);
    // Stores what was added (as Finish does).
    ~ScanMerger();
    ScanMerger(const ScanMerger&) = delete;
    ScanMerger& operator=(const ScanMerger&) = delete;

    // Takes in the article of a parsed line (its texts are copied). Reader thread.
    void Add(const OverviewRecord& record);
    // Hands on what is batched and waits until every line added is stored (or dropped
    // after a failure). False when a write was refused. Reader thread.
    bool Finish();
    // A write was refused, or a failed write elsewhere rolled back the open batch with lines
    // of this merger in it, perhaps; safe from any thread.
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // What the database's rollbacks() was when this merger began: the records of what it
    // stored are written only while it still is.
    uint64_t rollbacks_seen() const { return rollbacks_seen_; }

  private:
    // The room for texts is taken at once: the articles point into it, and it must not move
    // while the batch fills.
    struct Batch {
        Batch() {
            text.reserve(kBatchTextBytes);
            articles.reserve(kBatchLines);
        }
        std::string text;
        std::vector<ScannedArticle> articles;
    };
    class MergeThread;

    void Send();
    // Merge thread: stores a batch of this merger's, unless a write was refused before.
    void Store(Batch& batch);

    // Lines stored, then rolled back, would leave a gap behind the lines stored after them.
    void NoteRollback();

    const Group& group_;
    const uint64_t rollbacks_seen_;
    std::shared_ptr<MergeThread> merge_;
    std::unique_ptr<Batch> filling_;
    // The name and poster kept last in filling_'s texts.
    std::string_view last_subject_, last_from_;

    // Guarded by the merge thread's mutex.
    size_t in_flight_ = 0;                // batches handed on and not stored yet
    std::condition_variable settled_cv_;  // Finish waits for the last batch
    std::atomic<bool> failed_{false};
};

}  // namespace qs
