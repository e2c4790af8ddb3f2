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

void ScanMerger::Add() {
    if (++filling_->size == kBatchLines)
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
        if (!failed())
            Store(*batch);
        batch->size = 0;
        lock.lock();
        free_.push_back(std::move(batch));
        freed_cv_.notify_one();
    }
}

void ScanMerger::Store(const Batch& batch) {
    articles_.clear();
    for (size_t i = 0; i < batch.size; ++i) {
        ScannedArticle article;
        if (ToScannedArticle(batch.records[i], article))
            articles_.push_back(article);
    }
    if (!db_->StoreScanned(articles_, group_.downloaddir, group_.name))
        failed_.store(true, std::memory_order_release);
}

}  // namespace qs
