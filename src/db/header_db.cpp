#include "db/header_db.h"

#include <sqlite3.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <system_error>

#include "app/debug_log.h"
#include "app/host.h"
#include "app/text_util.h"
#include "db/part_runs.h"

namespace qs {
namespace {

// Every database carries the same three tables. Attachment and Group keep their stored
// (insertion) order in an explicit key, so that rewriting rows cannot renumber them.
//
// The parts are clustered by their attachment's partkey, a number given to each attachment
// when it is first stored (one more than the highest in use) and carried with its contents
// when queue rows are rewritten. The key is also what ties a part to its attachment: the
// part does not repeat the attachment's Id (files before user_version 3 did; the column is
// dropped when they are opened). A MessageVars row is a run of parts, packed (see
// db/part_runs.h): the parts one transaction added to one attachment, numbered by seq in
// the order they were written. ArticleId is the highest article number of the run. The
// runs are a rowid table, so that a new one is appended to the end of the file's B-tree
// (a run is kilobytes: keyed by partkey, four to a page, the tree would be rebalanced
// every other insert); a small index finds an attachment's runs. (ScanChunk's key columns
// come first: SQLite 3.40's integrity check misreads WITHOUT ROWID tables declared
// otherwise.)
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS MessageVars(
  partkey INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  ArticleId INTEGER NOT NULL DEFAULT 0,
  parts BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS MessageVars_run ON MessageVars(partkey, seq);
CREATE TABLE IF NOT EXISTS Attachment(
  seq INTEGER PRIMARY KEY,
  Id TEXT NOT NULL,
  filename TEXT NOT NULL COLLATE NOCASE,
  email TEXT NOT NULL,
  bytes INTEGER NOT NULL DEFAULT 0,
  lines INTEGER NOT NULL DEFAULT 0,
  parts INTEGER NOT NULL DEFAULT 1,
  newsgroup TEXT NOT NULL,
  state INTEGER NOT NULL DEFAULT 0,
  isnew INTEGER NOT NULL DEFAULT 0,
  dir TEXT NOT NULL,
  date INTEGER NOT NULL DEFAULT 0,
  partcount INTEGER NOT NULL DEFAULT 0,
  partkey INTEGER NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '');
CREATE UNIQUE INDEX IF NOT EXISTS Attachment_Id ON Attachment(Id);
CREATE INDEX IF NOT EXISTS Attachment_partkey ON Attachment(partkey);
CREATE INDEX IF NOT EXISTS Attachment_filename ON Attachment(filename, state);
CREATE INDEX IF NOT EXISTS Attachment_email ON Attachment(email, state);
CREATE INDEX IF NOT EXISTS Attachment_bytes ON Attachment(bytes, state);
CREATE INDEX IF NOT EXISTS Attachment_lines ON Attachment(lines, state);
CREATE INDEX IF NOT EXISTS Attachment_parts ON Attachment(parts, state);
CREATE INDEX IF NOT EXISTS Attachment_date ON Attachment(date, state);
CREATE INDEX IF NOT EXISTS Attachment_state ON Attachment(state);
CREATE TABLE IF NOT EXISTS "Group"(
  seq INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  downloaddir TEXT NOT NULL,
  "first" INTEGER NOT NULL DEFAULT 0,
  "last" INTEGER NOT NULL DEFAULT 0,
  amount INTEGER NOT NULL DEFAULT 0,
  state INTEGER NOT NULL DEFAULT 0,
  lastscanned INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX IF NOT EXISTS Group_name ON "Group"(name);
CREATE INDEX IF NOT EXISTS Group_first ON "Group"("first");
CREATE INDEX IF NOT EXISTS Group_last ON "Group"("last");
CREATE INDEX IF NOT EXISTS Group_amount ON "Group"(amount);
CREATE INDEX IF NOT EXISTS Group_state ON "Group"(state);
CREATE INDEX IF NOT EXISTS Group_lastscanned ON "Group"(lastscanned);
CREATE TABLE IF NOT EXISTS ScanResume(
  id INTEGER PRIMARY KEY CHECK(id=1),
  highest INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS ScanChunk(
  server TEXT NOT NULL,
  "first" INTEGER NOT NULL,
  "last" INTEGER NOT NULL,
  PRIMARY KEY(server, "first")) WITHOUT ROWID;
)sql";
constexpr int64_t kSchemaVersion = 4;  // PRAGMA user_version of the layout above

// WAL pages after a commit that start a checkpoint (64 MiB of 16 KiB pages), and the size
// at which the writer waits for the WAL to be copied back so that it can start over.
constexpr int kCheckpointFrames = 4096;
constexpr int kWalLimitFrames = 4 * kCheckpointFrames;

// Files written before the parts were keyed by partkey (user_version 0 with tables in
// them): the attachments get their stored key as partkey and the parts move over.
const char* const kMigrateToPartKey = R"sql(
ALTER TABLE Attachment ADD COLUMN partkey INTEGER NOT NULL DEFAULT 0;
UPDATE Attachment SET partkey=seq;
ALTER TABLE MessageVars RENAME TO MessageVars_v0;
CREATE TABLE MessageVars(
  partkey INTEGER NOT NULL,
  MessageId TEXT NOT NULL,
  ArticleId INTEGER NOT NULL DEFAULT 0,
  lines INTEGER NOT NULL DEFAULT 0,
  bytes INTEGER NOT NULL DEFAULT 0,
  partnum INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY(partkey, MessageId)) WITHOUT ROWID;
INSERT OR IGNORE INTO MessageVars(MessageId,ArticleId,lines,bytes,partnum,partkey)
  SELECT m.MessageId,m.ArticleId,m.lines,m.bytes,m.partnum,a.partkey
  FROM MessageVars_v0 m JOIN Attachment a ON a.Id=m.attachment;
DROP TABLE MessageVars_v0;
)sql";

const char* const kInsertRunSql =
    "INSERT INTO MessageVars(partkey,seq,ArticleId,parts) VALUES(?,?,?,?)";

// One row of kAttInsertCols and the partkey.
const char* const kAttInsertRow = "(?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr size_t kAttInsertRowColumns = 14;
// New attachments written by one statement.
constexpr size_t kAttachmentRunRows = 16;

// Column order of ReadAttachment.
const char* const kAttCols =
    "state,email,parts,partcount,bytes,lines,date,Id,filename,dir,newsgroup,isnew,reason";
const char* const kGroupCols = "name,downloaddir,\"first\",\"last\",amount,state,lastscanned";

const char* const kAttachmentOrders[] = {"filename", "email", "bytes", "lines",
                                         "parts",    "date",  "state", "Id"};
const char* const kGroupOrders[] = {"name",   "downloaddir", "first",      "last",
                                    "amount", "state",       "lastscanned"};

// Resets a statement and drops its bindings when the scope ends.
struct StmtScope {
    sqlite3_stmt* s;
    ~StmtScope() {
        if (s) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    }
};

void BindText(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
}

std::string ColText(sqlite3_stmt* s, int i) {
    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

// A blob column of the current row, valid until the statement steps on.
std::string_view ColBlob(sqlite3_stmt* s, int i) {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
    return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(s, i)))
             : std::string_view();
}

void ReadAttachment(sqlite3_stmt* s, int c, Attachment& a) {
    a.state = sqlite3_column_int(s, c + 0);
    a.email = ColText(s, c + 1);
    a.parts = sqlite3_column_int(s, c + 2);
    a.partcount = sqlite3_column_int(s, c + 3);
    a.bytes = sqlite3_column_int64(s, c + 4);
    a.lines = sqlite3_column_int64(s, c + 5);
    a.date = sqlite3_column_int64(s, c + 6);
    a.Id = ColText(s, c + 7);
    a.filename = ColText(s, c + 8);
    a.dir = ColText(s, c + 9);
    a.newsgroup = ColText(s, c + 10);
    a.isnew = sqlite3_column_int(s, c + 11);
    a.reason = ColText(s, c + 12);
}

// Binds the stored columns in the order of kAttInsertCols, starting at parameter i.
const char* const kAttInsertCols =
    "Id,filename,email,bytes,lines,parts,newsgroup,state,isnew,dir,date,partcount,reason";
void BindAttachment(sqlite3_stmt* s, int i, const Attachment& a) {
    BindText(s, i + 0, a.Id);
    BindText(s, i + 1, a.filename);
    BindText(s, i + 2, a.email);
    sqlite3_bind_int64(s, i + 3, a.bytes);
    sqlite3_bind_int64(s, i + 4, a.lines);
    sqlite3_bind_int(s, i + 5, a.parts);
    BindText(s, i + 6, a.newsgroup);
    sqlite3_bind_int(s, i + 7, a.state);
    sqlite3_bind_int(s, i + 8, a.isnew);
    BindText(s, i + 9, a.dir);
    sqlite3_bind_int64(s, i + 10, a.date);
    sqlite3_bind_int(s, i + 11, a.partcount);
    BindText(s, i + 12, a.reason);
}

void ReadGroup(sqlite3_stmt* s, Group& g) {
    g.name = ColText(s, 0);
    g.downloaddir = ColText(s, 1);
    g.first = sqlite3_column_int64(s, 2);
    g.last = sqlite3_column_int64(s, 3);
    g.amount = sqlite3_column_int64(s, 4);
    g.state = sqlite3_column_int(s, 5);
    g.lastscanned = sqlite3_column_int64(s, 6);
}

unsigned char kLower[256];
const bool kLowerReady = [] {
    for (int c = 0; c < 256; ++c)
        kLower[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return true;
}();

// Whether the lower-cased h contains n (lower-cased already), without a lowered copy.
bool ContainsLowered(const unsigned char* h, int hn, const unsigned char* n, int nn) {
    if (nn == 0)
        return true;
    for (int i = 0; i + nn <= hn; ++i) {
        int k = 0;
        while (k < nn && kLower[h[i + k]] == n[k])
            ++k;
        if (k == nn)
            return true;
    }
    return false;
}

// qs_contains_words(text, words): 1 when the lower-cased text contains every blank-separated
// word of `words` (lower-cased already), in any order.
void ContainsWordsFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto* h = sqlite3_value_text(argv[0]);
    const int hn = sqlite3_value_bytes(argv[0]);
    const auto* w = sqlite3_value_text(argv[1]);
    const int wn = sqlite3_value_bytes(argv[1]);
    if (!h || !w) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    for (int at = 0; at < wn;) {
        while (at < wn && (w[at] == ' ' || w[at] == '\t'))
            ++at;
        int end = at;
        while (end < wn && w[end] != ' ' && w[end] != '\t')
            ++end;
        if (end > at && !ContainsLowered(h, hn, w + at, end - at)) {
            sqlite3_result_int(ctx, 0);
            return;
        }
        at = end;
    }
    sqlite3_result_int(ctx, 1);
}

// qs_contains(text, needle): 1 when the lower-cased text contains needle, which the
// caller has lower-cased already. A substring test without allocating a lowered copy.
void ContainsFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto* h = sqlite3_value_text(argv[0]);
    int hn = sqlite3_value_bytes(argv[0]);
    const auto* n = sqlite3_value_text(argv[1]);
    int nn = sqlite3_value_bytes(argv[1]);
    if (!h || !n) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    if (nn == 0) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    const unsigned char first = n[0];
    for (int i = 0; i + nn <= hn; ++i) {
        if (kLower[h[i]] != first)
            continue;
        int k = 1;
        while (k < nn && kLower[h[i + k]] == n[k])
            ++k;
        if (k == nn) {
            sqlite3_result_int(ctx, 1);
            return;
        }
    }
    sqlite3_result_int(ctx, 0);
}

// Splits "column" or "column desc" and checks the column against a list; the result is
// the canonical "column" / "column desc", or empty when the text is not acceptable.
template <size_t N>
std::string CanonicalOrder(const std::string& text, const char* const (&columns)[N]) {
    std::string_view t = Trim(text);
    bool desc = false;
    size_t space = t.find_first_of(" \t");
    std::string_view col = t;
    if (space != std::string_view::npos) {
        std::string_view rest = Trim(t.substr(space));
        if (!EqualsNoCase(rest, "desc"))
            return {};
        desc = true;
        col = t.substr(0, space);
    }
    for (const char* c : columns)
        if (EqualsNoCase(col, c))
            return std::string(c) + (desc ? " desc" : "");
    return {};
}

// The ORDER BY clause for an accepted order text; quoted column names.
std::string OrderClause(const std::string& canonical) {
    size_t space = canonical.find(' ');
    std::string col = canonical.substr(0, space);
    return " ORDER BY \"" + col + "\"" + (space == std::string::npos ? "" : " DESC");
}

// Overview sizes are whatever a server says (saturated 64-bit numbers, negative too): their
// sums saturate rather than overflow.
int64_t SaturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

void Say(const DbEnv& env, const std::string& text, Host::Icon icon) {
    LogLine("%s\n", text.c_str());
    if (env.host)
        env.host->ShowMessage(text, icon);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Opening and closing

std::string HeaderDatabase::PathFor(const std::string& data_dir, const std::string& name) {
    // Group names come from a server: keep them inside the data directory.
    std::string file = name;
    for (char& c : file)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32)
            c = '_';
    std::string dir = data_dir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir + file + ".db";
}

DbKind HeaderDatabase::KindOf(const std::string& name) {
    if (name == "queue")
        return DbKind::Queue;
    if (name == "log")
        return DbKind::Log;
    if (name == "groups")
        return DbKind::Groups;
    return DbKind::Newsgroup;
}

HeaderDatabase::HeaderDatabase(const DbEnv& env, std::string name, std::string path)
    : env_(env), name_(std::move(name)), path_(std::move(path)), kind_(KindOf(name_)) {}

std::shared_ptr<HeaderDatabase> HeaderDatabase::Open(const DbEnv& env, const std::string& name) {
    std::error_code ec;
    if (!env.data_dir.empty())
        std::filesystem::create_directories(env.data_dir, ec);
    std::shared_ptr<HeaderDatabase> db(new HeaderDatabase(env, name, PathFor(env.data_dir, name)));
    if (db->OpenFile())
        return db;
    // Only a file SQLite finds damaged is reset, and it is moved aside, never deleted. A
    // busy or locked file, a full disk, a missing permission or an I/O error leave
    // everything as it is: the queue of a busy database must not be thrown away.
    const int code = db->db_ ? sqlite3_errcode(db->db_) : SQLITE_CANTOPEN;
    const std::string reason = db->db_ ? sqlite3_errmsg(db->db_) : sqlite3_errstr(code);
    db->CloseFile();
    if (code != SQLITE_CORRUPT && code != SQLITE_NOTADB) {
        Say(env, "Cannot open " + db->path_ + ": " + reason, Host::Icon::Stop);
        return nullptr;
    }
    Say(env, "Possible database corruption.\nResetting the group and retrying...",
        Host::Icon::Plain);
    const std::string aside =
        db->path_ + ".damaged-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        if (!std::filesystem::exists(db->path_ + suffix, ec))
            continue;
        std::filesystem::rename(db->path_ + suffix, aside + suffix, ec);
        if (ec) {
            Say(env, "Cannot move the damaged " + db->path_ + suffix + " aside: " + ec.message(),
                Host::Icon::Stop);
            return nullptr;
        }
    }
    LogLine("Damaged database moved aside to %s\n", aside.c_str());
    if (db->OpenFile())
        return db;
    db->CloseFile();
    Say(env, "Sorry, didn't work out. Please restart Quillstream ASAP...", Host::Icon::Stop);
    return nullptr;
}

