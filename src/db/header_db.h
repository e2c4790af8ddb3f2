#pragma once

// The header databases: one SQLite file per name (a newsgroup, "queue", "log" or "groups")
// holding the Group, Attachment and MessageVars tables, and every query run on them.
//
// Every method may be called from any thread. Each operation commits when it ends, except
// merges made while a batch is open (BeginBatch/EndBatch, or DbBatch): those commit at
// least every kBatchMaxParts parts or kBatchMaxMillis milliseconds, and when the last
// batch ends. The file is in WAL mode, so a killed process leaves it consistent and loses
// at most the open batch.
//
// Locks: the cache lock (row cache, changed-id set) is always taken before the database
// lock, never while the same thread holds the database lock.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/records.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qs {

class Host;
struct Settings;

// What opening a database needs from the program around it.
struct DbEnv {
    std::string data_dir;                // the files are data_dir/<name>.db
    Host* host = nullptr;                // messages about a failed open; may be null
    const Settings* settings = nullptr;  // ShowIncomplete, SortDirection; null: defaults
};

enum class DbKind { Newsgroup, Queue, Log, Groups };

class HeaderDatabase {
  public:
    static constexpr int kBatchMaxParts = 50000;
    static constexpr int kBatchMaxMillis = 1000;
    static constexpr size_t kRowCacheLimit = 20000;

    // Opens (creating when absent) data_dir/<name>.db. A file that cannot be opened is
    // reported, deleted and created afresh once; null when that fails too.
    static std::shared_ptr<HeaderDatabase> Open(const DbEnv& env, const std::string& name);
    ~HeaderDatabase();
    HeaderDatabase(const HeaderDatabase&) = delete;
    HeaderDatabase& operator=(const HeaderDatabase&) = delete;

    static std::string PathFor(const std::string& data_dir, const std::string& name);
    static DbKind KindOf(const std::string& name);

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    DbKind kind() const { return kind_; }

    // Deletes every row of the three tables; the KB total becomes 0.
    bool Empty();
    // Merges an attachment and optionally one scanned part into the database.
    bool StoreAttachment(const MessageVars* part, const Attachment& attachment);
    // Rewrites the state of the stored attachment with the same Id.
    bool SetAttachmentState(const Attachment& attachment);
    // Replaces attachment.partlist by its stored parts in partnum order.
    bool LoadParts(Attachment& attachment);
    bool RemoveAttachment(const Attachment& attachment);
    bool RemoveAttachments(const std::vector<Attachment>& attachments);

    // The current view: for a newsgroup the attachments selected by the filter and
    // ShowIncomplete in the order text's order; for queue and log all of them in stored order.
    bool AttachmentAt(int64_t row, Attachment& out);
    bool FillRowCache(int64_t first, int64_t count);
    int64_t CountRows();

    // Queue order: rows of stored order exchange their whole contents.
    bool SwapRows(int64_t a, int64_t b);
    bool MoveRowToTop(int64_t row);

    bool SetFilter(const std::string& text);
    // "filename", "email", "bytes", "lines", "parts", "date" (and for the groups database
    // "name", "first", "last", "amount", "state", "lastscanned"), optionally + " desc".
    // Anything else is refused and the order kept.
    bool SetOrder(const std::string& text);
    std::string filter() const;
    std::string order() const;

    // Recounted from the stored rows.
    int64_t TotalKilobytes();
    // The running total, cheap, for the status bar.
    int64_t kb_total() const { return kb_total_.load(std::memory_order_relaxed); }
    int64_t HighestArticleId();
    int64_t highest_article_id() const { return highest_seen_.load(std::memory_order_relaxed); }
    bool ClearNewFlags();

    // The groups database.
    bool StoreGroup(const Group& group);
    bool GroupAt(int64_t row, Group& out);
    bool GroupsPage(int64_t first, int64_t count, std::map<int64_t, Group>& rows);
    bool SubscribedGroups(std::vector<Group>& out);
    bool ClearSubscribedMarks();

    void BeginBatch();
    void EndBatch();
    // Commits whatever an open batch holds.
    void Flush();

  private:
    struct Pending {
        Attachment rec;
        int64_t rowid = 0;  // 0: not stored yet
        int64_t partkey = 0;
        int stored_state = 0;
    };

    HeaderDatabase(const DbEnv& env, std::string name, std::string path);
    bool OpenFile();
    void CloseFile();
    bool Exec(const char* sql);
    bool QueryInt(const char* sql, int64_t& out);
    sqlite3_stmt* Stmt(const std::string& sql);
    // A statement prepared once and kept in *slot (the merge path runs these per part).
    sqlite3_stmt* Stmt(sqlite3_stmt*& slot, const std::string& sql);
    bool Fail(const char* what);

