#include "download/download_queue.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>

#include "app/debug_log.h"
#include "app/text_util.h"

namespace qs {

namespace {

int LogState(EntryOutcome outcome) {
    switch (outcome) {
        case EntryOutcome::Done:
        case EntryOutcome::Incomplete:
            return StateDone;
        case EntryOutcome::Scanned:
            return StateScanJob;
        case EntryOutcome::Failed:
        case EntryOutcome::Stopped:
        case EntryOutcome::Unreachable:
        case EntryOutcome::DiskFull:
            break;
    }
    return StateFailed;
}

}  // namespace

DownloadQueue::DownloadQueue(std::shared_ptr<HeaderDatabase> queue,
                             std::shared_ptr<HeaderDatabase> log, EventListener* events)
    : queue_(std::move(queue)), log_(std::move(log)), events_(events) {}

void DownloadQueue::RowsChanged(const std::string& database, std::vector<std::string> ids) {
    if (events_)
        events_->OnRowsChanged(database, ids);
}

bool DownloadQueue::Add(Attachment entry, bool at_top) {
    entry.state = StateQueued;
    {
        std::lock_guard lock(mutex_);
        if (!queue_->StoreAttachment(nullptr, entry))
            return false;
        queue_->Flush();
        if (at_top && !MoveToTopLocked({entry.Id}))
            return false;
    }
    RowsChanged("queue", {entry.Id});
    return true;
}

bool DownloadQueue::AddScanEntry(const std::string& group) {
    Attachment entry;
    entry.state = StateScanJob;
    entry.Id = entry.filename = entry.newsgroup = group;
    entry.date = static_cast<int64_t>(std::time(nullptr));
    {
        std::lock_guard lock(mutex_);
        if (!queue_->StoreAttachment(nullptr, entry))
            return false;
        queue_->Flush();
        if (!MoveToTopLocked({entry.Id}))
            return false;
    }
    RowsChanged("queue", {entry.Id});
    return true;
}

int DownloadQueue::EnqueueView(HeaderView& view, const std::string& group,
                               const std::string& default_dir, bool open_after) {
    std::vector<Attachment> rows;
    constexpr int64_t kPage = 500;
    const int64_t count = view.CountRows();
    for (int64_t row = 0; row < count; ++row) {
        if (row % kPage == 0)
            view.FillRowCache(row, std::min(kPage, count - row));
        Attachment a;
        if (!view.AttachmentAt(row, a))
            break;
        rows.push_back(std::move(a));
    }
    int queued = EnqueueRows(std::move(rows), *view.db(), group, default_dir, open_after);
    view.Invalidate();
    return queued;
}

int DownloadQueue::EnqueueRows(std::vector<Attachment> rows, HeaderDatabase& source,
                               const std::string& group, const std::string& default_dir,
                               bool open_after) {
    std::vector<std::string> queued_ids;
    bool refused = false;
    {
        std::lock_guard lock(mutex_);
        DbBatch batch(queue_);
        for (Attachment& a : rows) {
            if (open_after)
                AddOpenAfter(a.Id);
            if (a.state == StateQueued || a.state == StateDownloading)
                continue;
            a.state = StateQueued;
            a.reason.clear();  // the reason of an earlier try is not this one's
            if (!source.LoadParts(a)) {
                refused = true;
                break;
            }
            if (a.dir.empty())
                a.dir = default_dir;
            if (a.newsgroup.empty())
                a.newsgroup = group;
            if (!queue_->StoreAttachment(nullptr, a)) {
                refused = true;
                break;
            }
            queued_ids.push_back(a.Id);
            // The group's row shows it queued only once the queue holds it.
            if (!source.SetAttachmentState(a)) {
                refused = true;
                break;
            }
        }
        queue_->Flush();
        // Each new entry goes to the head as it comes, as the user's Grab And Open of one
        // row after another would put them.
        for (const std::string& id : open_after ? queued_ids : std::vector<std::string>{})
            refused = !MoveToTopLocked({id}) || refused;
    }
    if (!queued_ids.empty()) {
        RowsChanged("queue", queued_ids);
        RowsChanged(group, queued_ids);
        HoldRecoveryVolumes();
    }
    return refused ? -1 : static_cast<int>(queued_ids.size());
}

std::optional<Attachment> DownloadQueue::Take() {
    std::optional<Attachment> taken = TakeLocked();
    if (taken)
        RowsChanged("queue", {taken->Id});
    return taken;
}

std::optional<Attachment> DownloadQueue::TakeLocked() {
    std::lock_guard lock(mutex_);
    std::vector<Attachment> candidates;
    // At most one entry per worker is held, so this many rows always hold a free one.
    if (!queue_->RowsInStates({StateQueued, StateScanJob}, static_cast<int64_t>(active_.size()) + 1,
                              candidates))
        return std::nullopt;
    for (Attachment& entry : candidates) {
        if (active_.count(entry.Id))
            continue;
        // A scan entry stays queued, untouched, until its scan has run, so a crash
        // cannot lose it.
        if (entry.state != StateScanJob) {
            if (!queue_->LoadParts(entry))
                return std::nullopt;
            entry.state = StateDownloading;
            if (!queue_->SetAttachmentState(entry))
                return std::nullopt;
        }
        active_.insert(entry.Id);
        return std::move(entry);
    }
    return std::nullopt;
}

namespace {

// A set's index already downloaded into its directory.
bool IndexOnDisk(const SetKey& set) {
    std::error_code error;
    for (const auto& file : std::filesystem::directory_iterator(set.dir, error)) {
        const SetFileName name = ClassifySetFile(file.path().filename().string());
        if (name.role == SetFileRole::par2_index && ToLower(name.base) == set.base)
            return true;
    }
    return false;
}

}  // namespace

int DownloadQueue::HoldRecoveryVolumes() {
    if (!hold_recovery_ || !hold_recovery_())
        return 0;
    std::vector<std::string> held_ids;
    {
        std::lock_guard lock(mutex_);
        std::vector<Attachment> rows;
        if (!queue_->StoredRows(0, -1, rows))
            return 0;
        struct SetState {
            bool index_queued = false;
            bool files_pending = false;  // a file other than a recovery volume still to come
            std::vector<Attachment*> recovery;
        };
        std::map<std::pair<std::string, std::string>, SetState> sets;
        for (Attachment& row : rows) {
            const std::optional<SetMember> member = SetMemberOf(row);
            if (!member)
                continue;
            SetState& set = sets[{member->key.dir, member->key.base}];
            const bool pending = row.state == StateQueued || row.state == StateDownloading;
            if (member->name.role == SetFileRole::par2_recovery) {
                if (row.state == StateQueued)
                    set.recovery.push_back(&row);
            } else if (pending) {
                set.files_pending = true;
            }
            if (member->name.role == SetFileRole::par2_index)
                set.index_queued = true;
        }
        // Recovery volumes released for a repair come after every other file of their set
        // was filed: they are never held again.
        for (auto& [key, set] : sets) {
            if (set.recovery.empty() || !set.files_pending ||
                !(set.index_queued || IndexOnDisk({key.first, key.second})))
                continue;
            for (Attachment* entry : set.recovery) {
                entry->state = StateHeld;
                if (queue_->SetAttachmentState(*entry))
                    held_ids.push_back(entry->Id);
                else
                    LogLine("Could not hold %s back\n", entry->Id.c_str());
            }
        }
    }
    if (!held_ids.empty())
        RowsChanged("queue", held_ids);
    return static_cast<int>(held_ids.size());
}

void DownloadQueue::PutBack(Attachment entry, EntryOutcome outcome, const std::string& reason) {
    {
        // Under the lock: a drag of the queue's rows never sees the order change midway.
        std::lock_guard lock(mutex_);
        if (entry.state != StateScanJob) {
            entry.state = StateQueued;
            if (!queue_->SetAttachmentState(entry))
                LogLine("Could not queue %s again\n", entry.Id.c_str());
            // Stopped before it began: it waits behind the others, as a cancelled download
            // does.
            if (outcome == EntryOutcome::Stopped && !queue_->MoveToEnd(entry))
                LogLine("Could not move %s to the end of the queue\n", entry.Id.c_str());
        }
        active_.erase(entry.Id);
    }
    RowsChanged("queue", {entry.Id});
    if (events_) {
        FiledEntry filed{entry.Id, entry.filename, entry.newsgroup, outcome, reason, {}, true};
        events_->OnEntryFiled(filed);
    }
}

FiledEntry DownloadQueue::File(Attachment entry, EntryOutcome outcome, const std::string& reason,
                               const std::string& output_path, bool back_in_queue) {
    FiledEntry filed{entry.Id, entry.filename, entry.newsgroup, outcome,
                     reason,   output_path,    back_in_queue};
    const std::optional<SetMember> member = SetMemberOf(entry);
    if (member)
        filed.set_name = member->name.base;
    entry.state = LogState(outcome);
    entry.reason = reason;
    // Filed in the log first, then taken out of the queue: a crash in between leaves it in
    // both, never in neither.
    const bool logged = log_ && log_->StoreAttachment(nullptr, entry);
    if (logged)
        log_->Flush();
    filed.in_log = logged;
    {
        std::lock_guard lock(mutex_);
        if (!logged) {
            // Kept in the queue in its final state, so no worker takes it again.
            if (entry.state == StateScanJob)
                entry.state = StateFailed;
            if (!queue_->SetAttachmentState(entry))
                LogLine("Could not mark %s in the queue either\n", entry.Id.c_str());
            filed.still_queued = true;
            filed.reason = (reason.empty() ? "" : reason + "; ") +
                           "not filed in the log (the log database refused the write): it " +
                           "stays in the queue";
            LogLine("%s: %s\n", entry.Id.c_str(), filed.reason.c_str());
        } else if (!queue_->RemoveAttachment(entry)) {
            LogLine("Could not take %s out of the queue\n", entry.Id.c_str());
        } else if (back_in_queue) {
            Attachment again = entry;
            again.state = StateQueued;
            if (!queue_->StoreAttachment(nullptr, again))
                LogLine("Could not queue %s again\n", entry.Id.c_str());
        } else if (member) {
            // Under the lock with the removal: of two entries filed at once, only the later
            // one finds the set done.
            filed.set_finished = !SetStillQueued(member->key, entry.Id);
        }
        active_.erase(entry.Id);
    }
    RowsChanged("queue", {entry.Id});
    if (logged)
        RowsChanged("log", {entry.Id});
    if (events_)
        events_->OnEntryFiled(filed);
    return filed;
}

bool DownloadQueue::SetStillQueued(const SetKey& set, const std::string& filed_id) {
    std::vector<Attachment> rows;
    if (!queue_->RowsInStates({StateQueued, StateDownloading}, -1, rows))
        return true;  // unknown: the set is left alone rather than processed half done
    for (const Attachment& row : rows) {
        const std::optional<SetMember> other = SetMemberOf(row);
        if (row.Id != filed_id && other && other->key == set)
            return true;
    }
    return false;
}

std::vector<Attachment> DownloadQueue::HeldOfSet(const SetKey& set) {
    std::lock_guard lock(mutex_);
    std::vector<Attachment> rows;
    if (!queue_->RowsInStates({StateHeld}, -1, rows))
        return {};
    std::erase_if(rows, [&](const Attachment& row) {
        const std::optional<SetMember> member = SetMemberOf(row);
        return !member || !(member->key == set);
    });
    return rows;
}

int DownloadQueue::Release(const std::vector<Attachment>& held) {
    int released = 0;
    {
        std::lock_guard lock(mutex_);
        for (Attachment entry : held) {
            entry.state = StateQueued;
            if (queue_->SetAttachmentState(entry))
                ++released;
            else
                LogLine("Could not release %s\n", entry.Id.c_str());
        }
    }
    RowsChanged("queue", {});
    return released;
}

void DownloadQueue::DropHeld(const SetKey& set) {
    std::vector<Attachment> held = HeldOfSet(set);
    if (held.empty())
        return;
    std::vector<std::string> ids;
    for (const Attachment& entry : held)
        ids.push_back(entry.Id);
    Remove(ids);
}

void DownloadQueue::FileSetOutcome(const SetKey& set, const ProcessedSet& processed) {
    std::vector<std::string> ids;
    std::vector<Attachment> rows;
    if (log_ && !processed.outcome.empty() && log_->StoredRows(0, -1, rows)) {
        for (Attachment& row : rows) {
            const std::optional<SetMember> member = SetMemberOf(row);
            if (!member || !(member->key == set))
                continue;
            const std::string text = "set: " + processed.outcome;
            if (row.reason.find(text) != std::string::npos)
                continue;
            row.reason = row.reason.empty() ? text : row.reason + "; " + text;
            if (log_->StoreAttachment(nullptr, row))
                ids.push_back(row.Id);
            else
                LogLine("Could not note the set's outcome on %s\n", row.Id.c_str());
        }
        log_->Flush();
    }
    if (!ids.empty())
        RowsChanged("log", ids);
    if (events_)
        events_->OnSetProcessed(processed);
}

int DownloadQueue::RequeueInterrupted() {
    std::lock_guard lock(mutex_);
    std::vector<Attachment> interrupted;
    if (!queue_->RowsInStates({StateDownloading}, -1, interrupted))
        return 0;
    int count = 0;
    for (Attachment& entry : interrupted) {
        if (active_.count(entry.Id))
            continue;
        entry.state = StateQueued;
        if (queue_->SetAttachmentState(entry)) {
            LogLine("Interrupted download queued again: %s\n", entry.Id.c_str());
            ++count;
        }
    }
    return count;
}

void DownloadQueue::AddOpenAfter(const std::string& id) {
    std::lock_guard lock(open_after_mutex_);
    open_after_.insert(id);
}

bool DownloadQueue::TakeOpenAfter(const std::string& id) {
    std::lock_guard lock(open_after_mutex_);
    return open_after_.erase(id) > 0;
}

bool DownloadQueue::IsOpenAfter(const std::string& id) const {
    std::lock_guard lock(open_after_mutex_);
    return open_after_.count(id) > 0;
}

void DownloadQueue::ShowUnqueuedInGroup(Attachment entry) {
    // A scan entry stands for no row of a group.
    if (entry.state == StateScanJob || !group_databases_)
        return;
    std::shared_ptr<HeaderDatabase> group = group_databases_(entry.newsgroup);
    if (!group)
        return;
    entry.state = entry.partcount < entry.parts ? StateIncomplete : StateComplete;
    if (!group->SetAttachmentState(entry)) {
        LogLine("Could not show %s unqueued in %s\n", entry.Id.c_str(), entry.newsgroup.c_str());
        return;
    }
    RowsChanged(entry.newsgroup, {entry.Id});
}

int DownloadQueue::Remove(const std::vector<std::string>& ids) {
    std::vector<Attachment> gone;
    {
        std::lock_guard lock(mutex_);
        std::vector<Attachment> rows;
        if (!queue_->StoredRows(0, -1, rows))
            return 0;
        const std::set<std::string> wanted(ids.begin(), ids.end());
        for (Attachment& a : rows)
            if (wanted.count(a.Id) && !active_.count(a.Id))
                gone.push_back(std::move(a));
        if (gone.empty() || !queue_->RemoveAttachments(gone))
            return 0;
    }
    for (const Attachment& a : gone)
        if (a.state == StateQueued || a.state == StateHeld)
            ShowUnqueuedInGroup(a);
    RowsChanged("queue", {});
    return static_cast<int>(gone.size());
}

bool DownloadQueue::MoveToTopLocked(const std::vector<std::string>& ids) {
    std::vector<Attachment> rows;
    if (!queue_->StoredRows(0, -1, rows))
        return false;
    // The last of them first, so that they end up at the head in their own order.
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        auto it = std::find_if(rows.begin(), rows.end(),
                               [&](const Attachment& a) { return a.Id == *id; });
        if (it == rows.end())
            continue;
        if (!queue_->MoveRowToTop(it - rows.begin()))
            return false;
        std::rotate(rows.begin(), it, it + 1);
    }
    return true;
}

