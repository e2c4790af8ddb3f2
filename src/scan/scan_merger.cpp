#include "scan/scan_merger.h"

namespace qs {

ScanMerger::ScanMerger(std::shared_ptr<HeaderDatabase> db, const Group& group)
    : db_(std::move(db)), group_(group), filling_(std::make_unique<Batch>()) {
    thread_ = std::thread([this] { Run(); });
}

ScanMerger::~ScanMerger() {
    Finish();
}

// The article is derived here, on the reader's thread, which has time to spare while the
// merge thread writes.
void ScanMerger::Add(const OverviewRecord& record) {
    const size_t size = record.subject.size() + record.from.size() + record.message_id.size();
    if (filling_->text.size() + size > filling_->text.capacity()) {
        if (!filling_->articles.empty())
            Send();
        filling_->text.reserve(size);  // only a line longer than a batch's room grows it
    }
    std::string& text = filling_->text;
    const size_t start = text.size();
    auto keep = [&text](std::string_view view) {
        const size_t at = text.size();
        text.append(view);
        return std::string_view(text).substr(at, view.size());
    };
    OverviewRecord kept = record;
    kept.subject = keep(record.subject);
    kept.from = keep(record.from);
    kept.message_id = keep(record.message_id);
    ScannedArticle article;
    if (!ToScannedArticle(kept, article)) {
        text.resize(start);
        return;
    }
    filling_->articles.push_back(article);
    if (filling_->articles.size() == kBatchLines)
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
        if (!filling_->articles.empty())
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
        batch->text.clear();
        batch->articles.clear();
        lock.lock();
        free_.push_back(std::move(batch));
        freed_cv_.notify_one();
    }
}

}  // namespace qs