bool HeaderDatabase::OpenFile() {
    std::lock_guard<std::mutex> lock(db_mu_);
    int rc =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        LogLine("SQL error: cannot open %s: %s\n", path_.c_str(),
                db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        return false;
    }
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_extended_result_codes(db_, 1);
    if (sqlite3_create_function_v2(db_, "qs_contains", 2,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   ContainsFunction, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(db_, "qs_contains_words", 2,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   ContainsWordsFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    // 16 KiB pages (new files only): a merge appends rows, and fewer, fuller pages cost
    // less to write and to walk. WAL: readers never block the writer, and a killed process
    // leaves a consistent file. NORMAL sync in WAL mode survives a killed process (the
    // commits are in the WAL file, which the kernel holds); a power loss may cost the last
    // commits but not the file.
    if (!Exec("PRAGMA page_size=16384") || !Exec("PRAGMA journal_mode=WAL") ||
        !Exec("PRAGMA synchronous=NORMAL") || !Exec("PRAGMA temp_store=MEMORY") ||
        !Exec("PRAGMA mmap_size=268435456"))
        return false;
    // The WAL is copied back into the file on a thread of its own (in place of SQLite's
    // checkpoint inside the commit), about every kCheckpointFrames pages.
    checkpointer_ = std::make_unique<WalCheckpointer>(path_);
    sqlite3_wal_hook(db_, &HeaderDatabase::OnWalCommit, this);
    // A file of the current layout is only read here: opening it does not wait for the write
    // lock, which a scan's open batch may hold for a second at a time.
    int64_t version = 0;
    if (!QueryInt("PRAGMA user_version", version))
        return false;
    if (version != kSchemaVersion && !CreateOrConvertTables())
        return false;
    int64_t kb = 0, attachments = 0;
    if (!SumKilobytes(kb) ||
        !QueryInt("SELECT coalesce(max(partkey),0) FROM Attachment", attachments))
        return false;
    kb_total_ = kb;
    cache_kib_ = 0;
    SizePageCache(attachments);
    highest_seen_ = 0;
    highest_known_ = false;
    return true;
}

// Creates the tables of a new file, or brings an earlier layout up to date, under the write
// lock (another connection may be doing the same).
bool HeaderDatabase::CreateOrConvertTables() {
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    int64_t version = 0, tables = 0, repeated_ids = 0, part_rows = 0;
    if (!QueryInt("PRAGMA user_version", version) ||
        !QueryInt("SELECT count(*) FROM sqlite_master WHERE name='Attachment'", tables) ||
        (version == 0 && tables > 0 && !Exec(kMigrateToPartKey)) ||
        (version < 2 && tables > 0 &&
         !Exec("ALTER TABLE Attachment ADD COLUMN reason TEXT NOT NULL DEFAULT ''")) ||
        !QueryInt("SELECT count(*) FROM pragma_table_info('MessageVars') WHERE "
                  "name='attachment'",
                  repeated_ids) ||
        (repeated_ids > 0 && !Exec("ALTER TABLE MessageVars DROP COLUMN attachment")) ||
        !QueryInt("SELECT count(*) FROM pragma_table_info('MessageVars') WHERE "
                  "name='MessageId'",
                  part_rows) ||
        (part_rows > 0 && !ConvertPartRowsToRuns()) || !Exec(kSchema) ||
        (version != kSchemaVersion &&
         !Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()))) {
        Exec("ROLLBACK");
        return false;
    }
    return Exec("COMMIT");
}

// Files before user_version 4 hold a row per part: each attachment's parts are packed into
// runs.
bool HeaderDatabase::ConvertPartRowsToRuns() {
    if (!Exec("ALTER TABLE MessageVars RENAME TO MessageVars_rows; "
              "CREATE TABLE MessageVars(partkey INTEGER NOT NULL, seq INTEGER NOT NULL, "
              "ArticleId INTEGER NOT NULL DEFAULT 0, parts BLOB NOT NULL);"))
        return false;
    sqlite3_stmt* read = nullptr;
    bool ok = sqlite3_prepare_v2(db_,
                                 "SELECT partkey,MessageId,ArticleId,lines,bytes,partnum "
                                 "FROM MessageVars_rows ORDER BY partkey",
                                 -1, &read, nullptr) == SQLITE_OK;
    part_runs::RunBuilder packed;  // the parts of one attachment
    int64_t partkey = 0;
    int rc = SQLITE_DONE;
    while (ok && (rc = sqlite3_step(read)) == SQLITE_ROW) {
        const int64_t key = sqlite3_column_int64(read, 0);
        if (key != partkey) {
            ok = WriteRuns(partkey, 0, packed);
            packed.Clear();
            partkey = key;
        }
        const std::string id = ColText(read, 1);
        packed.Add({id, sqlite3_column_int64(read, 2), sqlite3_column_int64(read, 3),
                    sqlite3_column_int64(read, 4), sqlite3_column_int(read, 5)});
    }
    ok = ok && rc == SQLITE_DONE && WriteRuns(partkey, 0, packed);
    sqlite3_finalize(read);
    return ok && Exec("DROP TABLE MessageVars_rows");
}

void HeaderDatabase::CloseFile() {
    std::lock_guard<std::mutex> lock(db_mu_);
    if (!db_)
        return;
    if (in_txn_)
        Commit();
    for (auto& [sql, stmt] : stmts_)
        sqlite3_finalize(stmt);
    stmts_.clear();
    for (sqlite3_stmt** slot :
         {&lookup_stmt_, &insert_run_stmt_, &read_runs_stmt_, &insert_att_stmt_,
          &insert_att_run_stmt_, &update_att_stmt_, &update_att_state_stmt_})
        *slot = nullptr;
    // Its connection closes first: the last one to close copies the rest of the WAL back
    // and removes it.
    checkpointer_.reset();
    wal_frames_ = 0;
    requested_at_ = 0;
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

HeaderDatabase::~HeaderDatabase() {
    CloseFile();
}

// After every commit, with the pages now in the WAL. A checkpoint copies each page once,
// however often it was written since the last one, and a scan writes its index pages again
// in every commit: a checkpoint is asked for once every kCheckpointFrames pages rather than
// after every commit past them. Close to the limit it is asked for after every commit, so
// that the writer finds little left to copy when it waits there for the log to start over.
int HeaderDatabase::OnWalCommit(void* self, sqlite3*, const char*, int frames) {
    auto* db = static_cast<HeaderDatabase*>(self);
    if (frames < db->wal_frames_)
        db->requested_at_ = 0;  // the log started over
    db->wal_frames_ = frames;
    if (frames >= db->requested_at_ + kCheckpointFrames ||
        frames >= kWalLimitFrames - kCheckpointFrames / 4)
        db->RequestCheckpoint();
    return SQLITE_OK;
}

void HeaderDatabase::RequestCheckpoint() {
    if (checkpointer_)
        checkpointer_->Request();
    requested_at_ = wal_frames_;
}

bool HeaderDatabase::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) == SQLITE_OK)
        return true;
    LogLine("SQL error: %s (%s)\n", err ? err : sqlite3_errmsg(db_), path_.c_str());
    sqlite3_free(err);
    return false;
}

