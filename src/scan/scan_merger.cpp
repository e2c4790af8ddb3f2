#include "scan/scan_merger.h"

#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "app/thread_priority.h"

namespace qs {

// The merge thread of one database: stores the batches of every merger writing into it, in
// the order they were handed on. It runs while a merger holds it; the last one to let go
// ends it (every batch is stored by then: a merger finishes before it lets go).
class ScanMerger::MergeThread {
  public:
    // Every reader of a scan waits on this thread when it falls behind: it does not run at
    // the readers' lowest priority, where they would take turns with it for the CPU.
    explicit MergeThread(std::shared_ptr<HeaderDatabase> db) : db_(std::move(db)) {
        thread_ = StartAtNormalPriority([this] { Run(); });
    }
    ~MergeThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        queued_cv_.notify_one();
        thread_.join();
    }
    MergeThread(const MergeThread&) = delete;
    MergeThread& operator=(const MergeThread&) = delete;

    // The running merge thread of `db`, or a new one.
    static std::shared_ptr<MergeThread> Of(const std::shared_ptr<HeaderDatabase>& db) {
        static std::mutex registry_mutex;
        static std::map<const HeaderDatabase*, std::weak_ptr<MergeThread>> registry;
        std::lock_guard lock(registry_mutex);
        std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
        std::weak_ptr<MergeThread>& entry = registry[db.get()];
        std::shared_ptr<MergeThread> thread = entry.lock();
        if (!thread) {
            thread = std::make_shared<MergeThread>(db);
            entry = thread;
        }
        return thread;
    }

    HeaderDatabase& db() { return *db_; }
    std::mutex& mutex() { return mutex_; }
    // Waits for room in the queue, queues the batch and returns an emptied one, if any.
    // Called with mutex() held.
    std::unique_ptr<Batch> Queue(std::unique_lock<std::mutex>& lock, ScanMerger* merger,
                                 std::unique_ptr<Batch> batch) {
        room_cv_.wait(lock, [this] { return queue_.size() < kQueuedBatches; });
        queue_.emplace_back(merger, std::move(batch));
        queued_cv_.notify_one();
        if (free_.empty())
            return nullptr;
        std::unique_ptr<Batch> emptied = std::move(free_.back());
        free_.pop_back();
        return emptied;
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            queued_cv_.wait(lock, [this] { return !queue_.empty() || stopping_; });
            if (queue_.empty())
                return;  // stopping, and every batch is stored
            auto [merger, batch] = std::move(queue_.front());
            queue_.pop_front();
            room_cv_.notify_one();
            lock.unlock();
            merger->Store(*batch);
            lock.lock();
            free_.push_back(std::move(batch));
            // The merger may end as soon as the lock is let go: it is not touched after that.
            --merger->in_flight_;
            merger->settled_cv_.notify_one();
        }
    }

    std::shared_ptr<HeaderDatabase> db_;
    std::mutex mutex_;
    std::condition_variable queued_cv_;  // the merge thread waits for a batch or the end
    std::condition_variable room_cv_;    // readers wait for room in the queue
    std::deque<std::pair<ScanMerger*, std::unique_ptr<Batch>>> queue_;
    std::vector<std::unique_ptr<Batch>> free_;  // emptied batches, with their buffers
    bool stopping_ = false;
    std::thread thread_;
};

ScanMerger::ScanMerger(std::shared_ptr<HeaderDatabase> db, const Group& group)
    : group_(group),
      rollbacks_seen_(db->rollbacks()),
      merge_(MergeThread::Of(db)),
      filling_(std::make_unique<Batch>()) {}

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
    // The parts of a file mostly come one after another, with one name and one poster: those
    // texts are kept once for the run. Fewer bytes written is fewer cache lines to take over
    // from the merge thread's core, which read this buffer last.
    auto keep_again = [&keep](std::string_view view, std::string_view& last) {
        if (view != last)
            last = keep(view);
        return last;
    };
    const std::string_view last_subject = last_subject_, last_from = last_from_;
    OverviewRecord kept = record;
    kept.subject = keep_again(record.subject, last_subject_);
    kept.from = keep_again(record.from, last_from_);
    kept.message_id = keep(record.message_id);
    ScannedArticle article;
    if (!ToScannedArticle(kept, article)) {
        text.resize(start);
        last_subject_ = last_subject;
        last_from_ = last_from;
        return;
    }
    filling_->articles.push_back(article);
    if (filling_->articles.size() == kBatchLines)
        Send();
}

void ScanMerger::Send() {
    std::unique_ptr<Batch> next;
    {
        std::unique_lock lock(merge_->mutex());
        next = merge_->Queue(lock, this, std::move(filling_));
        ++in_flight_;
    }
    filling_ = next ? std::move(next) : std::make_unique<Batch>();
    last_subject_ = last_from_ = std::string_view();
}

bool ScanMerger::Finish() {
    if (!filling_->articles.empty())
        Send();
    std::unique_lock lock(merge_->mutex());
    settled_cv_.wait(lock, [this] { return in_flight_ == 0; });
    NoteRollback();
    return !failed();
}

void ScanMerger::NoteRollback() {
    if (merge_->db().rollbacks() != rollbacks_seen_)
        failed_.store(true, std::memory_order_release);
}

void ScanMerger::Store(Batch& batch) {
    NoteRollback();
    if (!failed() && !merge_->db().StoreScanned(batch.articles, group_.downloaddir, group_.name))
        failed_.store(true, std::memory_order_release);
    batch.text.clear();
    batch.articles.clear();
}

}  // namespace qs
