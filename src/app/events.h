#pragma once

// What the core tells a front end while it works: typed outcomes and events. Plain values
// only, so the front ends may include this beside the engine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qs {

// How one part's fetch ended.
enum class PartOutcome {
    Written,         // the body arrived whole and was decoded (or handed on to be)
    NotFound,        // 423 / 430: the server has no such article
    Refused,         // any other reply than 22x (48x login, 5xx, ...)
    ConnectionLost,  // the connection ended or failed before the body's closing line
    CrcFailed,       // a yEnc part failed its size or CRC check
    Unreachable,     // no server could be connected to
    Stopped,         // the work was stopped meanwhile
};

// How one queue entry ended.
enum class EntryOutcome {
    Done,         // downloaded whole
    Incomplete,   // downloaded with parts given up (SkipMissing): the file has holes
    Failed,       // not downloaded; the reason says why
    Stopped,      // stopped by the user before it ended
    Unreachable,  // no server could be reached: the entry waits in the queue
    Scanned,      // a queued scan ran
    DiskFull,     // the local disk refused the file (full, over quota, read-only): the entry
                  // waits in the queue and the downloads stop
};

const char* OutcomeName(EntryOutcome outcome);
const char* OutcomeName(PartOutcome outcome);
// True for the outcomes a script should see as a failure.
inline bool IsFailure(EntryOutcome outcome) {
    return outcome != EntryOutcome::Done && outcome != EntryOutcome::Scanned;
}

// An entry left the queue's hands: filed in the log, put back, or kept for want of a log.
struct FiledEntry {
    std::string id;
    std::string filename;
    std::string group;
    EntryOutcome outcome = EntryOutcome::Done;
    std::string reason;         // why it failed or is incomplete; empty when done
    std::string output_path;    // the file written, when one was
    bool still_queued = false;  // the entry stays in the queue (put back, or not filed)
    bool in_log = false;        // its record was written to the log
    // The base name of the set of files it belongs to ("Movie" of "Movie.7z.001"), empty
    // for a file of its own; set_finished: it was the set's last entry in the queue, so the
    // set is verified, repaired and unpacked next.
    std::string set_name = {};
    bool set_finished = false;
};

// What post-processing made of a set once its last entry was filed.
struct ProcessedSet {
    std::string name;      // the set's base name, as posted
    std::string dir;       // where its files are
    std::string outcome;   // "verified", "repaired (2 blocks), unpacked (1 file)", "failed: ..."
    bool failed = false;   // not repaired, not unpacked, or encrypted
    bool damaged = false;  // failed, and its files are not whole: par2 could not repair them
};

// One server's part of a group's scan.
struct ServerScan {
    std::string host;
    bool complete = false;  // the overview was read to its end (or the scan was stopped)
    int64_t headers = 0;    // overview lines read
    std::string error;      // the server's answer when it failed
};

// A group's scan ended: every server of it was tried.
struct ScanReport {
    std::string group;
    std::vector<ServerScan> servers;
    // Headers posted before the cut-off (seconds since 1970; none when FindExpired is
    // off, 0 when nothing expires) were dropped: `expired` attachments left the database.
    std::optional<int64_t> expiry_cutoff;
    int64_t expired = 0;
    int servers_scanned() const;
    int servers_failed() const;
    // "k servers scanned, f failed" and, when headers expired, ", e expired".
    std::string Summary() const;
};

// The one listener of an engine. Each method comes on the thread named, never on two at
// once for one listener call; a GUI marshals them to its own thread. Every method has an
// empty default.
class EventListener {
  public:
    virtual ~EventListener() = default;
    // A slot's status text changed. On the slot's worker thread (or the caller's thread
    // for commands that set it).
    virtual void OnSlotStatus(int slot, const std::string& text) {
        (void)slot;
        (void)text;
    }
    // Rows of a database changed: "queue", "log" or a group's name; `ids` are the changed
    // attachments, empty when many or all rows may have changed. On any thread.
    virtual void OnRowsChanged(const std::string& database, const std::vector<std::string>& ids) {
        (void)database;
        (void)ids;
    }
    // A queue entry was filed (or put back). On the worker's thread.
    virtual void OnEntryFiled(const FiledEntry& entry) { (void)entry; }
    // A set's post-processing ended. On the thread of the worker that filed its last entry.
    virtual void OnSetProcessed(const ProcessedSet& set) { (void)set; }
    // A group's scan ended, every server of it tried. On the thread of the last scan worker.
    virtual void OnScanEnded(const ScanReport& report) { (void)report; }
    // The subscribed groups changed (subscribe, unsubscribe, settings applied, a scan's
    // time). On the thread of the command.
    virtual void OnGroupListChanged() {}
    // Every worker has ended and no task is left running (Autograb included). On the last
    // worker's thread or the Autograb thread.
    virtual void OnIdle() {}
};

}  // namespace qs
