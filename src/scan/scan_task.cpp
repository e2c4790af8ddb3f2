#include "scan/scan_task.h"

#include <chrono>
#include <cinttypes>
#include <ctime>

#include "app/debug_log.h"
#include "app/number_reader.h"
#include "app/text_util.h"
#include "nntp/server_rotation.h"
#include "nntp/session.h"
#include "scan/header_expiry.h"
#include "scan/header_filter.h"
#include "scan/overview_line.h"
#include "scan/scan_merger.h"

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
ServerResult ScanServerOnce(WorkerState& state, const ScanTarget& target, int slot_index,
                            int64_t expiry_cutoff, int64_t& lines_read, int64_t& new_lines,
                            std::string& error) {
    ThreadSlot& slot = state.slot(slot_index);
    const Group& group = target.group;
    // One snapshot for the pass: a changed setting applies from the next pass.
    const std::shared_ptr<const Settings> settings = state.settings();
    ServerRotation rotation(slot, settings);

    SlotConnection connection = ConnectToServer(state, slot_index, rotation, &slot.status, true);
    if (!connection) {
        error = rotation.last_reply();
        return ServerResult::Failed;
    }
    LogLine("WE ARE CONNECTED!\n");
    const std::string host = rotation.host();

    slot.status.Set(host + ":Setting Group " + group.name + "...");
    LogLine("GROUP: %s\n", group.name.c_str());
    connection->SendCommand("GROUP " + group.name);
    std::string line;
    connection->ReadLine(line, kScanLineBuffer);
    GroupReply reply = ReadNumbers(line);
    if (reply.code != 211) {
        std::string text = host + ":Error Setting Group..." + line;
        error = "GROUP refused: " + WithoutLineEnd(line);
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
        ScanStartNumber(target.start_article, reply.first, reply.last, settings->MaxHeaders);
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
        error = "XOVER refused: " + WithoutLineEnd(line);
        slot.status.Set(text);
        LogLine("ERROR: %s\n", text.c_str());
        connection->Close();
        return ServerResult::Failed;
    }

    HeaderFilter filter;
    SilentHost no_host;
    if (!filter.Prepare(*settings, state.host() ? *state.host() : no_host)) {
        error = "the header filter does not compile";
        return ServerResult::Failed;
    }

    const int limit_kbps = settings->SpeedUse ? settings->SpeedVal : 0;
    int64_t last_seen = start;
    int64_t counted = 0;
    // What this pass adds beyond what the store held when it began: a pass that reads only
    // lines stored already has made no progress, however many it read.
    const int64_t stored_before = target.db->HighestArticleId();
    const bool last_known = reply.fields >= 4;
    DbBatch batch(target.db);
    // Declared after the batch: every line handed on is stored before the batch commits.
    ScanMerger merger(target.db, group);
    auto store_failed = [&] {
        error = "the header database refused a write: " + target.db->path();
        slot.status.Set(host + ":" + error);
        return ServerResult::Failed;
    };
    for (;;) {
        // Read whole (up to the stream's limit), so an over-long line can be skipped alone.
        bool whole = connection->ReadLine(line, kScanLineBuffer, LineMode::Whole);
        LogLine("line: %s\n", line.c_str());
        if (++counted % 100 == 0)
            slot.StepProgress();
        if (line == ".\r")
            break;
        if (!state.downloading() || slot.stop_requested())
            break;
        if (!whole || !connection->is_open() || connection->fail()) {
            slot.status.Set(host + ":Socket error...retrying...");
            connection->Close();
            LogLine("Socket error: lastid=%" PRId64 "\n", last_seen);
            if (!merger.Finish())
                return store_failed();
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, kRetryPause);
            return ServerResult::Retry;
        }
        if (state.paused() && !state.WaitWhilePaused(slot_index))
            break;
        if (!IsOverviewDataLine(line))
            continue;
        slot.received_bytes.fetch_add(static_cast<int64_t>(line.size()));
        if (line.size() >= kScanLineBuffer) {
            LogLine("Overview line of %zu bytes skipped\n", line.size());
            continue;
        }

        OverviewFields fields = SplitOverviewLine(line);
        const int64_t number = ReadOverviewNumber(fields.number);
        if (last_known && number > reply.last) {
            // Past what the server announced: a broken number, or an overview that never
            // ends. It never becomes the resume point, and the pass ends here.
            LogLine("Overview line %" PRId64 " past the group's last article %" PRId64
                    ": the pass ends\n",
                    number, reply.last);
            break;
        }
        if (number < start)
            continue;  // not asked for
        last_seen = number;
        ++lines_read;
        if (number > stored_before)
            ++new_lines;
        if (!filter.Accepts(fields.subject, fields.from))
            continue;
        OverviewRecord& record = merger.Next();
        ParseOverviewFields(fields, record);
        if (record.date > 0 && record.date < expiry_cutoff)
            continue;  // older than the headers kept
        state.ThrottleIfOverLimit(slot_index, limit_kbps);
        merger.Add();
        if (merger.failed())
            return store_failed();
    }
    LogLine("Message retrieval complete...\n");
    connection.reset();
    if (!merger.Finish())
        return store_failed();
    if (last_seen > start && !target.db->NoteScannedThrough(last_seen)) {
        error = "the header database refused a write: " + target.db->path();
        return ServerResult::Failed;
    }
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