bool DownloadQueue::MoveToTop(const std::vector<std::string>& ids) {
    bool ok;
    {
        std::lock_guard lock(mutex_);
        ok = MoveToTopLocked(ids);
    }
    RowsChanged("queue", {});
    return ok;
}

int DownloadQueue::MoveRows(const std::vector<int64_t>& rows, int64_t delta,
                            std::vector<int64_t>* moved_to) {
    if (moved_to)
        *moved_to = rows;
    // Positions into `rows`, in the order the rows are carried: the row nearest the
    // direction of the move goes first, so the rows never pass one another.
    std::vector<size_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return delta < 0 ? rows[a] < rows[b] : rows[a] > rows[b];
    });
    int moved = 0;
    bool refused = false;
    {
        // Held over the whole move: a worker taking the head never sees it half done.
        std::lock_guard lock(mutex_);
        const int64_t count = Count();
        int64_t previous = -1;
        for (size_t i : order) {
            const int64_t row = rows[i];
            if (delta == 0 || row < 0 || row >= count || row == previous)
                continue;
            previous = row;
            const int64_t target = row + delta;
            if (target < 0 || target >= count)
                break;
            const int64_t step = delta < 0 ? -1 : 1;
            for (int64_t at = row; at != target && !refused; at += step)
                refused = !queue_->SwapRows(at, at + step);
            if (refused)
                break;
            if (moved_to)
                for (size_t j = 0; j < rows.size(); ++j)
                    if (rows[j] == row)
                        (*moved_to)[j] = target;
            ++moved;
        }
    }
    if (moved > 0 || refused)
        RowsChanged("queue", {});
    return refused ? -1 : moved;
}

bool DownloadQueue::Clear() {
    std::vector<Attachment> rows;
    {
        std::lock_guard lock(mutex_);
        if (!queue_->StoredRows(0, -1, rows))
            return false;
        std::erase_if(rows, [&](const Attachment& a) { return active_.count(a.Id) > 0; });
        if (!rows.empty() && !queue_->RemoveAttachments(rows))
            return false;
    }
    for (const Attachment& a : rows)
        ShowUnqueuedInGroup(a);
    RowsChanged("queue", {});
    return true;
}

bool DownloadQueue::ClearLog() {
    if (!log_ || !log_->Empty())
        return false;
    RowsChanged("log", {});
    return true;
}

int64_t DownloadQueue::Count() {
    return queue_ ? std::max<int64_t>(0, queue_->CountView(ViewQuery{})) : 0;
}

}  // namespace qs
