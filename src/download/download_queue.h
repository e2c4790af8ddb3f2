#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/events.h"
#include "db/header_db.h"
#include "db/header_view.h"
#include "db/records.h"
#include "download/download_sets.h"

namespace qs {

// The download queue and the log behind it: every way an entry comes in (a group's rows,
// an NZB file, a scan request), the hand-over to workers, the filing of what they did, and
// the user's edits. Any thread may call it.
//
// Events go out with no lock of the queue held. Filing is failure-safe: an entry leaves the queue
// only after its log record is written. When the log refuses the record, the entry stays in the
// queue in its final state (5 or 6, which no worker takes again) and the reason says why; nothing
// is lost.
class DownloadQueue {
  public:
    // `events` hears rows changed and entries filed; may be null.
    DownloadQueue(std::shared_ptr<HeaderDatabase> queue, std::shared_ptr<HeaderDatabase> log,
                  EventListener* events);

    // Where Remove and Clear find an entry's group database (null when there is none), to
    // show its row unqueued again. Set before the queue is used.
    using GroupDatabases = std::function<std::shared_ptr<HeaderDatabase>(const std::string&)>;
    void SetGroupDatabases(GroupDatabases lookup) { group_databases_ = std::move(lookup); }

    const std::shared_ptr<HeaderDatabase>& queue_db() const { return queue_; }
    const std::shared_ptr<HeaderDatabase>& log_db() const { return log_; }

    // --- Coming in ---

    // Stores the entry, with its parts, as queued (3) at the end, or at the head. False
    // when the queue database refused it.
    [[nodiscard]] bool Add(Attachment entry, bool at_top);
    // A request to scan `group`, at the head of the queue (state 8).
    [[nodiscard]] bool AddScanEntry(const std::string& group);

    // Queues every row of `view` (a group's view) that is not queued or downloading yet,
    // with its parts, in `default_dir` when the row names none, and marks it queued in the
    // group's database. With open_after every row's file is also opened once downloaded,
    // and the new entries go to the head of the queue. Returns how many were queued; -1
    // when a database refused a write (what was queued before stays queued).
    int EnqueueView(HeaderView& view, const std::string& group, const std::string& default_dir,
                    bool open_after);
    // The same for rows the caller read from `source` (a group's database).
    int EnqueueRows(std::vector<Attachment> rows, HeaderDatabase& source, const std::string& group,
                    const std::string& default_dir, bool open_after);

    // --- Workers ---

    // The first queued (3) or scan (8) entry that no worker holds, now held by the caller.
    // A download entry is marked downloading (4) and comes with its parts; a scan entry
    // stays as it is until filed.
    std::optional<Attachment> Take();
    // Gives a held entry back unfiled, queued (3) again: stopped before it began (then at
    // the end of the queue), or no server could be reached (where it was).
    void PutBack(Attachment entry, EntryOutcome outcome, const std::string& reason);
    // Files a held entry in the log with its outcome, then takes it out of the queue; with
    // back_in_queue it is queued again at the end as well (CancelledBackInQueue).
    FiledEntry File(Attachment entry, EntryOutcome outcome, const std::string& reason,
                    const std::string& output_path, bool back_in_queue);
    // Entries a killed run left downloading (4) are queued (3) again. Returns how many.
    int RequeueInterrupted();

    // --- Sets (download_sets.h) ---

    // Whether par2 recovery volumes are held back (post-processing is on); unset: never.
    void SetHoldRecovery(std::function<bool()> hold) { hold_recovery_ = std::move(hold); }
    // Holds (StateHeld) the queued recovery volumes of every set that has its par2 index in
    // the queue or on disk and other files still to download: a verify of the set decides
    // which of them are needed. EnqueueRows calls it; so does an NZB import once done.
    // Returns how many were held.
    int HoldRecoveryVolumes();

    // The held entries of the set, in queue order.
    std::vector<Attachment> HeldOfSet(const SetKey& set);
    // Queues held entries again; returns how many.
    int Release(const std::vector<Attachment>& held);
    // Takes the set's held entries out of the queue; their group rows show unqueued again.
    void DropHeld(const SetKey& set);
    // Adds what became of the set to the reason of each of its entries in the log, then
    // tells the listener.
    void FileSetOutcome(const SetKey& set, const ProcessedSet& processed);

    // Grab And Open: files opened once downloaded.
    void AddOpenAfter(const std::string& id);
    bool TakeOpenAfter(const std::string& id);
    bool IsOpenAfter(const std::string& id) const;

    // --- The user's edits (entries a worker holds are left alone) ---

    // Removes the entries; a queued download (3) shows in its group's database as
    // complete (1) again, or incomplete (2) when parts are missing. Returns how many went.
    int Remove(const std::vector<std::string>& ids);
    // Moves the entries to the head of the queue, keeping their order among themselves.
    bool MoveToTop(const std::vector<std::string>& ids);
    // Drags rows of the stored order by `delta` places: moving up from the first row to the
    // last, moving down from the last to the first, each by swaps with its neighbour; a row
    // whose target falls outside the queue stops the move for it and every row after it.
    // Rows outside the queue are skipped. moved_to (when given) gets each row's new
    // position in the order of `rows`. Returns how many rows moved; -1 when the database
    // refused a swap (the rows moved before stay moved).
    int MoveRows(const std::vector<int64_t>& rows, int64_t delta, std::vector<int64_t>* moved_to);
    // Empties the queue but for the entries being downloaded; every download entry's row
    // in its group's database shows complete (1) or incomplete (2) again.
    bool Clear();
    // Empties the log.
    bool ClearLog();

    // The status bar's figures: entries in the queue and their size.
    int64_t Count();
    int64_t kb_total() const { return queue_ ? queue_->kb_total() : 0; }

  private:
    std::optional<Attachment> TakeLocked();
    bool SetStillQueued(const SetKey& set, const std::string& filed_id);
    void RowsChanged(const std::string& database, std::vector<std::string> ids);
    bool MoveToTopLocked(const std::vector<std::string>& ids);
    void ShowUnqueuedInGroup(Attachment entry);

    std::shared_ptr<HeaderDatabase> queue_;
    std::shared_ptr<HeaderDatabase> log_;
    EventListener* events_;
    GroupDatabases group_databases_;
    std::function<bool()> hold_recovery_;
    // Held while entries are taken, put back or edited, and over `active`.
    std::mutex mutex_;
    std::set<std::string> active_;  // entries workers hold
    mutable std::mutex open_after_mutex_;
    std::set<std::string> open_after_;
};

}  // namespace qs