bool ScanServer(WorkerState& state, const ScanTarget& target, int slot, ServerScan& result,
                int64_t expiry_cutoff) {
    // A server that keeps dropping the connection without delivering a new line is given up
    // after ConnectionRetries restarts in a row.
    int fruitless_restarts = 0;
    for (;;) {
        int64_t lines_read = 0, new_lines = 0;
        ServerResult pass =
            ScanServerOnce(state, target, slot, expiry_cutoff, lines_read, new_lines, result.error);
        result.headers += lines_read;
        if (pass == ServerResult::Done) {
            result.complete = true;
            result.error.clear();
            return true;
        }
        if (state.slot(slot).stop_requested() && state.downloading()) {
            // The slot's stop button ended this server, wherever the pass was.
            result.complete = true;
            result.error.clear();
            return true;
        }
        if (pass == ServerResult::Failed)
            return false;
        fruitless_restarts = new_lines > 0 ? 0 : fruitless_restarts + 1;
        if (fruitless_restarts > state.settings()->ConnectionRetries ||
            !state.ShouldContinue(slot)) {
            if (result.error.empty())
                result.error = "the connection kept failing";
            return false;
        }
    }
}

ScanJob::ScanJob(ScanTarget target, std::vector<std::string> hosts, EventListener* events)
    : target_(std::move(target)), events_(events) {
    report_.group = target_.group.name;
    for (size_t i = 0; i < hosts.size(); ++i) {
        servers_.push_back(static_cast<int>(i));
        report_.servers.push_back(ServerScan{hosts[i], false, 0, "not scanned"});
    }
}

void ScanJob::AddWorker() {
    std::lock_guard lock(mutex_);
    ++workers_;
}

bool ScanJob::TakeServer(int& index) {
    std::lock_guard lock(mutex_);
    if (servers_.empty())
        return false;
    index = servers_.front();
    servers_.pop_front();
    return true;
}

void ScanJob::Report(int index, const ServerScan& result) {
    {
        std::lock_guard lock(mutex_);
        if (index >= 0 && index < static_cast<int>(report_.servers.size()))
            report_.servers[static_cast<size_t>(index)] = result;
    }
    if (events_)
        events_->OnRowsChanged(target_.group.name, {});
}

void ScanJob::NoteExpiryCutoff(std::optional<int64_t> cutoff) {
    std::lock_guard lock(mutex_);
    report_.expiry_cutoff = EarlierCutoff(report_.expiry_cutoff, cutoff);
}

std::optional<int64_t> ScanJob::expiry_cutoff() const {
    std::lock_guard lock(mutex_);
    return report_.expiry_cutoff;
}

void ScanJob::Seal() {
    {
        std::lock_guard lock(mutex_);
        sealed_ = true;
    }
    Leave(false);
}

void ScanJob::Leave() {
    Leave(true);
}

void ScanJob::Leave(bool worker) {
    ScanReport ended;
    {
        std::lock_guard lock(mutex_);
        if (worker)
            --workers_;
        if (workers_ > 0 || !sealed_ || ended_)
            return;
        ended_ = true;
        ended = report_;
    }
    if (target_.db) {
        target_.db->Flush();
        ExpireHeaders(ended);
    }
    if (events_)
        events_->OnScanEnded(ended);
}

// After a scan that read a server: headers older than the cut-off leave the database.
void ScanJob::ExpireHeaders(ScanReport& ended) {
    if (!ended.expiry_cutoff || *ended.expiry_cutoff <= 0 || ended.servers_scanned() == 0)
        return;
    if (!target_.db->ExpireBefore(*ended.expiry_cutoff, ended.expired)) {
        LogLine("Expiring headers of %s failed: %s\n", target_.group.name.c_str(),
                target_.db->last_error().c_str());
        return;
    }
    if (ended.expired > 0) {
        LogLine("%" PRId64 " headers of %s expired\n", ended.expired, target_.group.name.c_str());
        std::lock_guard lock(mutex_);
        report_.expired = ended.expired;
    }
}

bool ScanJob::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

ScanReport ScanJob::report() const {
    std::lock_guard lock(mutex_);
    return report_;
}

void Scanproc(WorkerState& state, int slot_index, ScanJob& job) {
    ThreadSlot& slot = state.slot(slot_index);
    int index = 0;
    while (state.downloading() && slot.enabled.load() && job.TakeServer(index)) {
        slot.server_index.store(index);
        // A slot's stop ends only the server it is reading: the next one starts afresh.
        state.TakeStopRequest(slot_index);
        ServerScan result = job.report().servers[static_cast<size_t>(index)];
        result.error.clear();
        job.NoteExpiryCutoff(ExpiryCutoff(*state.settings(), static_cast<int64_t>(time(nullptr))));
        ScanServer(state, job.target(), slot_index, result, job.expiry_cutoff().value_or(0));
        job.Report(index, result);
        LogLine("Current newsserver scanned\n");
    }
    slot.status.Set("Ready...");
    state.TakeStopRequest(slot_index);
    LogLine("Scanproc%d finished\n", slot_index);
    job.Leave();
}

}  // namespace qs
