#include "download/download_queue.h"

#include <chrono>

#include "app/debug_log.h"
#include "app/thread_priority.h"
#include "download/part_retrieval.h"

namespace qs {

namespace {

void Refresh(WorkerState& state) {
    if (Host* host = state.host())
        host->Refresh();
}

// The first entry a worker may take: queued (3) or a scan (8), and not being downloaded by
// another worker. Queue lock held.
bool FirstTakeable(DownloadShared& shared, Attachment& out) {
    HeaderDatabase& queue = *shared.queue();
    for (int64_t row = 0; queue.AttachmentAt(row, out); ++row) {
        if ((out.state == StateQueued || out.state == StateScanJob) && !shared.active.count(out.Id))
            return true;
    }
    return false;
}

void SetGroupState(const std::shared_ptr<HeaderDatabase>& group_db, const Attachment& entry) {
    if (group_db)
        group_db->SetAttachmentState(entry);
}

}  // namespace

void DownloadShared::AddOpenAfter(const std::string& id) {
    std::lock_guard lock(open_after_mutex_);
    open_after_.insert(id);
}

bool DownloadShared::TakeOpenAfter(const std::string& id) {
    std::lock_guard lock(open_after_mutex_);
    return open_after_.erase(id) > 0;
}

bool DownloadShared::IsOpenAfter(const std::string& id) const {
    std::lock_guard lock(open_after_mutex_);
    return open_after_.count(id) > 0;
}

void DownloadWorker(DownloadShared& shared, int slot_index) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    const Settings& settings = state.settings();
    std::unique_ptr<NntpSocket> connection;
    bool unreachable = false;
    slot.stop_requested.store(false);

    while (slot.enabled.load()) {
        if (!state.downloading())
            break;
        if (state.paused() && !state.WaitWhilePaused(slot_index))
            break;  // stopped while paused

        Attachment entry;
        std::shared_ptr<HeaderDatabase> group_db;
        {
            std::lock_guard lock(state.queue_mutex());
            if (!shared.queue() || !FirstTakeable(shared, entry))
                break;
            // A scan entry stays queued, untouched, until its scan has run, so a crash
            // cannot lose it.
            if (entry.state != StateScanJob) {
                shared.queue()->LoadParts(entry);
                entry.state = StateDownloading;
                shared.queue()->SetAttachmentState(entry);
            }
            shared.active.insert(entry.Id);
            if (shared.group_database)
                group_db = shared.group_database(entry.newsgroup);
        }

        if (entry.state == StateScanJob) {
            slot.stop_requested.store(false);
            std::optional<ScanTarget> target;
            if (shared.scan_target)
                target = shared.scan_target(entry.newsgroup);
            if (target)
                Scanproc(shared.scans(), slot_index, *target);
            else
                LogLine("Scan entry for %s: the group is not subscribed\n",
                        entry.newsgroup.c_str());
            if (shared.log())
                shared.log()->StoreAttachment(nullptr, entry);
            {
                std::lock_guard lock(state.queue_mutex());
                shared.queue()->RemoveAttachment(entry);
                shared.active.erase(entry.Id);
            }
            Refresh(state);
            continue;
        }

        Refresh(state);
        LogLine("Download attachment: %s\n", entry.Id.c_str());
        auto release = [&] {
            std::lock_guard lock(state.queue_mutex());
            shared.active.erase(entry.Id);
        };

        if (!state.downloading()) {
            // Stopped meanwhile: the entry stays where it was, queued again.
            entry.state = StateQueued;
            shared.queue()->SetAttachmentState(entry);
            SetGroupState(group_db, entry);
            release();
            continue;
        }

        SetGroupState(group_db, entry);
        DownloadResult result = DownloadAttachment(shared, slot_index, entry, connection);
        LogLine("Retval=%d\n", result.success ? 1 : 0);

        if (result.unreachable) {
            // No server answered: the entry waits in the queue for a later run.
            entry.state = StateQueued;
            shared.queue()->SetAttachmentState(entry);
            SetGroupState(group_db, entry);
            release();
            shared.entries_unreached.fetch_add(1);
            unreachable = true;
            break;
        }

        // Stopped (the slot's stop, or Stop for all): with CancelledBackInQueue the entry is
        // queued again at the end besides being filed as failed.
        const bool stopped = slot.stop_requested.load() || !state.downloading();
        const bool back_in_queue = stopped && !result.success && settings.CancelledBackInQueue;
        if (result.success) {
            entry.state = StateDone;
            shared.entries_done.fetch_add(1);
            if (result.parts_missing > 0) {
                // Done as the user asked ("Continue after missing part"), but not whole.
                shared.entries_incomplete.fetch_add(1);
                if (Host* host = state.host())
                    host->ShowMessage(entry.filename + ": " + std::to_string(result.parts_missing) +
                                          " of " + std::to_string(entry.parts) +
                                          " parts missing, the file is incomplete",
                                      Host::Icon::Exclamation);
            }
        } else {
            slot.status.Set("Error Downloading Attachment...It's not going to workout...");
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, shared.timings.failed_entry_pause);
            connection.reset();
            entry.state = StateFailed;
            shared.entries_failed.fetch_add(1);
        }
        slot.stop_requested.store(false);

        // Filed in the log first, then taken out of the queue: a crash in between leaves
        // it in both, never in neither.
        if (shared.log())
            shared.log()->StoreAttachment(nullptr, entry);
        shared.queue()->RemoveAttachment(entry);
        if (back_in_queue) {
            Attachment again = entry;
            again.state = StateQueued;
            shared.queue()->StoreAttachment(nullptr, again);
        }
        release();
        Attachment shown = entry;
        if (back_in_queue)
            shown.state = StateQueued;
        SetGroupState(group_db, shown);
        Refresh(state);
    }

    slot.status.Set(unreachable ? "No news server could be reached" : "Ready...");
    connection.reset();
    slot.progress.store(0);
    Refresh(state);
}

bool StartDownloadWorker(DownloadShared& shared, int i) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(i);
    if (!slot.enabled.load() || slot.busy.load())
        return false;
    if (slot.worker.joinable())
        slot.worker.join();  // a finished worker of an earlier task
    slot.stop_requested.store(false);
    slot.busy.store(true);
    slot.worker = std::thread([&shared, i] {
        LowerThreadPriority();
        DownloadWorker(shared, i);
        shared.state().slot(i).busy.store(false);
    });
    return true;
}

int StartDownloadWorkers(DownloadShared& shared) {
    WorkerState& state = shared.state();
    state.SetDownloading(true);
    state.StartInterval();
    int started = 0;
    for (int i = 0; i < kThreadSlots; ++i) {
        state.slot(i).stop_requested.store(false);
        if (StartDownloadWorker(shared, i))
            ++started;
    }
    return started;
}

int RequeueInterrupted(HeaderDatabase& queue) {
    std::vector<Attachment> interrupted;
    Attachment a;
    for (int64_t row = 0; queue.AttachmentAt(row, a); ++row) {
        if (a.state == StateDownloading)
            interrupted.push_back(a);
    }
    for (Attachment& entry : interrupted) {
        entry.state = StateQueued;
        queue.SetAttachmentState(entry);
        LogLine("Interrupted download queued again: %s\n", entry.Id.c_str());
    }
    return static_cast<int>(interrupted.size());
}

}  // namespace qs
