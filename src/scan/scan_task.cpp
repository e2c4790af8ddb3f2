#include "scan/scan_task.h"

#include <chrono>
#include <cinttypes>
#include <ctime>

#include "app/debug_log.h"
#include "app/thread_priority.h"
#include "nntp/session.h"
#include "scan/header_filter.h"
#include "app/output_files.h"
#include "scan/overview_line.h"
#include "scan/scanf_reader.h"

namespace qs {

namespace {

// Overview lines are read with a buffer of this size; a longer line fails the read.
constexpr size_t kScanLineBuffer = 8192;
constexpr auto kRetryPause = std::chrono::milliseconds(2000);

// GROUP's "%d %d %d %d": code, estimated count, first, last.
struct GroupReply {
    int code = -1;
    int64_t count = 0, first = 0, last = 0;
    int fields = 0;
};

GroupReply ReadNumbers(std::string_view line) {
    GroupReply r;
    int64_t values[4] = {0, 0, 0, 0};
    size_t pos = 0;
    while (r.fields < 4 && scanf_reader::ReadInt(line, pos, values[r.fields]))
        ++r.fields;
    r.code = r.fields > 0 ? static_cast<int>(values[0]) : -1;
    r.count = values[1];
    r.first = values[2];
    r.last = values[3];
    return r;
}

enum class ServerResult { Done, Failed, Retry };

// One pass over a server: connect, GROUP, STAT, XOVER and the line loop. `lines_read` counts
// the overview lines of this pass, so the caller can tell a retry that made progress.
ServerResult ScanServerOnce(ScanShared& shared, const ScanTarget& target, int slot_index,
                            int64_t& lines_read) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    const Group& group = target.group;

    std::unique_ptr<NntpSocket> connection = ConnectToServer(state, slot_index, &slot.status, true);
    if (!connection)
        return ServerResult::Failed;
    LogLine("WE ARE CONNECTED!\n");
    const auto& servers = state.settings().servers;
    int index = slot.server_index.load();
    const std::string host = index >= 0 && index < static_cast<int>(servers.size())
                                 ? servers[static_cast<size_t>(index)].host
                                 : "";

    slot.status.Set(host + ":Setting Group " + group.name + "...");
    LogLine("GROUP: %s\n", group.name.c_str());
    connection->SendCommand("GROUP " + group.name);
    std::string line;
    connection->ReadLine(line, kScanLineBuffer);
    GroupReply reply = ReadNumbers(line);
    if (reply.code != 211) {
        std::string text = host + ":Error Setting Group..." + line;
        slot.status.Set(text);
        LogLine("ERROR: %s\n", text.c_str());
        connection->Close();
        if (state.downloading())
            state.SleepUnlessStopped(slot_index, kRetryPause);
        return ServerResult::Failed;
    }

    connection->SendCommand("STAT");
    connection->ReadLine(line, kScanLineBuffer);
    GroupReply stat = ReadNumbers(line);
    if (stat.fields >= 2)
        reply.first = stat.count;  // the group's current article

    const int64_t start =
        ScanStartNumber(target.start_article, reply.first, reply.last, state.settings().MaxHeaders);
    LogLine("First: %" PRId64 "\n", start);
    uint64_t span = static_cast<uint64_t>(reply.last - start);
    uint64_t count = static_cast<uint64_t>(reply.count);
    uint64_t steps = (span < count ? span : count) / 100;
    slot.ResetProgress(static_cast<int>(steps > INT32_MAX ? INT32_MAX : steps));

    slot.status.Set(host + ":Scanning " + group.name + "...");
    LogLine("Group info: %d %" PRId64 " %" PRId64 " %" PRId64 "\n", reply.code, reply.count,
            reply.first, reply.last);
    connection->SendCommand("XOVER " + std::to_string(start) + "-");
    connection->ReadLine(line, kScanLineBuffer);
    LogLine("line after xover: %s\n", line.c_str());
    if (ReplyCode(line) != 224) {
        // No overview follows an error reply: waiting for the time-out would only repeat it.
        std::string text = host + ":Error Scanning..." + line;
        slot.status.Set(text);
        LogLine("ERROR: %s\n", text.c_str());
        connection->Close();
        return ServerResult::Failed;
    }

    HeaderFilter filter;
    if (!filter.Prepare(state.settings(), *state.host()))
        return ServerResult::Failed;

    slot.stop_requested.store(false);
    int64_t last_seen = start;
    int64_t counted = 0;
    OverviewRecord record;
    ScanRecords records;
    DbBatch batch(target.db);
    for (;;) {
        bool whole = connection->ReadLine(line, kScanLineBuffer);
        LogLine("line: %s\n", line.c_str());
        if (++counted % 100 == 0)
            slot.StepProgress();
        if (line == ".\r")
            break;
        if (!state.downloading() || slot.stop_requested.load())
            break;
        if (!whole || !connection->is_open() || connection->fail()) {
            slot.status.Set(host + ":Socket error...retrying...");
            connection->Close();
            LogLine("Socket error: lastid=%" PRId64 "\n", last_seen);
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, kRetryPause);
            return ServerResult::Retry;
        }
        if (!state.WaitWhilePaused(slot_index))
            break;
        if (!IsOverviewDataLine(line))
            continue;
        slot.received_bytes.fetch_add(static_cast<int64_t>(line.size()));
        ++lines_read;

