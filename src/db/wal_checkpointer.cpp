#include "db/wal_checkpointer.h"

#include <sqlite3.h>

#include "app/debug_log.h"

namespace qs {

WalCheckpointer::WalCheckpointer(std::string path) : path_(std::move(path)) {}

WalCheckpointer::~WalCheckpointer() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (db_)
        sqlite3_close_v2(db_);
}

void WalCheckpointer::Request() {
    std::lock_guard lock(mu_);
    if (stopping_ || gave_up_)
        return;
    requested_ = true;
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
    cv_.notify_all();
}

void WalCheckpointer::WaitIdle() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return !requested_ && !running_; });
}

void WalCheckpointer::Run() {
    std::unique_lock lock(mu_);
    for (;;) {
        cv_.wait(lock, [this] { return requested_ || stopping_; });
        if (stopping_)
            break;
        requested_ = false;
        running_ = true;
        lock.unlock();
        const bool ok = Checkpoint();
        lock.lock();
        running_ = false;
        cv_.notify_all();
        if (!ok) {
            gave_up_ = true;  // the writer's own checkpoints keep the log in bounds
            break;
        }
    }
    requested_ = false;
    cv_.notify_all();
}

bool WalCheckpointer::Checkpoint() {
    if (!db_) {
        // No CREATE: the file is the writer's, which exists; a missing one is an error here.
        if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            LogLine("SQL error: cannot open %s for checkpoints: %s\n", path_.c_str(),
                    db_ ? sqlite3_errmsg(db_) : "out of memory");
            sqlite3_close_v2(db_);
            db_ = nullptr;
            return false;
        }
        // The checkpoint syncs the log before it copies and the file after, as the
        // writer's own would.
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    }
    const int rc =
        sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    // Busy: another connection's checkpoint runs; the next request tries again.
    if (rc != SQLITE_OK && rc != SQLITE_BUSY)
        LogLine("SQL error: checkpoint of %s: %s\n", path_.c_str(), sqlite3_errmsg(db_));
    return true;
}

}  // namespace qs
