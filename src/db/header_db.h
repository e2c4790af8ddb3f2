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
// The store keeps no list state: a list window or a command reads through its own
// HeaderView (db/header_view.h), which asks ReadView and CountView with its own query.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/part_id_index.h"
#include "db/part_runs.h"
#include "db/records.h"
#include "db/wal_checkpointer.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qs {

class Host;

// What opening a database needs from the program around it.
struct DbEnv {
    std::string data_dir;  // the files are data_dir/<name>.db
    Host* host = nullptr;  // messages about a failed open; may be null
};

// What a view selects. Only a newsgroup database filters and sorts; the queue and the log
// always give every row in stored order (filter, order and hide_incomplete ignored there);
// the groups database filters on the group name and sorts by its own columns.
// (The initializers let a caller name only some fields: ViewQuery{.order = "date"}.)
struct ViewQuery {
    std::string filter{};          // substring of the file name (group name), any case
    std::string order{};           // an order text ("bytes desc"); "" = stored order
    bool hide_incomplete = false;  // leave out state 2 rows
};

enum class DbKind { Newsgroup, Queue, Log, Groups };

// One scanned overview line for StoreScanned, as views into the scan's own buffers: the
// article, and what names and describes the attachment it is a part of.
struct ScannedArticle {
    std::string_view message_id;
    std::string_view id;  // the attachment's Id: its name, or for a single part the Message-ID
    std::string_view filename;
    std::string_view email;
    int64_t article_id = 0;
    int64_t lines = 0;
    int64_t bytes = 0;
    int64_t date = 0;
    int partnum = 1;
    int parts = 1;
};

// Article numbers first .. last of one server, both included.
struct ArticleRange {
    int64_t first = 0;
    int64_t last = 0;
    bool operator==(const ArticleRange&) const = default;
};

class HeaderDatabase {
  public:
    // A commit stops the merge while the scan's reader runs out of room to queue lines:
    // smaller commits keep it reading (50,000 parts: about 20 ms).
    static constexpr int kBatchMaxParts = 50000;
    static constexpr int kBatchMaxMillis = 1000;

    // Opens (creating when absent) data_dir/<name>.db. A file SQLite finds damaged is
    // reported, moved aside (<name>.db.damaged-<time>) and created afresh once; any other
    // failure (busy, locked, full disk, permissions, I/O) is reported with the path and
    // the cause and touches nothing. Null when the database cannot be opened.
    static std::shared_ptr<HeaderDatabase> Open(const DbEnv& env, const std::string& name);
    ~HeaderDatabase();
    HeaderDatabase(const HeaderDatabase&) = delete;
    HeaderDatabase& operator=(const HeaderDatabase&) = delete;

    static std::string PathFor(const std::string& data_dir, const std::string& name);
    static DbKind KindOf(const std::string& name);

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    // How many operations have failed, and why the last one did ("the database is
    // damaged (...)" when SQLite found it so): a reader tells a failed read from the end.
    uint64_t failures() const { return failures_.load(); }
    // How many open transactions a failed write rolled back: what a batch held until then
    // is gone, whichever thread merged it.
    uint64_t rollbacks() const { return rollbacks_.load(); }
    std::string last_error() const {
        std::lock_guard<std::mutex> lock(error_mu_);
        return last_error_;
    }
    DbKind kind() const { return kind_; }

    // Every write below returns false when it failed; a failed write changes nothing (its
    // transaction, with the open batch, is rolled back).

    // Deletes every row of the three tables; the KB total becomes 0.
    [[nodiscard]] bool Empty();
    // Merges an attachment and optionally one scanned part into the database.
    [[nodiscard]] bool StoreAttachment(const MessageVars* part, const Attachment& attachment);
    // Merges scanned articles in order, each exactly as StoreAttachment merges it with an
    // attachment of state 0 and isnew 1 in `dir` and `newsgroup`. Inside an open batch they
    // are written with the batch; outside one each article commits on its own. Stops at the
    // first refused write.
    [[nodiscard]] bool StoreScanned(const std::vector<ScannedArticle>& articles,
                                    const std::string& dir, const std::string& newsgroup);
    // Rewrites the state of the stored attachment with the same Id.
    [[nodiscard]] bool SetAttachmentState(const Attachment& attachment);
    // Moves the stored attachment with the same Id to the end of the stored order.
    [[nodiscard]] bool MoveToEnd(const Attachment& attachment);
    // Replaces attachment.partlist by its stored parts in partnum order.
    [[nodiscard]] bool LoadParts(Attachment& attachment);
    [[nodiscard]] bool RemoveAttachment(const Attachment& attachment);
    [[nodiscard]] bool RemoveAttachments(const std::vector<Attachment>& attachments);

    // Queue order: rows of stored order exchange their whole contents. False (nothing
    // changed) when a row does not exist.
    [[nodiscard]] bool SwapRows(int64_t a, int64_t b);
    [[nodiscard]] bool MoveRowToTop(int64_t row);