        OverviewFields fields = SplitOverviewLine(line);
        if (!fields.number.empty())
            last_seen = ReadOverviewNumber(fields.number);
        if (!filter.Accepts(fields.subject, fields.from))
            continue;
        ParseOverviewFields(fields, record);
        state.ThrottleIfOverLimit(slot_index);
        if (BuildScanRecords(record, group, records))
            target.db->StoreAttachment(&records.part, records.attachment);
    }
    LogLine("Message retrieval complete...\n");
    connection.reset();
    slot.ResetProgress(0);
    return ServerResult::Done;
}

}  // namespace

int64_t ScanStartNumber(int64_t highest_stored, int64_t first, int64_t last, int max_headers) {
    int64_t start = highest_stored != 0 ? highest_stored : first;
    if (max_headers != 0 && start < last - max_headers)
        start = last - max_headers;
    return start;
}

int ScanServer(ScanShared& shared, const ScanTarget& target, int slot) {
    WorkerState& state = shared.state();
    // A server that keeps dropping the connection without delivering a new line is given up
    // after ConnectionRetries restarts in a row.
    int fruitless_restarts = 0;
    for (;;) {
        int64_t lines_read = 0;
        ServerResult result = ScanServerOnce(shared, target, slot, lines_read);
        if (result == ServerResult::Done)
            return 1;
        if (result == ServerResult::Failed)
            return 0;
        fruitless_restarts = lines_read > 0 ? 0 : fruitless_restarts + 1;
        if (fruitless_restarts > state.settings().ConnectionRetries || !state.ShouldContinue(slot))
            return 0;
    }
}

void Scanproc(ScanShared& shared, int slot_index, const ScanTarget& target) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    while (state.downloading()) {
        if (!slot.enabled.load())
            break;
        {
            std::lock_guard lock(state.queue_mutex());
            if (shared.servers.empty())
                break;
            slot.server_index.store(shared.servers.front());
            shared.servers.pop_front();
        }
        if (ScanServer(shared, target, slot_index))
            shared.servers_scanned.fetch_add(1);
        else
            shared.servers_failed.fetch_add(1);
        LogLine("Current newsserver scanned\n");
    }
    slot.status.Set("Ready...");
    slot.stop_requested.store(false);
    LogLine("Scanproc%d finished\n", slot_index);
}

int StartScan(ScanShared& shared, Group& group, const std::shared_ptr<HeaderDatabase>& db) {
    WorkerState& state = shared.state();
    Host& host = *state.host();
    ScanTarget target;
    group.lastscanned = static_cast<int64_t>(std::time(nullptr));
    target.start_article = db ? db->HighestArticleId() : 0;
    EnsureDirectory(group.downloaddir, state.settings(), host);

    state.SetDownloading(true);
    {
        std::lock_guard lock(state.queue_mutex());
        for (size_t i = 0; i < state.settings().servers.size(); ++i)
            shared.servers.push_back(static_cast<int>(i));
    }
    bool any_enabled = false;
    for (int i = 0; i < kThreadSlots; ++i)
        any_enabled = any_enabled || state.slot(i).enabled.load();
    if (!any_enabled)
        host.ShowMessage("No threads enabled.", Host::Icon::Stop);
    state.StartInterval();
    if (db)
        db->ClearNewFlags();

    target.group = group;
    target.db = db;
    int started = 0;
    for (int i = 0; i < kThreadSlots; ++i) {
        ThreadSlot& slot = state.slot(i);
        if (!slot.enabled.load() || slot.busy.load())
            continue;
        if (slot.worker.joinable())
            slot.worker.join();  // a finished worker of an earlier task
        slot.stop_requested.store(false);
        slot.busy.store(true);
        slot.worker = std::thread([&shared, i, target] {
            LowerThreadPriority();
            Scanproc(shared, i, target);
            shared.state().slot(i).busy.store(false);
        });
        ++started;
    }
    if (started == 0 && shared.queue()) {
        Attachment entry;
        entry.state = StateScanJob;
        entry.Id = entry.filename = entry.newsgroup = group.name;
        entry.date = static_cast<int64_t>(std::time(nullptr));
        shared.queue()->StoreAttachment(nullptr, entry);
        int64_t rows = shared.queue()->CountRows();
        if (rows > 0)
            shared.queue()->MoveRowToTop(rows - 1);
    }
    return started;
}

}  // namespace qs
