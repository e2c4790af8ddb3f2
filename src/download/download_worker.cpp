#include "download/download_worker.h"

#include "app/debug_log.h"
#include "download/part_retrieval.h"
#include "download/set_completion.h"

namespace qs {

namespace {

void SetGroupState(const std::shared_ptr<HeaderDatabase>& group_db, Attachment entry, int state) {
    if (!group_db)
        return;
    entry.state = state;
    if (!group_db->SetAttachmentState(entry))
        LogLine("Could not mark %s in %s\n", entry.Id.c_str(), group_db->name().c_str());
}

bool IsFailed(EntryOutcome outcome) {
    return outcome == EntryOutcome::Failed || outcome == EntryOutcome::Stopped;
}

}  // namespace

void DownloadWorker(DownloadShared& shared, int slot_index) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    DownloadQueue& queue = shared.queue();
    SlotConnection connection;
    bool unreachable = false;

    while (slot.enabled.load()) {
        if (!state.downloading())
            break;
        if (state.paused() && !state.WaitWhilePaused(slot_index))
            break;  // stopped while paused

        std::optional<Attachment> taken = queue.Take();
        if (!taken)
            break;
        Attachment entry = std::move(*taken);

        if (entry.state == StateScanJob) {
            // A stop of the slot's previous task does not reach the scan.
            state.TakeStopRequest(slot_index);
            const bool ran =
                shared.run_scan_entry && shared.run_scan_entry(entry.newsgroup, slot_index);
            if (!ran)
                LogLine("Scan entry for %s: the group is not subscribed\n",
                        entry.newsgroup.c_str());
            queue.File(entry, ran ? EntryOutcome::Scanned : EntryOutcome::Failed,
                       ran ? "" : "the group is not subscribed", "", false);
            state.TakeStopRequest(slot_index);
            continue;
        }

        std::shared_ptr<HeaderDatabase> group_db =
            shared.group_database ? shared.group_database(entry.newsgroup) : nullptr;
        LogLine("Download attachment: %s\n", entry.Id.c_str());

        if (!state.downloading()) {
            // Stopped meanwhile: the entry stays where it was, queued again.
            queue.PutBack(entry, EntryOutcome::Stopped, "stopped");
            SetGroupState(group_db, entry, StateQueued);
            continue;
        }

        SetGroupState(group_db, entry, StateDownloading);
        EntryResult result = DownloadAttachment(shared, slot_index, entry, connection);
        LogLine("Retval=%d\n", IsFailure(result.outcome) ? 0 : 1);

        if (result.outcome == EntryOutcome::DiskFull) {
            // Every other entry would meet the same disk: all downloads stop, nothing is
            // filed as failed, and the user is told why.
            queue.PutBack(entry, result.outcome, result.reason);
            SetGroupState(group_db, entry, StateQueued);
            if (Host* host = state.host())
                host->ShowMessage(
                    "Downloads stopped: " + result.reason + ". The entries stay queued.",
                    Host::Icon::Stop);
            state.StopAll();
            break;
        }

        if (result.outcome == EntryOutcome::Unreachable) {
            // No server answered: the entry waits in the queue for a later run.
            queue.PutBack(entry, result.outcome, result.reason);
            SetGroupState(group_db, entry, StateQueued);
            unreachable = true;
            break;
        }

        const std::shared_ptr<const Settings> settings = state.settings();
        const bool back_in_queue =
            result.outcome == EntryOutcome::Stopped && settings->CancelledBackInQueue;
        if (result.outcome == EntryOutcome::Incomplete && !SetMemberOf(entry)) {
            // Done as the user asked ("Continue after missing part"), but not whole. A file
            // of a set is told of through its set's repair instead.
            if (Host* host = state.host())
                host->ShowMessage(
                    entry.filename + ": " +
                        (result.parts_missing > 0 ? std::to_string(result.parts_missing) + " of " +
                                                        std::to_string(entry.parts) +
                                                        " parts missing, the file is incomplete"
                                                  : result.reason),
                    Host::Icon::Exclamation);
        } else if (IsFailed(result.outcome)) {
            slot.status.Set("Error Downloading Attachment...It's not going to workout...");
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, shared.timings.failed_entry_pause);
            connection.reset();
        }
        state.TakeStopRequest(slot_index);

        const FiledEntry filed =
            queue.File(entry, result.outcome, result.reason, result.output_path, back_in_queue);
        const int shown = back_in_queue              ? StateQueued
                          : IsFailed(result.outcome) ? StateFailed
                                                     : StateDone;
        SetGroupState(group_db, entry, shown);
        // A stopped run leaves the set as it is: its files come again with the next one.
        if (filed.set_finished && state.downloading()) {
            if (const std::optional<SetMember> member = SetMemberOf(entry))
                FinishSet(shared, slot_index, member->key, member->name.base);
            state.TakeStopRequest(slot_index);
        }
    }

    slot.status.Set(unreachable ? "No news server could be reached" : "Ready...");
    connection.reset();
    slot.progress.store(0);
}

}  // namespace qs