    // Changes with every change this object makes to the attachment rows (store, state,
    // remove, move, swap, empty, new flags; the group rows' writes move it too); views
    // compare it to know when cached rows are stale. Writes through another connection to
    // the same file do not move it.
    uint64_t data_version() const { return data_version_.load(std::memory_order_acquire); }
    // Rows first .. first+count-1 of the view `query` selects (fewer past the end); out is
    // replaced. False when the query fails, first is negative, a newsgroup's order text is
    // refused or this is the groups database.
    [[nodiscard]] bool ReadView(const ViewQuery& query, int64_t first, int64_t count,
                                std::vector<Attachment>& out);
    // How many rows the view selects; -1 when the query fails (or the order is refused).
    int64_t CountView(const ViewQuery& query);
    // Every stored row in stored order, first .. first+count-1 (count < 0: to the end).
    [[nodiscard]] bool StoredRows(int64_t first, int64_t count, std::vector<Attachment>& out);
    // The first `limit` stored rows (stored order) whose state is one of `states`
    // (limit < 0: all of them); out is replaced.
    [[nodiscard]] bool RowsInStates(const std::vector<int>& states, int64_t limit,
                                    std::vector<Attachment>& out);
    // "filename", "email", "bytes", "lines", "parts", "date", "state", "Id" (and for the
    // groups database "name", "downloaddir", "first", "last", "amount", "state",
    // "lastscanned"), any case, optionally + " desc"; "" is the stored order. True when
    // `text` is an order a view of this database accepts; `canonical` gets its canonical
    // form ("bytes desc").
    static bool AcceptOrder(const std::string& text, std::string& canonical);

    // Recounted from the stored rows.
    int64_t TotalKilobytes();
    // The running total, cheap, for the status bar.
    int64_t kb_total() const { return kb_total_.load(std::memory_order_relaxed); }
    // The resume point of a scan: the highest article number stored or read through.
    int64_t HighestArticleId();
    // A scan read the overview through `number`: later scans start there even when no
    // row carries it (its lines were filtered out or too old). Refused (false, nothing
    // written) when a transaction was rolled back since rollbacks() was `rollbacks_seen`:
    // the lines it would vouch for may have gone with it.
    [[nodiscard]] bool NoteScannedThrough(int64_t number, uint64_t rollbacks_seen);
    // The chunks of a server's overview (`server` names it, "host:port") that a scan has
    // planned and not yet read to their end: recorded before any of them is read, so that a
    // scan cut short anywhere leaves no gap behind the resume point. Recording replaces
    // what the server had.
    [[nodiscard]] bool RecordScanChunks(const std::string& server,
                                        const std::vector<ArticleRange>& chunks);
    [[nodiscard]] bool UnreadScanChunks(const std::string& server, std::vector<ArticleRange>& out);
    // The lines of `chunk` up to `number` are stored (merged before this call): the chunk
    // shrinks to what is left, or goes. Commits with the lines' batch; refused as
    // NoteScannedThrough is after a rollback.
    [[nodiscard]] bool ScanChunkReadThrough(const std::string& server, const ArticleRange& chunk,
                                            int64_t number, uint64_t rollbacks_seen);
    // Removes the attachments posted before `cutoff` (a known date only) with their
    // parts; `removed` gets how many. The resume point stays where it was.
    [[nodiscard]] bool ExpireBefore(int64_t cutoff, int64_t& removed);
    int64_t highest_article_id() const { return highest_seen_.load(std::memory_order_relaxed); }
    [[nodiscard]] bool ClearNewFlags();