    // All below run with db_mu_ held.
    bool BeginWrite();
    void Finish(bool batchable);
    bool Commit();
    bool FlushPending();
    bool LookupAttachment(const std::string& id, Pending& out);
    bool NextPartKey(int64_t& out);
    bool InsertPart(const MessageVars& part, int64_t partkey, const std::string& id,
                    bool* inserted);
    struct ViewSpec;
    ViewSpec CaptureViewLocked() const;  // cache lock held
    bool ViewRowIds(const ViewSpec& view, int64_t first, int64_t count, std::vector<int64_t>& ids);
    bool StoredRowIds(int64_t first, int64_t count, std::vector<int64_t>& ids);
    bool ReadAttachmentByRowid(int64_t rowid, Attachment& out, int64_t* partkey);
    bool ReadRows(const std::vector<int64_t>& ids, std::vector<Attachment>& out,
                  std::vector<int64_t>* partkeys = nullptr);
    bool RewriteRows(const std::vector<int64_t>& ids, const std::vector<Attachment>& rows,
                     const std::vector<int64_t>& partkeys);
    bool RemoveLocked(const Attachment& attachment);
    bool GroupsQuery(const std::string& filter, const std::string& order, int64_t first,
                     int64_t count, std::vector<Group>& out);
    int64_t SumKilobytes();
    void ClearCacheLocked() { row_cache_.clear(); }

    DbEnv env_;
    std::string name_;
    std::string path_;
    DbKind kind_;

    // Cache lock: row cache, changed-id set, filter and order texts.
    mutable std::mutex cache_mu_;
    std::map<int64_t, Attachment> row_cache_;
    std::unordered_set<std::string> changed_ids_;
    std::string filter_;
    std::string order_;

    // Database lock: the connection, statements, the open transaction and pending merges.
    std::mutex db_mu_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> stmts_;
    sqlite3_stmt* lookup_stmt_ = nullptr;
    sqlite3_stmt* insert_part_stmt_ = nullptr;
    sqlite3_stmt* insert_att_stmt_ = nullptr;
    sqlite3_stmt* update_att_stmt_ = nullptr;
    sqlite3_stmt* update_att_state_stmt_ = nullptr;
    int64_t next_partkey_ = 0;  // 0: read it from the file first (inside a transaction)
    bool in_txn_ = false;
    int batch_depth_ = 0;
    int txn_parts_ = 0;
    std::chrono::steady_clock::time_point txn_start_;
    std::vector<Pending> pending_;
    std::unordered_map<std::string, size_t> pending_index_;
    bool highest_known_ = false;

    std::atomic<int64_t> kb_total_{0};
    std::atomic<int64_t> highest_seen_{0};
};

// A batch for as long as it lives; does nothing on a closed database.
class DbBatch {
  public:
    explicit DbBatch(const std::shared_ptr<HeaderDatabase>& db) : db_(db) {
        if (db_)
            db_->BeginBatch();
    }
    ~DbBatch() {
        if (db_)
            db_->EndBatch();
    }
    DbBatch(const DbBatch&) = delete;
    DbBatch& operator=(const DbBatch&) = delete;

  private:
    std::shared_ptr<HeaderDatabase> db_;
};

// The operations on the database a Group object names. Each returns 0 / false and does
// nothing while that database is not open.
bool OpenHeaderDatabase(Group& group, const DbEnv& env, const std::string& name = {});
bool EmptyHeaderDatabase(Group& group);
bool StoreAttachment(Group& group, const MessageVars* part, const Attachment& attachment);
bool SetAttachmentState(Group& group, const Attachment& attachment);
bool LoadParts(Group& group, Attachment& attachment);
bool RemoveAttachment(Group& group, const Attachment& attachment);
bool RemoveAttachments(Group& group, const std::vector<Attachment>& attachments);
bool AttachmentAt(Group& group, int64_t row, Attachment& out);
bool FillRowCache(Group& group, int64_t first, int64_t count);
int64_t CountRows(Group& group);
bool SwapRows(Group& group, int64_t a, int64_t b);
bool MoveRowToTop(Group& group, int64_t row);
bool SetFilter(Group& group, const std::string& text);
bool SetOrder(Group& group, const std::string& text);
int64_t TotalKilobytes(Group& group);
int64_t HighestArticleId(Group& group);
bool ClearNewFlags(Group& group);
bool StoreGroup(Group& groups_db, const Group& group);
bool GroupAt(Group& groups_db, int64_t row, Group& out);
bool GroupsPage(Group& groups_db, int64_t first, int64_t count, std::map<int64_t, Group>& rows);
bool SubscribedGroups(Group& groups_db, std::vector<Group>& out);
bool ClearSubscribedMarks(Group& groups_db);

}  // namespace qs
