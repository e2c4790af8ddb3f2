#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "db/header_db.h"
#include "db/records.h"
#include "scan/overview_line.h"

namespace qs {

// Stores the parsed overview lines of one scan pass on a thread of its own, so that reading
// the socket never waits on SQLite. The reader fills batches of records and hands them over
// through a bounded queue (it waits only when the store falls that far behind); emptied
// batches come back with their string buffers, so a running scan hardly allocates.
//
// The lines are stored in the order they were added, exactly as storing each one at once
// would store them. After a refused write nothing more is stored: failed() turns true and
// the lines behind the failed one are dropped, as a sequential scan stops at that line.
class ScanMerger {
  public:
    static constexpr size_t kBatchLines = 1024;
    static constexpr size_t kQueuedBatches = 8;

    ScanMerger(std::shared_ptr<HeaderDatabase> db, const Group& group);
    // Stores what was added (as Finish does).
    ~ScanMerger();
    ScanMerger(const ScanMerger&) = delete;
    ScanMerger& operator=(const ScanMerger&) = delete;

    // The record to fill for the next line; Add() takes it in. Reader thread.
    OverviewRecord& Next();
    void Add();
    // Hands on what is batched and waits until every line added is stored (or dropped
    // after a failure). False when a write was refused. Reader thread.
    bool Finish();
    // A write was refused; safe from any thread.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

  private:
    // The records' room is taken at once: the articles point into their strings, which must
    // not move while the batch fills.
    struct Batch {
        Batch() { records.reserve(kBatchLines); }
        std::vector<OverviewRecord> records;
        size_t size = 0;
        std::vector<ScannedArticle> articles;  // of the records that make one
    };

    void Send();
    void Run();

    std::shared_ptr<HeaderDatabase> db_;
    const Group& group_;
    std::unique_ptr<Batch> filling_;

    std::mutex mutex_;
    std::condition_variable queued_cv_;  // the merge thread waits for a batch or the end
    std::condition_variable freed_cv_;   // the reader waits for room in the queue
    std::deque<std::unique_ptr<Batch>> queue_;
    std::vector<std::unique_ptr<Batch>> free_;
    bool finishing_ = false;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

}  // namespace qs