bool HeaderDatabase::QueryInt(const char* sql, int64_t& out) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
        LogLine("SQL error: %s in \"%s\" (%s)\n", sqlite3_errmsg(db_), sql, path_.c_str());
        return false;
    }
    bool ok = sqlite3_step(s) == SQLITE_ROW;
    if (ok)
        out = sqlite3_column_int64(s, 0);
    else
        LogLine("SQL error: %s in \"%s\" (%s)\n", sqlite3_errmsg(db_), sql, path_.c_str());
    sqlite3_finalize(s);
    return ok;
}

sqlite3_stmt* HeaderDatabase::Stmt(sqlite3_stmt*& slot, std::string_view sql) {
    if (!slot)
        slot = Stmt(std::string(sql));
    return slot;
}

sqlite3_stmt* HeaderDatabase::Stmt(const std::string& sql) {
    auto it = stmts_.find(sql);
    if (it != stmts_.end())
        return it->second;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
        LogLine("SQL error: %s in \"%s\"\n", sqlite3_errmsg(db_), sql.c_str());
        return nullptr;
    }
    stmts_.emplace(sql, s);
    return s;
}

bool HeaderDatabase::Fail(const char* what) {
    LogLine("SQL error: %s: %s (%s)\n", what, db_ ? sqlite3_errmsg(db_) : "closed", path_.c_str());
    {
        std::lock_guard<std::mutex> lock(error_mu_);
        const int code = db_ ? sqlite3_errcode(db_) : SQLITE_MISUSE;
        if (parts_damaged_)
            last_error_ = "the database is damaged (a part list cannot be read)";
        else
            last_error_ = code == SQLITE_CORRUPT || code == SQLITE_NOTADB
                              ? std::string("the database is damaged (") + sqlite3_errmsg(db_) + ")"
                              : std::string(db_ ? sqlite3_errmsg(db_) : "the database is closed");
        parts_damaged_ = false;
    }
    failures_.fetch_add(1);
    if (db_ && in_txn_) {
        DropPending();
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rollbacks_.fetch_add(1);
        in_txn_ = false;
        next_partkey_ = 0;
        int64_t kb = 0;
        if (SumKilobytes(kb))
            kb_total_ = kb;
        highest_known_ = false;
        Changed();  // rows a view may have read inside the transaction are gone
    }
    return false;
}

// ---------------------------------------------------------------------------------------
// Transactions and batches

// Every operation goes through here. A writing body runs inside the write transaction
// (begun when no batch holds one open); Read and Write bodies see the pending merges
// written first. When body fails, or the commit does, the transaction is rolled back,
// open batch included, and the operation reports false. A write that went through moves
// data_version after its change, so a view that read the version before its rows never
// keeps a row older than the version it holds.
template <typename Body>
bool HeaderDatabase::Run(Access access, const char* what, Body&& body) {
    const bool write = access != Access::Read;
    std::lock_guard<std::mutex> lock(db_mu_);
    if (!db_)
        return Fail(what);
    if (write && !BeginWrite())
        return Fail(what);
    if ((access == Access::Read || access == Access::Write) && !FlushPending())
        return Fail(what);
    if (!body())
        return Fail(what);
    if (!Finish(access == Access::Read || access == Access::Merge))
        return false;  // the failed commit was rolled back and reported
    if (write)
        Changed();
    return true;
}

bool HeaderDatabase::BeginWrite() {
    if (in_txn_)
        return true;
    // The WAL starts over from its beginning only when a write transaction begins after all
    // of it was copied back, which a scan committing batch after batch seldom leaves time
    // for. Past kWalLimitFrames the writer lets the copy finish first.
    if (wal_frames_ >= kWalLimitFrames) {
        checkpointer_->WaitIdle();
        sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        wal_frames_ = 0;
        requested_at_ = 0;
    }
    if (!Exec("BEGIN IMMEDIATE"))
        return false;
    in_txn_ = true;
    next_partkey_ = 0;  // another connection may have stored attachments meanwhile
    txn_parts_ = 0;
    txn_start_ = std::chrono::steady_clock::now();
    return true;
}

bool HeaderDatabase::Commit() {
    if (!in_txn_)
        return true;
    if (!FlushPending())
        return Fail("flush");
    if (!Exec("COMMIT"))
        return Fail("commit");
    in_txn_ = false;
    if (next_partkey_ > 0)
        SizePageCache(next_partkey_ - 1);
    return true;
}

// SQLite keeps every page it read or wrote until the cache is full, so a cache larger than
// what merges touch again only costs memory, which a scan into a new file takes fresh page
// after page. What they touch again is about half a KiB of rows and index entries per
// attachment, and the open transaction's pages (a scan's transaction writes about 4 MiB):
// the cache grows with the attachments (numbered by partkey) from 8 MiB up to 64 MiB.
void HeaderDatabase::SizePageCache(int64_t attachments) {
    constexpr int64_t kMinKib = 8 * 1024, kMaxKib = 64 * 1024;
    const int64_t kib = std::clamp(kMinKib + attachments / 2, kMinKib, kMaxKib);
    if (kib > cache_kib_ && Exec(("PRAGMA cache_size=-" + std::to_string(kib)).c_str()))
        cache_kib_ = kib;
}