    // The groups database.
    [[nodiscard]] bool StoreGroup(const Group& group);
    // A page of the groups the query selects, in the query's order when it names a group
    // column, else by name (descending for an attachment order with " desc"): rows[first
    // + k] for each; rows already in the map stay.
    [[nodiscard]] bool GroupsPage(const ViewQuery& query, int64_t first, int64_t count,
                                  std::map<int64_t, Group>& rows);
    // The stored record of the named group; false when there is none (or the read failed).
    [[nodiscard]] bool FindGroup(const std::string& name, Group& out);
    // Appends the subscribed groups (state 1) by name.
    bool SubscribedGroups(std::vector<Group>& out);
    [[nodiscard]] bool ClearSubscribedMarks();

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
        std::string stored_reason;
        // The parts this transaction adds, packed into the runs it writes when it commits;
        // a stored attachment's parts, read when a part is first added, and its last run's
        // number; and every part of the two by Message-ID.
        struct Parts {
            part_runs::RunBuilder fresh;
            std::string stored;  // plain: a part is read at its offset
            PartIdIndex ids;
        };
        Parts parts;
        bool stored_read = false;
        int64_t last_seq = 0;
    };
    // How an operation holds the database (see Run in header_db.cpp).
    enum class Access {
        Read,     // pending merges written first; may run inside an open batch
        Write,    // pending merges written first, then committed at once
        Merge,    // pending merges kept; commits with the open batch
        Replace,  // pending merges dropped unwritten; committed at once
    };
    struct ViewSql;

    HeaderDatabase(const DbEnv& env, std::string name, std::string path);
    bool OpenFile();
    bool CreateOrConvertTables();
    bool ConvertPartRowsToRuns();
    void CloseFile();
    bool Exec(const char* sql);
    bool QueryInt(const char* sql, int64_t& out);
    sqlite3_stmt* Stmt(const std::string& sql);
    // A statement prepared once and kept in *slot (the merge path runs these per part).
    sqlite3_stmt* Stmt(sqlite3_stmt*& slot, std::string_view sql);
    bool Fail(const char* what);
    void RequestCheckpoint();
    static int OnWalCommit(void* self, sqlite3* db, const char* schema, int frames);

    // The one way in for every operation: body runs with the database lock held (inside
    // the write transaction unless access is Read) and returns false when it failed.
    template <typename Body>
    bool Run(Access access, const char* what, Body&& body);

    // All below run with db_mu_ held.
    bool BeginWrite();
    bool Finish(bool batchable);
    bool Commit();
    bool FlushPending();
    void Changed() { data_version_.fetch_add(1, std::memory_order_acq_rel); }
    bool LookupAttachment(std::string_view id, Pending& out);
    bool NextPartKey(int64_t& out);
    size_t PendingSlot(std::string_view id, bool& found);
    size_t AddPending(Pending&& p, std::string_view id);
    bool AddPart(size_t slot, const part_runs::PackedPart& part, bool& added);
    bool ReadStoredRuns(size_t slot);
    bool WriteRuns(int64_t partkey, int64_t last_seq, const part_runs::RunBuilder& runs);
    void DropPending();
    bool MergeLocked(const MessageVars* part, const Attachment& attachment);
    bool MergeScanned(const ScannedArticle& article, const std::string& dir,
                      const std::string& newsgroup);
    bool OrderUsable(const ViewQuery& query) const;
    ViewSql ViewSqlFor(const ViewQuery& query) const;
    bool ViewRowIds(const ViewSql& view, int64_t first, int64_t count, std::vector<int64_t>& ids);
    bool StoredRowIds(int64_t first, int64_t count, std::vector<int64_t>& ids);
    bool ReadAttachmentByRowid(int64_t rowid, Attachment& out, int64_t* partkey);
    bool ReadRows(const std::vector<int64_t>& ids, std::vector<Attachment>& out,
                  std::vector<int64_t>* partkeys = nullptr);
    bool SelectRows(sqlite3_stmt* s, std::vector<Attachment>& out);
    bool RewriteRows(const std::vector<int64_t>& ids, const std::vector<Attachment>& rows,
                     const std::vector<int64_t>& partkeys);
    bool RemoveLocked(const Attachment& attachment);
    bool GroupsQuery(const ViewQuery& query, int64_t first, int64_t count, std::vector<Group>& out);
    bool SumKilobytes(int64_t& kb);
    void SizePageCache(int64_t attachments);
    bool PutScanChunk(const std::string& server, const ArticleRange& chunk);

    DbEnv env_;
    std::string name_;
    std::string path_;
    DbKind kind_;

    // Database lock: the connection, statements, the open transaction and pending merges.
    std::mutex db_mu_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> stmts_;
    sqlite3_stmt* lookup_stmt_ = nullptr;
    sqlite3_stmt* insert_run_stmt_ = nullptr;
    sqlite3_stmt* read_runs_stmt_ = nullptr;
    sqlite3_stmt* insert_att_stmt_ = nullptr;
    sqlite3_stmt* insert_att_run_stmt_ = nullptr;
    sqlite3_stmt* update_att_stmt_ = nullptr;
    sqlite3_stmt* update_att_state_stmt_ = nullptr;
    std::unique_ptr<WalCheckpointer> checkpointer_;
    int wal_frames_ = 0;        // in the write-ahead log after the last commit
    int requested_at_ = 0;      // its size when a checkpoint was last asked for
    int64_t next_partkey_ = 0;  // 0: read it from the file first (inside a transaction)
    bool in_txn_ = false;
    int batch_depth_ = 0;
    int txn_parts_ = 0;
    std::chrono::steady_clock::time_point txn_start_;
    std::vector<Pending> pending_;
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };
    std::unordered_map<std::string, size_t, TextHash, std::equal_to<>> pending_index_;
    // Emptied part buffers of earlier transactions, while a batch is open: a scan commits
    // thousands of attachments a second, and fresh buffers would each be paged in anew.
    std::vector<Pending::Parts> spare_parts_;
    int64_t cache_kib_ = 0;         // the page cache's size
    size_t last_scanned_slot_ = 0;  // the pending attachment of the last scanned article
    bool parts_damaged_ = false;    // stored parts could not be read
    bool highest_known_ = false;

    std::atomic<int64_t> kb_total_{0};
    std::atomic<int64_t> highest_seen_{0};
    std::atomic<uint64_t> data_version_{1};
    std::atomic<uint64_t> failures_{0};
    std::atomic<uint64_t> rollbacks_{0};  // changed under db_mu_
    mutable std::mutex error_mu_;
    std::string last_error_;
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

// Opens the database named `name` (the group's own name when empty) into group.db and
// gives the group that name; true at once when group.db is open already. A missing name
// is reported through env.host.
bool OpenHeaderDatabase(Group& group, const DbEnv& env, const std::string& name = {});

}  // namespace qs
