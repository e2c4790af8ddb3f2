#include "scan/scan_merger.h"

namespace qs {

ScanMerger::ScanMerger(std::shared_ptr<HeaderDatabase> db, const Group& group)
    : db_(std::move(db)), group_(group), filling_(std::make_unique<Batch>()) {
    thread_ = std::thread([this] { Run(); });
}

ScanMerger::~ScanMerger() {
    Finish();
}

OverviewRecord& ScanMerger::Next() {
    Batch& b = *filling_;
    if (b.size == b.records.size())
        b.records.emplace_back();
    return b.records[b.size];
}

// The article is derived here, on the reader's thread, which has time to spare while the
// merge thread writes.
void ScanMerger::Add() {
    Batch& b = *filling_;
    ScannedArticle article;
    if (ToScannedArticle(b.records[b.size], article))
        b.articles.push_back(article);
    if (++b.size == kBatchLines)
        Send();
}

void ScanMerger::Send() {
    std::unique_lock lock(mutex_);
    freed_cv_.wait(lock, [this] { return queue_.size() < kQueuedBatches; });
    queue_.push_back(std::move(filling_));
    if (free_.empty()) {
        filling_ = std::make_unique<Batch>();
    } else {
        filling_ = std::move(free_.back());
        free_.pop_back();
    }
    queued_cv_.notify_one();
}

bool ScanMerger::Finish() {
    if (thread_.joinable()) {
        if (filling_->size > 0)
            Send();
        {
            std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        queued_cv_.notify_one();
        thread_.join();
    }
    return !failed();
}

void ScanMerger::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_cv_.wait(lock, [this] { return !queue_.empty() || finishing_; });
        if (queue_.empty())
            return;  // finishing, and every batch is stored
        std::unique_ptr<Batch> batch = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        if (!failed() && !db_->StoreScanned(batch->articles, group_.downloaddir, group_.name))
            failed_.store(true, std::memory_order_release);
        batch->size = 0;
        batch->articles.clear();
        lock.lock();
        free_.push_back(std::move(batch));
        freed_cv_.notify_one();
    }
}

}  // namespace qs