// Commits unless an open batch may take more (only for batchable operations).
bool HeaderDatabase::Finish(bool batchable) {
    if (!in_txn_)
        return true;
    if (batchable && batch_depth_ > 0 && txn_parts_ < kBatchMaxParts &&
        std::chrono::steady_clock::now() - txn_start_ < std::chrono::milliseconds(kBatchMaxMillis))
        return true;
    return Commit();
}

void HeaderDatabase::BeginBatch() {
    std::lock_guard<std::mutex> lock(db_mu_);
    ++batch_depth_;
}

void HeaderDatabase::EndBatch() {
    std::lock_guard<std::mutex> lock(db_mu_);
    if (batch_depth_ > 0 && --batch_depth_ == 0) {
        if (db_)
            Commit();
        // What the batch wrote since the last checkpoint is copied back while nothing
        // writes, so that the next write can start the log over.
        if (db_ && wal_frames_ > requested_at_)
            RequestCheckpoint();
        spare_parts_.clear();
        spare_parts_.shrink_to_fit();
    }
}

void HeaderDatabase::Flush() {
    std::lock_guard<std::mutex> lock(db_mu_);
    if (db_)
        Commit();
}

// Writes the attachments merged in this transaction: new ones are inserted in the order
// they arrived, stored ones get their counters (and state, when it moved) rewritten.
bool HeaderDatabase::FlushPending() {
    if (pending_.empty())
        return true;
    // New attachments go in runs of kAttachmentRunRows to a statement (a scan of single-part
    // posts makes one per line), in the order they arrived, so their stored order is kept.
    // OR FAIL: a refused row fails the whole transaction anyway, so the statement keeps no
    // journal of its own to undo itself with.
    static const std::string insert_one = std::string("INSERT OR FAIL INTO Attachment(") +
                                          kAttInsertCols + ",partkey) VALUES" + kAttInsertRow;
    static const std::string insert_run = [] {
        std::string text = insert_one;
        for (size_t i = 1; i < kAttachmentRunRows; ++i)
            text += std::string(",") + kAttInsertRow;
        return text;
    }();
    sqlite3_stmt* ins = Stmt(insert_att_stmt_, insert_one);
    sqlite3_stmt* ins_run = Stmt(insert_att_run_stmt_, insert_run);
    sqlite3_stmt* upd =
        Stmt(update_att_stmt_,
             "UPDATE Attachment SET bytes=?1,lines=?2,partcount=?3,isnew=?4 WHERE seq=?5");
    sqlite3_stmt* upd_state =
        Stmt(update_att_state_stmt_,
             "UPDATE Attachment SET bytes=?1,lines=?2,partcount=?3,isnew=?4,state=?6,reason=?7 "
             "WHERE seq=?5");
    if (!ins || !ins_run || !upd || !upd_state)
        return false;
    std::vector<const Pending*> fresh;
    for (const Pending& p : pending_) {
        if (!WriteRuns(p.partkey, p.last_seq, p.parts.fresh))
            return false;
        if (p.rowid == 0) {
            fresh.push_back(&p);
            continue;
        }
        sqlite3_stmt* s =
            p.rec.state != p.stored_state || p.rec.reason != p.stored_reason ? upd_state : upd;
        sqlite3_bind_int64(s, 1, p.rec.bytes);
        sqlite3_bind_int64(s, 2, p.rec.lines);
        sqlite3_bind_int(s, 3, p.rec.partcount);
        sqlite3_bind_int(s, 4, p.rec.isnew);
        sqlite3_bind_int64(s, 5, p.rowid);
        if (s == upd_state) {
            sqlite3_bind_int(s, 6, p.rec.state);
            BindText(s, 7, p.rec.reason);
        }
        StmtScope scope{s};
        if (sqlite3_step(s) != SQLITE_DONE)
            return false;
    }
    for (size_t first = 0; first < fresh.size();) {
        const bool run = fresh.size() - first >= kAttachmentRunRows;
        sqlite3_stmt* s = run ? ins_run : ins;
        const size_t rows = run ? kAttachmentRunRows : 1;
        StmtScope scope{s};
        for (size_t k = 0; k < rows; ++k) {
            const int column = static_cast<int>(k * kAttInsertRowColumns);
            BindAttachment(s, column + 1, fresh[first + k]->rec);
            sqlite3_bind_int64(s, column + kAttInsertRowColumns, fresh[first + k]->partkey);
        }
        if (sqlite3_step(s) != SQLITE_DONE)
            return false;
        first += rows;
    }
    DropPending();
    return true;
}

// ---------------------------------------------------------------------------------------
// Merging

bool HeaderDatabase::LookupAttachment(std::string_view id, Pending& out) {
    static const std::string sql =
        std::string("SELECT seq,partkey,") + kAttCols + " FROM Attachment WHERE Id=?";
    sqlite3_stmt* s = Stmt(lookup_stmt_, sql);
    if (!s)
        return false;
    StmtScope scope{s};
    BindText(s, 1, id);
    if (sqlite3_step(s) != SQLITE_ROW)
        return false;
    out.rowid = sqlite3_column_int64(s, 0);
    out.partkey = sqlite3_column_int64(s, 1);
    ReadAttachment(s, 2, out.rec);
    out.stored_state = out.rec.state;
    out.stored_reason = out.rec.reason;
    return true;
}

// The partkey for an attachment about to be stored: one more than the highest stored or
// given out in this transaction (runs left without their attachment count too, so a new
// attachment never finds runs under its key). Runs inside the write transaction, so no
// other connection can take the same number.
bool HeaderDatabase::NextPartKey(int64_t& out) {
    if (next_partkey_ == 0) {
        sqlite3_stmt* s = Stmt(
            "SELECT max(coalesce((SELECT max(partkey) FROM Attachment),0),"
            "coalesce((SELECT max(partkey) FROM MessageVars),0))");
        if (!s)
            return false;
        StmtScope scope{s};
        if (sqlite3_step(s) != SQLITE_ROW)
            return false;
        next_partkey_ = sqlite3_column_int64(s, 0) + 1;
    }
    out = next_partkey_++;
    return true;
}

namespace {

// A reference to a part of a pending attachment: for a stored part, where it starts in the
// stored parts; for a new one, how many new parts came before it.
uint64_t PartRef(bool stored, size_t place) {
    return (static_cast<uint64_t>(place) << 1) | (stored ? 1 : 0);
}

// Whether the part `ref` refers to has the Message-ID `id`.
bool SameId(const part_runs::RunBuilder& fresh, const std::string& stored, uint64_t ref,
            std::string_view id) {
    const auto place = static_cast<size_t>(ref >> 1);
    return (ref & 1) ? part_runs::MessageIdAt(stored, place) == id : fresh.HasMessageId(place, id);
}

}  // namespace

// The pending slot of the attachment `id`: the one this transaction holds or the stored one
// read in; found false when there is none.
size_t HeaderDatabase::PendingSlot(std::string_view id, bool& found) {
    found = true;
    auto it = pending_index_.find(id);
    if (it != pending_index_.end())
        return it->second;
    Pending p;
    if (!LookupAttachment(id, p)) {
        found = false;
        return SIZE_MAX;
    }
    return AddPending(std::move(p), id);
}

// Makes p the pending attachment `id`, with part buffers left by an earlier transaction.
size_t HeaderDatabase::AddPending(Pending&& p, std::string_view id) {
    if (!spare_parts_.empty()) {
        p.parts = std::move(spare_parts_.back());
        spare_parts_.pop_back();
        // Emptied here rather than when it was put aside: the index is in the cache now, as
        // the parts about to go in need it.
        p.parts.ids.Clear();
    }
    pending_index_.emplace(std::string(id), pending_.size());
    pending_.push_back(std::move(p));
    return pending_.size() - 1;
}

// Adds `part` to the parts pending_[slot] adds in this transaction, unless the attachment
// holds an article of that Message-ID already (added false). False when reading the stored
// parts failed.
bool HeaderDatabase::AddPart(size_t slot, const part_runs::PackedPart& part, bool& added) {
    added = false;
    if (pending_[slot].rowid != 0 && !pending_[slot].stored_read && !ReadStoredRuns(slot))
        return false;
    Pending::Parts& parts = pending_[slot].parts;
    added = parts.ids.Insert(
        PartIdIndex::Hash(part.message_id), PartRef(false, parts.fresh.parts()),
        [&](uint64_t ref) { return SameId(parts.fresh, parts.stored, ref, part.message_id); });
    if (!added)
        return true;
    parts.fresh.Add(part);
    if (part.article_id > highest_seen_.load(std::memory_order_relaxed))
        highest_seen_.store(part.article_id, std::memory_order_relaxed);
    ++txn_parts_;
    return true;
}

// Reads the stored runs of pending_[slot] into its plain buffer of stored parts, and enters
// their parts in its index.
bool HeaderDatabase::ReadStoredRuns(size_t slot) {
    sqlite3_stmt* s =
        Stmt(read_runs_stmt_, "SELECT seq,parts FROM MessageVars WHERE partkey=? ORDER BY seq");
    if (!s)
        return false;
    Pending& p = pending_[slot];
    Pending::Parts& parts = p.parts;
    StmtScope scope{s};
    sqlite3_bind_int64(s, 1, p.partkey);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        p.last_seq = sqlite3_column_int64(s, 0);
        part_runs::Reader reader(ColBlob(s, 1));
        part_runs::PackedPart part;
        while (reader.Next(part)) {
            parts.ids.Insert(PartIdIndex::Hash(part.message_id), PartRef(true, parts.stored.size()),
                             [&](uint64_t ref) {
                                 return SameId(parts.fresh, parts.stored, ref, part.message_id);
                             });
            part_runs::Append(parts.stored, part);
        }
        if (!reader.ok()) {
            LogLine("SQL error: the stored parts of partkey %" PRId64 " cannot be read (%s)\n",
                    p.partkey, path_.c_str());
            parts_damaged_ = true;
            return false;
        }
    }
    if (rc != SQLITE_DONE)
        return false;
    p.stored_read = true;
    return true;
}

// Writes the runs of attachment partkey, numbered on from last_seq.
bool HeaderDatabase::WriteRuns(int64_t partkey, int64_t last_seq,
                               const part_runs::RunBuilder& runs) {
    if (runs.runs() == 0)
        return true;
    sqlite3_stmt* s = Stmt(insert_run_stmt_, kInsertRunSql);
    if (!s)
        return false;
    for (size_t i = 0; i < runs.runs(); ++i) {
        const std::string_view run = runs.run(i);
        if (run.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
            return false;  // Message-IDs of a size no server gives
        StmtScope scope{s};
        sqlite3_bind_int64(s, 1, partkey);
        sqlite3_bind_int64(s, 2, last_seq + static_cast<int64_t>(i) + 1);
        sqlite3_bind_int64(s, 3, runs.highest(i));
        sqlite3_bind_blob(s, 4, run.data(), static_cast<int>(run.size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE)
            return false;
    }
    return true;
}

void HeaderDatabase::DropPending() {
    // Buffers that grew large go, and those beyond what a transaction of a scan of
    // multi-part posts touches: the next transaction may never need that much again.
    constexpr size_t kSpareBytes = 64 * 1024;
    constexpr size_t kSpareBuffers = 4096;
    for (Pending& p : pending_) {
        if (batch_depth_ == 0 || spare_parts_.size() >= kSpareBuffers ||
            p.parts.fresh.capacity() + p.parts.stored.capacity() > kSpareBytes)
            continue;
        p.parts.fresh.Clear();
        p.parts.stored.clear();
        spare_parts_.push_back(std::move(p.parts));
    }
    pending_.clear();
    pending_index_.clear();
}

bool HeaderDatabase::StoreAttachment(const MessageVars* part, const Attachment& attachment) {
    return Run(Access::Merge, "store", [&] { return MergeLocked(part, attachment); });
}

namespace {

// The merge rule's state for a stored attachment that a merge reached (with a part that was
// new to it, or without a part).
void ApplyMergedState(Attachment& rec, int state, const std::string& reason, int isnew) {
    if (rec.state >= StateQueued) {
        // A scanned header arrives with state 0: a queued, downloading, done or failed
        // attachment keeps its state then.
        if (state != 0) {
            rec.state = state;
            rec.reason = reason;
        }
    } else {
        rec.state = rec.parts == 1 || rec.partcount >= rec.parts ? StateComplete : StateIncomplete;
    }
    rec.isnew = isnew;
}

part_runs::PackedPart Packed(const MessageVars& mv) {
    return {mv.MessageId, mv.ArticleId, mv.lines, mv.bytes, mv.partnum};
}

}  // namespace

bool HeaderDatabase::MergeLocked(const MessageVars* part, const Attachment& attachment) {
    bool found = false;
    size_t slot = PendingSlot(attachment.Id, found);
    if (found) {
        bool skip = false;  // the part is an article stored already
        if (part) {
            bool added = false;
            if (!AddPart(slot, Packed(*part), added))
                return false;
            Attachment& rec = pending_[slot].rec;
            if (added) {
                rec.bytes = SaturatingAdd(rec.bytes, part->bytes);
                rec.lines = SaturatingAdd(rec.lines, part->lines);
                kb_total_ += part->bytes / 1024;
                rec.partcount += 1;
            } else {
                skip = true;
            }
        }
        if (!skip)
            ApplyMergedState(pending_[slot].rec, attachment.state, attachment.reason,
                             attachment.isnew);
    } else {
        Pending fresh;
        if (!NextPartKey(fresh.partkey))
            return false;
        Attachment& rec = fresh.rec;
        rec = attachment;
        rec.partlist.clear();
        slot = AddPending(std::move(fresh), attachment.Id);
        if (part) {
            // Nothing else carries a part key given out just now: the part is new to it.
            bool added = false;
            if (!AddPart(slot, Packed(*part), added) || !added)
                return false;
            pending_[slot].rec.bytes = part->bytes;
            pending_[slot].rec.lines = part->lines;
            pending_[slot].rec.partcount = 1;
        }
        Attachment& stored = pending_[slot].rec;
        if (stored.state < StateQueued)
            stored.state = stored.parts == 1 ? StateComplete : StateIncomplete;
        kb_total_ += stored.bytes / 1024;
    }

    // The parts handed along belong to this attachment, whatever their own field says.
    for (const MessageVars& mv : attachment.partlist) {
        bool added = false;
        if (!AddPart(slot, Packed(mv), added))
            return false;
    }
    return true;
}

bool HeaderDatabase::StoreScanned(const std::vector<ScannedArticle>& articles,
                                  const std::string& dir, const std::string& newsgroup) {
    bool batched;
    {
        std::lock_guard<std::mutex> lock(db_mu_);
        batched = batch_depth_ > 0;
    }
    if (!batched) {
        // Each article commits on its own, so one refused write keeps those before it.
        for (const ScannedArticle& a : articles)
            if (!Run(Access::Merge, "store", [&] { return MergeScanned(a, dir, newsgroup); }))
                return false;
        return true;
    }
    // A refused write rolls the open batch back whole, whichever article it was.
    return Run(Access::Merge, "store", [&] {
        for (const ScannedArticle& a : articles)
            if (!MergeScanned(a, dir, newsgroup))
                return false;
        return true;
    });
}

// Merges a scanned article as MergeLocked merges it with its attachment (state 0, isnew 1).
bool HeaderDatabase::MergeScanned(const ScannedArticle& a, const std::string& dir,
                                  const std::string& newsgroup) {
    const part_runs::PackedPart part{a.message_id, a.article_id, a.lines, a.bytes, a.partnum};
    // The parts of a post mostly come one after another.
    size_t slot = SIZE_MAX;
    if (last_scanned_slot_ < pending_.size() && pending_[last_scanned_slot_].rec.Id == a.id) {
        slot = last_scanned_slot_;
    } else {
        bool found = false;
        slot = PendingSlot(a.id, found);
        if (!found) {
            Pending p;
            if (!NextPartKey(p.partkey))
                return false;
            Attachment& rec = p.rec;
            rec.email = a.email;
            rec.parts = a.parts;
            rec.date = a.date;
            rec.Id = a.id;
            rec.filename = a.filename;
            rec.dir = dir;
            rec.newsgroup = newsgroup;
            rec.isnew = 1;
            rec.bytes = a.bytes;
            rec.lines = a.lines;
            rec.partcount = 1;
            rec.state = rec.parts == 1 ? StateComplete : StateIncomplete;
            slot = AddPending(std::move(p), a.id);
            last_scanned_slot_ = slot;
            // Nothing else carries a part key given out just now: the part is new to it.
            bool added = false;
            if (!AddPart(slot, part, added) || !added)
                return false;
            kb_total_ += a.bytes / 1024;
            return true;
        }
    }
    last_scanned_slot_ = slot;
    bool added = false;
    if (!AddPart(slot, part, added))
        return false;
    if (added) {
        Attachment& rec = pending_[slot].rec;
        rec.bytes = SaturatingAdd(rec.bytes, a.bytes);
        rec.lines = SaturatingAdd(rec.lines, a.lines);
        kb_total_ += a.bytes / 1024;
        rec.partcount += 1;
        ApplyMergedState(rec, 0, std::string(), 1);
    }
    return true;
}

// Pending merges are written first, so the stored row carries the state afterwards.
bool HeaderDatabase::SetAttachmentState(const Attachment& attachment) {
    return Run(Access::Write, "set state", [&] {
        sqlite3_stmt* s = Stmt("UPDATE Attachment SET state=? WHERE Id=?");
        if (!s)
            return false;
        StmtScope scope{s};
        sqlite3_bind_int(s, 1, attachment.state);
        BindText(s, 2, attachment.Id);
        return sqlite3_step(s) == SQLITE_DONE;
    });
}

bool HeaderDatabase::MoveToEnd(const Attachment& attachment) {
    // One statement: the row takes the next stored position with its parts, or stays.
    return Run(Access::Write, "move to end", [&] {
        sqlite3_stmt* s = Stmt(
            "UPDATE Attachment SET seq=(SELECT max(seq)+1 FROM Attachment) WHERE Id=?1 AND "
            "seq<(SELECT max(seq) FROM Attachment)");
        if (!s)
            return false;
        StmtScope scope{s};
        BindText(s, 1, attachment.Id);
        return sqlite3_step(s) == SQLITE_DONE;
    });
}

bool HeaderDatabase::LoadParts(Attachment& attachment) {
    std::vector<MessageVars> parts;
    bool ok = Run(Access::Read, "load parts", [&] {
        sqlite3_stmt* s = Stmt(
            "SELECT parts FROM MessageVars "
            "WHERE partkey=(SELECT partkey FROM Attachment WHERE Id=?) ORDER BY seq");
        if (!s)
            return false;
        StmtScope scope{s};
        BindText(s, 1, attachment.Id);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            part_runs::Reader reader(ColBlob(s, 0));
            part_runs::PackedPart part;
            while (reader.Next(part)) {
                MessageVars mv;
                mv.MessageId = part.message_id;
                mv.attachment = attachment.Id;  // the part key ties every part to its attachment
                mv.ArticleId = part.article_id;
                mv.lines = part.lines;
                mv.bytes = part.bytes;
                mv.partnum = part.partnum;
                parts.push_back(std::move(mv));
            }
            if (!reader.ok()) {
                LogLine("SQL error: the parts of %s cannot be read (%s)\n", attachment.Id.c_str(),
                        path_.c_str());
                parts_damaged_ = true;
                return false;
            }
        }
        return rc == SQLITE_DONE;
    });
    if (!ok)
        return false;
    std::sort(parts.begin(), parts.end(), [](const MessageVars& a, const MessageVars& b) {
        return a.partnum != b.partnum ? a.partnum < b.partnum : a.MessageId < b.MessageId;
    });
    attachment.partlist = std::move(parts);
    return true;
}

bool HeaderDatabase::RemoveLocked(const Attachment& attachment) {
    sqlite3_stmt* get = Stmt("SELECT bytes,partkey FROM Attachment WHERE seq=?");
    sqlite3_stmt* find = Stmt("SELECT seq FROM Attachment WHERE Id=?");
    sqlite3_stmt* del_parts = Stmt("DELETE FROM MessageVars WHERE partkey=?");
    sqlite3_stmt* del = Stmt("DELETE FROM Attachment WHERE seq=?");
    if (!get || !find || !del_parts || !del)
        return false;
    int64_t seq = 0;
    {
        StmtScope scope{find};
        BindText(find, 1, attachment.Id);
        int rc = sqlite3_step(find);
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW)
            return false;
        seq = sqlite3_column_int64(find, 0);
    }
    int64_t bytes = 0, partkey = 0;
    {
        StmtScope scope{get};
        sqlite3_bind_int64(get, 1, seq);
        if (sqlite3_step(get) != SQLITE_ROW)
            return false;
        bytes = sqlite3_column_int64(get, 0);
        partkey = sqlite3_column_int64(get, 1);
    }
    for (auto [s, key] : {std::pair{del_parts, partkey}, std::pair{del, seq}}) {
        StmtScope scope{s};
        sqlite3_bind_int64(s, 1, key);
        if (sqlite3_step(s) != SQLITE_DONE)
            return false;
    }
    kb_total_ -= bytes / 1024;
    highest_known_ = false;
    return true;
}

bool HeaderDatabase::RemoveAttachment(const Attachment& attachment) {
    return RemoveAttachments({attachment});
}

bool HeaderDatabase::RemoveAttachments(const std::vector<Attachment>& attachments) {
    return Run(Access::Write, "remove", [&] {
        for (const Attachment& a : attachments)
            if (!RemoveLocked(a))
                return false;
        return true;
    });
}

// What a batch merged so far goes with the rest, unwritten.
bool HeaderDatabase::Empty() {
    return Run(Access::Replace, "empty", [&] {
        DropPending();
        if (!Exec("DELETE FROM MessageVars; DELETE FROM Attachment; DELETE FROM \"Group\"; "
                  "DELETE FROM ScanResume; DELETE FROM ScanChunk;"))
            return false;
        // A failed commit rolls back and recounts these.
        next_partkey_ = 0;
        kb_total_ = 0;
        highest_seen_ = 0;
        highest_known_ = true;
        return true;
    });
}

// ---------------------------------------------------------------------------------------
// Views

bool HeaderDatabase::AcceptOrder(const std::string& text, std::string& canonical) {
    canonical.clear();
    if (Trim(text).empty())
        return true;
    canonical = CanonicalOrder(text, kAttachmentOrders);
    if (canonical.empty())
        canonical = CanonicalOrder(text, kGroupOrders);
    return !canonical.empty();
}

// A newsgroup or the groups database refuses an order text it would not accept from a
// view; the queue and the log ignore it.
bool HeaderDatabase::OrderUsable(const ViewQuery& query) const {
    std::string canonical;
    if (kind_ == DbKind::Queue || kind_ == DbKind::Log || AcceptOrder(query.order, canonical))
        return true;
    LogLine("Refused sort order \"%s\"\n", query.order.c_str());
    return false;
}

// A query turned into SQL for this kind of database.
struct HeaderDatabase::ViewSql {
    std::string where;  // "" or " WHERE ..."; ?1 is the filter when has_filter
    std::string order;  // " ORDER BY ..."
    std::string filter;
    bool has_filter = false;
    bool hide_incomplete = false;
};

// Only a newsgroup's view filters and sorts; the queue and the log give every row in
// stored order. An accepted order naming no attachment column is the stored order.
HeaderDatabase::ViewSql HeaderDatabase::ViewSqlFor(const ViewQuery& query) const {
    ViewSql v;
    v.order = " ORDER BY seq";
    if (kind_ == DbKind::Groups) {
        v.filter = ToLower(query.filter);
        v.has_filter = !v.filter.empty();
        if (v.has_filter)
            v.where = " WHERE qs_contains_words(name, ?1)";  // several words: all of them
        return v;
    }
    if (kind_ != DbKind::Newsgroup)
        return v;
    std::string cond;
    if (!query.filter.empty()) {
        cond = "qs_contains(filename, ?1)";
        v.filter = ToLower(query.filter);
        v.has_filter = true;
    }
    if (query.hide_incomplete)
        cond += cond.empty() ? "state != 2" : " AND state != 2";
    v.hide_incomplete = query.hide_incomplete;
    if (!cond.empty())
        v.where = " WHERE " + cond;
    std::string canonical = CanonicalOrder(query.order, kAttachmentOrders);
    if (!canonical.empty())
        v.order = OrderClause(canonical);
    return v;
}

// The stored keys of view rows first .. first + count - 1. The keys come from the indexes
// alone; the rows are read one by one afterwards, which keeps deep pages cheap.
bool HeaderDatabase::ViewRowIds(const ViewSql& v, int64_t first, int64_t count,
                                std::vector<int64_t>& ids) {
    ids.clear();
    if (first < 0 || count <= 0)
        return true;
    sqlite3_stmt* s =
        Stmt("SELECT seq FROM Attachment" + v.where + v.order + " LIMIT ?2 OFFSET ?3");
    if (!s)
        return false;
    StmtScope scope{s};
    if (v.has_filter)
        BindText(s, 1, v.filter);
    sqlite3_bind_int64(s, 2, count);
    sqlite3_bind_int64(s, 3, first);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(s, 0));
    return rc == SQLITE_DONE;
}

bool HeaderDatabase::ReadAttachmentByRowid(int64_t rowid, Attachment& out, int64_t* partkey) {
    sqlite3_stmt* s =
        Stmt(std::string("SELECT ") + kAttCols + ",partkey FROM Attachment WHERE seq=?");
    if (!s)
        return false;
    StmtScope scope{s};
    sqlite3_bind_int64(s, 1, rowid);
    if (sqlite3_step(s) != SQLITE_ROW)
        return false;
    ReadAttachment(s, 0, out);
    if (partkey)
        *partkey = sqlite3_column_int64(s, 13);
    return true;
}

bool HeaderDatabase::ReadRows(const std::vector<int64_t>& ids, std::vector<Attachment>& out,
                              std::vector<int64_t>* partkeys) {
    out.clear();
    out.reserve(ids.size());
    if (partkeys)
        partkeys->assign(ids.size(), 0);
    for (size_t k = 0; k < ids.size(); ++k) {
        out.emplace_back();
        if (!ReadAttachmentByRowid(ids[k], out.back(), partkeys ? &(*partkeys)[k] : nullptr))
            return false;
    }
    return true;
}

// Steps a bound statement whose columns are kAttCols, appending a row for each result.
bool HeaderDatabase::SelectRows(sqlite3_stmt* s, std::vector<Attachment>& out) {
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        out.emplace_back();
        ReadAttachment(s, 0, out.back());
    }
    return rc == SQLITE_DONE;
}

bool HeaderDatabase::ReadView(const ViewQuery& query, int64_t first, int64_t count,
                              std::vector<Attachment>& out) {
    out.clear();
    if (first < 0 || kind_ == DbKind::Groups || !OrderUsable(query))
        return false;
    ViewSql v = ViewSqlFor(query);
    std::vector<Attachment> rows;
    bool ok = Run(Access::Read, "view", [&] {
        std::vector<int64_t> ids;
        return ViewRowIds(v, first, count, ids) && ReadRows(ids, rows);
    });
    if (ok)
        out = std::move(rows);
    return ok;
}

int64_t HeaderDatabase::CountView(const ViewQuery& query) {
    if (!OrderUsable(query))
        return -1;
    ViewSql v = ViewSqlFor(query);
    int64_t n = -1;
    bool ok = Run(Access::Read, "count", [&] {
        const char* table = kind_ == DbKind::Groups ? "\"Group\"" : "Attachment";
        // Without a filter the rows hidden as incomplete are counted through the state
        // index and taken from the table's count, which needs no walk over the rows.
        sqlite3_stmt* s = Stmt(v.hide_incomplete && !v.has_filter
                                   ? "SELECT (SELECT count(*) FROM Attachment) - "
                                     "(SELECT count(*) FROM Attachment WHERE state=2)"
                                   : std::string("SELECT count(*) FROM ") + table + v.where);
        if (!s)
            return false;
        StmtScope scope{s};
        if (v.has_filter)
            BindText(s, 1, v.filter);
        if (sqlite3_step(s) != SQLITE_ROW)
            return false;
        n = sqlite3_column_int64(s, 0);
        return true;
    });
    return ok ? n : -1;
}

bool HeaderDatabase::StoredRows(int64_t first, int64_t count, std::vector<Attachment>& out) {
    out.clear();
    if (first < 0)
        return false;
    std::vector<Attachment> rows;
    bool ok = Run(Access::Read, "stored rows", [&] {
        sqlite3_stmt* s = Stmt(std::string("SELECT ") + kAttCols +
                               " FROM Attachment ORDER BY seq LIMIT ? OFFSET ?");
        if (!s)
            return false;
        StmtScope scope{s};
        sqlite3_bind_int64(s, 1, count < 0 ? -1 : count);
        sqlite3_bind_int64(s, 2, first);
        return SelectRows(s, rows);
    });
    if (ok)
        out = std::move(rows);
    return ok;
}

bool HeaderDatabase::RowsInStates(const std::vector<int>& states, int64_t limit,
                                  std::vector<Attachment>& out) {
    out.clear();
    if (states.empty() || limit == 0)
        return true;
    std::string sql = std::string("SELECT ") + kAttCols + " FROM Attachment WHERE state IN (";
    for (size_t k = 0; k < states.size(); ++k)
        sql += k ? ",?" : "?";
    sql += ") ORDER BY seq LIMIT ?";
    std::vector<Attachment> rows;
    bool ok = Run(Access::Read, "rows in states", [&] {
        sqlite3_stmt* s = Stmt(sql);
        if (!s)
            return false;
        StmtScope scope{s};
        int i = 1;
        for (int state : states)
            sqlite3_bind_int(s, i++, state);
        sqlite3_bind_int64(s, i, limit < 0 ? -1 : limit);
        return SelectRows(s, rows);
    });
    if (ok)
        out = std::move(rows);
    return ok;
}

// ---------------------------------------------------------------------------------------
// Queue order

bool HeaderDatabase::StoredRowIds(int64_t first, int64_t count, std::vector<int64_t>& ids) {
    ids.clear();
    sqlite3_stmt* s = Stmt("SELECT seq FROM Attachment ORDER BY seq LIMIT ? OFFSET ?");
    if (!s)
        return false;
    StmtScope scope{s};
    sqlite3_bind_int64(s, 1, count);
    sqlite3_bind_int64(s, 2, first);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(s, 0));
    return rc == SQLITE_DONE;
}

// Gives the stored rows ids[k] the contents rows[k], keys kept. The rows are deleted
// first and inserted again, so that Ids may move between them without a unique clash.
bool HeaderDatabase::RewriteRows(const std::vector<int64_t>& ids,
                                 const std::vector<Attachment>& rows,
                                 const std::vector<int64_t>& partkeys) {
    sqlite3_stmt* del = Stmt("DELETE FROM Attachment WHERE seq=?");
    sqlite3_stmt* ins = Stmt(std::string("INSERT INTO Attachment(seq,") + kAttInsertCols +
                             ",partkey) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!del || !ins)
        return false;
    for (int64_t id : ids) {
        StmtScope scope{del};
        sqlite3_bind_int64(del, 1, id);
        if (sqlite3_step(del) != SQLITE_DONE)
            return false;
    }
    for (size_t k = 0; k < ids.size(); ++k) {
        StmtScope scope{ins};
        sqlite3_bind_int64(ins, 1, ids[k]);
        BindAttachment(ins, 2, rows[k]);
        sqlite3_bind_int64(ins, 15, partkeys[k]);
        if (sqlite3_step(ins) != SQLITE_DONE)
            return false;
    }
    return true;
}

bool HeaderDatabase::SwapRows(int64_t a, int64_t b) {
    if (a < 0 || b < 0)
        return false;
    bool missing = false;
    bool ok = Run(Access::Write, "swap", [&] {
        std::vector<int64_t> ia, ib;
        if (!StoredRowIds(a, 1, ia) || !StoredRowIds(b, 1, ib))
            return false;
        if (ia.empty() || ib.empty()) {
            missing = true;
            return true;
        }
        if (ia[0] == ib[0])
            return true;
        std::vector<Attachment> rows;
        std::vector<int64_t> keys;
        return ReadRows({ia[0], ib[0]}, rows, &keys) &&
               RewriteRows({ia[0], ib[0]}, {rows[1], rows[0]}, {keys[1], keys[0]});
    });
    return ok && !missing;
}

// The same result as swapping row r with r - 1, then r - 1 with r - 2, ... down to row 0,
// done in one pass: row 0 gets row r's contents and rows 0 .. r - 1 move down by one.
bool HeaderDatabase::MoveRowToTop(int64_t row) {
    if (row < 0)
        return false;
    if (row == 0)
        return true;
    bool missing = false;
    bool ok = Run(Access::Write, "move", [&] {
        std::vector<int64_t> ids, keys;
        std::vector<Attachment> rows;
        if (!StoredRowIds(0, row + 1, ids) || !ReadRows(ids, rows, &keys))
            return false;
        if (static_cast<int64_t>(ids.size()) != row + 1) {
            missing = true;
            return true;
        }
        std::rotate(rows.begin(), rows.end() - 1, rows.end());
        std::rotate(keys.begin(), keys.end() - 1, keys.end());
        return RewriteRows(ids, rows, keys);
    });
    return ok && !missing;
}

// ---------------------------------------------------------------------------------------
// Totals and flags

int64_t HeaderDatabase::TotalKilobytes() {
    int64_t kb = 0;
    bool ok = Run(Access::Read, "total", [&] { return SumKilobytes(kb); });
    if (!ok)
        return 0;
    kb_total_ = kb;
    return kb;
}

int64_t HeaderDatabase::HighestArticleId() {
    bool ok = Run(Access::Read, "highest", [&] {
        if (highest_known_)
            return true;
        sqlite3_stmt* s = Stmt(
            "SELECT max(coalesce((SELECT max(ArticleId) FROM MessageVars),0),"
            "coalesce((SELECT highest FROM ScanResume WHERE id=1),0))");
        if (!s)
            return false;
        StmtScope scope{s};
        if (sqlite3_step(s) != SQLITE_ROW)
            return false;
        highest_seen_ = sqlite3_column_int64(s, 0);
        highest_known_ = true;
        return true;
    });
    return ok ? highest_seen_.load() : 0;
}

bool HeaderDatabase::NoteScannedThrough(int64_t number, uint64_t rollbacks_seen) {
    bool intact = true;
    const bool ok = Run(Access::Merge, "resume point", [&] {
        intact = rollbacks_.load() == rollbacks_seen;
        if (!intact)
            return true;  // refused without undoing what others merged
        sqlite3_stmt* s = Stmt(
            "INSERT INTO ScanResume(id,highest) VALUES(1,?) "
            "ON CONFLICT(id) DO UPDATE SET highest=max(highest,excluded.highest)");
        if (!s)
            return false;
        StmtScope scope{s};
        sqlite3_bind_int64(s, 1, number);
        if (sqlite3_step(s) != SQLITE_DONE)
            return false;
        if (number > highest_seen_.load(std::memory_order_relaxed))
            highest_seen_.store(number, std::memory_order_relaxed);
        return true;
    });
    return ok && intact;
}

bool HeaderDatabase::RecordScanChunks(const std::string& server,
                                      const std::vector<ArticleRange>& chunks) {
    return Run(Access::Write, "scan chunks", [&] {
        sqlite3_stmt* del = Stmt("DELETE FROM ScanChunk WHERE server=?");
        if (!del)
            return false;
        {
            StmtScope scope{del};
            BindText(del, 1, server);
            if (sqlite3_step(del) != SQLITE_DONE)
                return false;
        }
        for (const ArticleRange& chunk : chunks)
            if (!PutScanChunk(server, chunk))
                return false;
        return true;
    });
}

bool HeaderDatabase::PutScanChunk(const std::string& server, const ArticleRange& chunk) {
    sqlite3_stmt* s =
        Stmt("INSERT OR REPLACE INTO ScanChunk(server,\"first\",\"last\") VALUES(?,?,?)");
    if (!s)
        return false;
    StmtScope scope{s};
    BindText(s, 1, server);
    sqlite3_bind_int64(s, 2, chunk.first);
    sqlite3_bind_int64(s, 3, chunk.last);
    return sqlite3_step(s) == SQLITE_DONE;
}

bool HeaderDatabase::UnreadScanChunks(const std::string& server, std::vector<ArticleRange>& out) {
    out.clear();
    return Run(Access::Read, "scan chunks", [&] {
        sqlite3_stmt* s =
            Stmt("SELECT \"first\",\"last\" FROM ScanChunk WHERE server=? ORDER BY \"first\"");
        if (!s)
            return false;
        StmtScope scope{s};
        BindText(s, 1, server);
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW)
            out.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1)});
        return rc == SQLITE_DONE;
    });
}

bool HeaderDatabase::ScanChunkReadThrough(const std::string& server, const ArticleRange& chunk,
                                          int64_t number, uint64_t rollbacks_seen) {
    bool intact = true;
    const bool ok = Run(Access::Merge, "scan chunks", [&] {
        intact = rollbacks_.load() == rollbacks_seen;
        if (!intact)
            return true;
        sqlite3_stmt* del = Stmt("DELETE FROM ScanChunk WHERE server=? AND \"first\"=?");
        if (!del)
            return false;
        {
            StmtScope scope{del};
            BindText(del, 1, server);
            sqlite3_bind_int64(del, 2, chunk.first);
            if (sqlite3_step(del) != SQLITE_DONE)
                return false;
        }
        if (number >= chunk.last)
            return true;
        return PutScanChunk(server, {std::max(chunk.first, number + 1), chunk.last});
    });
    return ok && intact;
}

bool HeaderDatabase::ExpireBefore(int64_t cutoff, int64_t& removed) {
    removed = 0;
    if (cutoff <= 0)
        return true;
    return Run(Access::Write, "expire", [&] {
        // The rows going may carry the highest number read: it stays the resume point.
        int64_t highest = 0;
        if (!QueryInt("SELECT coalesce(max(ArticleId),0) FROM MessageVars", highest))
            return false;
        sqlite3_stmt* keep = Stmt(
            "INSERT INTO ScanResume(id,highest) VALUES(1,?) "
            "ON CONFLICT(id) DO UPDATE SET highest=max(highest,excluded.highest)");
        sqlite3_stmt* del_parts = Stmt(
            "DELETE FROM MessageVars WHERE partkey IN "
            "(SELECT partkey FROM Attachment WHERE date>0 AND date<?)");
        sqlite3_stmt* del = Stmt("DELETE FROM Attachment WHERE date>0 AND date<?");
        if (!keep || !del_parts || !del)
            return false;
        {
            StmtScope scope{keep};
            sqlite3_bind_int64(keep, 1, highest);
            if (sqlite3_step(keep) != SQLITE_DONE)
                return false;
        }
        for (sqlite3_stmt* s : {del_parts, del}) {
            StmtScope scope{s};
            sqlite3_bind_int64(s, 1, cutoff);
            if (sqlite3_step(s) != SQLITE_DONE)
                return false;
        }
        removed = sqlite3_changes(db_);
        if (removed > 0) {
            int64_t kb = 0;
            if (!SumKilobytes(kb))
                return false;
            kb_total_ = kb;
            Changed();
        }
        return true;
    });
}

bool HeaderDatabase::ClearNewFlags() {
    return Run(Access::Write, "clear new",
               [&] { return Exec("UPDATE Attachment SET isnew=0 WHERE isnew=1"); });
}

// ---------------------------------------------------------------------------------------
// The groups database

bool HeaderDatabase::StoreGroup(const Group& group) {
    return Run(Access::Merge, "store group", [&] {
        sqlite3_stmt* upd = Stmt(
            "UPDATE \"Group\" SET downloaddir=?2,\"first\"=?3,\"last\"=?4,amount=?5,state=?6,"
            "lastscanned=?7 WHERE name=?1");
        sqlite3_stmt* ins = Stmt(std::string("INSERT INTO \"Group\"(") + kGroupCols +
                                 ") VALUES(?1,?2,?3,?4,?5,?6,?7)");
        if (!upd || !ins)
            return false;
        for (sqlite3_stmt* s : {upd, ins}) {
            StmtScope scope{s};
            BindText(s, 1, group.name);
            BindText(s, 2, group.downloaddir);
            sqlite3_bind_int64(s, 3, group.first);
            sqlite3_bind_int64(s, 4, group.last);
            sqlite3_bind_int64(s, 5, group.amount);
            sqlite3_bind_int(s, 6, group.state);
            sqlite3_bind_int64(s, 7, group.lastscanned);
            if (sqlite3_step(s) != SQLITE_DONE)
                return false;
            if (sqlite3_changes(db_) > 0)
                break;
        }
        ++txn_parts_;
        return true;
    });
}

// Groups in the query's order when it names a Group column; by name otherwise (in the
// direction an attachment order gives).
bool HeaderDatabase::GroupsQuery(const ViewQuery& query, int64_t first, int64_t count,
                                 std::vector<Group>& out) {
    out.clear();
    std::string canonical = CanonicalOrder(query.order, kGroupOrders);
    if (canonical.empty()) {
        std::string accepted;
        AcceptOrder(query.order, accepted);
        canonical = accepted.ends_with(" desc") ? "name desc" : "name";
    }
    ViewSql v = ViewSqlFor(query);
    std::string sql = std::string("SELECT ") + kGroupCols + " FROM \"Group\"" + v.where +
                      OrderClause(canonical) + " LIMIT ?2 OFFSET ?3";
    sqlite3_stmt* s = Stmt(sql);
    if (!s)
        return false;
    StmtScope scope{s};
    if (v.has_filter)
        BindText(s, 1, v.filter);
    sqlite3_bind_int64(s, 2, count);
    sqlite3_bind_int64(s, 3, first);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        out.emplace_back();
        ReadGroup(s, out.back());
    }
    return rc == SQLITE_DONE;
}

bool HeaderDatabase::GroupsPage(const ViewQuery& query, int64_t first, int64_t count,
                                std::map<int64_t, Group>& rows) {
    if (first < 0 || count <= 0 || kind_ != DbKind::Groups || !OrderUsable(query))
        return false;
    std::vector<Group> groups;
    if (!Run(Access::Read, "groups", [&] { return GroupsQuery(query, first, count, groups); }))
        return false;
    for (size_t k = 0; k < groups.size(); ++k)
        rows[first + static_cast<int64_t>(k)] = std::move(groups[k]);
    return true;
}

bool HeaderDatabase::FindGroup(const std::string& name, Group& out) {
    bool found = false;
    bool ok = Run(Access::Read, "find group", [&] {
        sqlite3_stmt* s =
            Stmt(std::string("SELECT ") + kGroupCols + " FROM \"Group\" WHERE name=?1");
        if (!s)
            return false;
        StmtScope scope{s};
        BindText(s, 1, name);
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            ReadGroup(s, out);
            found = true;
            return true;
        }
        return rc == SQLITE_DONE;
    });
    return ok && found;
}

bool HeaderDatabase::SubscribedGroups(std::vector<Group>& out) {
    return Run(Access::Read, "subscribed", [&] {
        sqlite3_stmt* s = Stmt(std::string("SELECT ") + kGroupCols +
                               " FROM \"Group\" WHERE state=1 ORDER BY name");
        if (!s)
            return false;
        StmtScope scope{s};
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            Group g;
            ReadGroup(s, g);
            out.push_back(std::move(g));
        }
        return rc == SQLITE_DONE;
    });
}

bool HeaderDatabase::ClearSubscribedMarks() {
    return Run(Access::Write, "clear marks",
               [&] { return Exec("UPDATE \"Group\" SET state=0 WHERE state=1"); });
}

bool HeaderDatabase::SumKilobytes(int64_t& kb) {
    // total() adds in floating point, so sizes a server made up cannot overflow the sum
    // (sum() would fail, and with it the opening of the file); below 0 counts as 0.
    sqlite3_stmt* s = Stmt("SELECT total(max(bytes,0)/1024) FROM Attachment");
    if (!s)
        return false;
    StmtScope scope{s};
    if (sqlite3_step(s) != SQLITE_ROW)
        return false;
    const double total = sqlite3_column_double(s, 0);
    kb = total >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(total);
    return true;
}

// ---------------------------------------------------------------------------------------
// Opening the database a Group names

bool OpenHeaderDatabase(Group& group, const DbEnv& env, const std::string& name) {
    if (group.db)
        return true;
    std::string use = name.empty() ? group.name : name;
    if (use.empty()) {
        Say(env, std::string("SQL error: ") + "No group", Host::Icon::Stop);
        return false;
    }
    group.db = HeaderDatabase::Open(env, use);
    if (!group.db)
        return false;
    group.name = use;
    return true;
}

}  // namespace qs
