#include "scan/scan_task.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <ctime>

#include "app/debug_log.h"
#include "app/number_reader.h"
#include "app/text_util.h"
#include "nntp/server_rotation.h"
#include "nntp/session.h"
#include "scan/date_parser.h"
#include "scan/header_expiry.h"
#include "scan/header_filter.h"
#include "scan/overview_line.h"
#include "scan/scan_chunks.h"
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

// The received bytes of a scan, handed to the slot's counter every 100 lines and when the
// loop ends. The counter is a locked add that waits for the reader's earlier writes: once
// a line it cost as much as splitting the line into its fields.
class ReceivedBytes {
  public:
    explicit ReceivedBytes(ThreadSlot& slot) : slot_(slot) {}
    ~ReceivedBytes() { Flush(); }
    ReceivedBytes(const ReceivedBytes&) = delete;
    ReceivedBytes& operator=(const ReceivedBytes&) = delete;

    void Add(size_t bytes) { pending_ += static_cast<int64_t>(bytes); }
    void Flush() {
        if (pending_ != 0)
            slot_.received_bytes.fetch_add(pending_, std::memory_order_relaxed);
        pending_ = 0;
    }

  private:
    ThreadSlot& slot_;
    int64_t pending_ = 0;
};

// A whole-server pass plans once it knows where it starts: a large range is recorded as
// chunks, of which this pass reads the first; the rest, and what earlier scans left
// unread below the start, go to the other workers. False when the record was refused.
bool PlanChunks(HeaderDatabase& db, const std::string& server, int64_t start,
                const GroupReply& reply, const Settings& settings, ScanPass& pass) {
    std::vector<ArticleRange> unread;
    if (!db.UnreadScanChunks(server, unread))
        LogLine("Reading the unread chunks of %s failed\n", server.c_str());
    std::vector<ArticleRange> others = UnreadBelow(unread, start);
    std::vector<ArticleRange> fresh;
    if (reply.fields >= 4)
        fresh = SplitScanRange(start, reply.last, settings.ScanChunks);
    // What this pass reads from `start` up need not stay recorded: the record keeps the
    // gaps below it and the fresh chunks.
    std::vector<ArticleRange> record = others;
    record.insert(record.end(), fresh.begin(), fresh.end());
    if (record != unread && !db.RecordScanChunks(server, record))
        return false;
    if (!fresh.empty()) {
        LogLine("Overview %" PRId64 "-%" PRId64 " read in %zu chunks\n", start, reply.last,
                fresh.size());
        pass.chunk = fresh.front();
        others.insert(others.begin(), fresh.begin() + 1, fresh.end());
    }
    auto hand_over = std::move(pass.hand_over);
    pass.hand_over = nullptr;
    hand_over(others);
    return true;
}

// One pass over a server: connect, GROUP, STAT, XOVER and the line loop (again for each
// further chunk the pass takes). `lines_read` counts the overview lines of this pass, so
// the caller can tell a retry that made progress.
ServerResult ScanServerOnce(WorkerState& state, const ScanTarget& target, int slot_index,
                            int64_t expiry_cutoff, ScanPass& pass, int64_t& lines_read,
                            int64_t& new_lines, std::string& error) {
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

    auto store_failed = [&] {
        error = "the header database refused a write: " + target.db->path();
        slot.status.Set(host + ":" + error);
        return ServerResult::Failed;
    };
    const std::string chunk_server = ScanChunkServer(*rotation.current());
    int64_t start = 0;
    if (pass.chunk) {
        start = pass.chunk->first;
    } else {
        connection->SendCommand("STAT");
        connection->ReadLine(line, kScanLineBuffer);
        GroupReply stat = ReadNumbers(line);
        if (stat.fields >= 2)
            reply.first = stat.count;  // the group's current article
        start =
            ScanStartNumber(target.start_article, reply.first, reply.last, settings->MaxHeaders);
        if (pass.hand_over && !PlanChunks(*target.db, chunk_server, start, reply, *settings, pass))
            return store_failed();
    }
    for (;;) {
        // A chunk's last number bounds its lines, as the group's last bounds an open range.
        const int64_t end = pass.chunk ? pass.chunk->last : reply.last;
        bool saw_end_line = false;
        const bool end_known = pass.chunk || reply.fields >= 4;
        LogLine("First: %" PRId64 "\n", start);
        uint64_t span = static_cast<uint64_t>(end - start);
        uint64_t count = static_cast<uint64_t>(reply.count);
        uint64_t steps = (span < count ? span : count) / 100;
        slot.ResetProgress(static_cast<int>(steps > INT32_MAX ? INT32_MAX : steps));

        slot.status.Set(host + ":Scanning " + group.name + "...");
        LogLine("Group info: %d %" PRId64 " %" PRId64 " %" PRId64 "\n", reply.code, reply.count,
                reply.first, reply.last);
        connection->SendCommand("XOVER " + std::to_string(start) + "-" +
                                (pass.chunk ? std::to_string(end) : std::string()));
        connection->ReadLine(line, kScanLineBuffer);
        LogLine("line after xover: %s\n", line.c_str());
        if (pass.chunk && ReplyCode(line) == 423) {
            // A chunk without articles (expired or never there) is read.
            if (!target.db->ScanChunkReadThrough(chunk_server, *pass.chunk, end,
                                                 target.db->rollbacks()))
                return store_failed();
            std::optional<ArticleRange> next =
                pass.next_chunk ? pass.next_chunk() : std::optional<ArticleRange>();
            if (!next)
                return ServerResult::Done;
            pass.chunk = next;
            start = next->first;
            continue;
        }
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
        // A whole pass reads its start number again (it is the highest stored); a chunk's
        // first number is new.
        int64_t last_seen = pass.chunk ? start - 1 : start;
        int64_t counted = 0;
        // What this pass adds beyond what the store held when it began: a pass that reads only
        // lines stored already has made no progress, however many it read. (A chunk lies below
        // the highest stored number: every line of it counts.)
        const int64_t stored_before = pass.chunk ? start - 1 : target.db->HighestArticleId();
        // Declared in this order: every line handed on is stored before the batch commits.
        DbBatch batch(target.db);
        ScanMerger merger(target.db, group);
        // The chunk's record keeps only what is not stored yet; called once its lines are.
        auto chunk_read_through = [&](int64_t number) {
            if (!pass.chunk || number < pass.chunk->first)
                return true;
            if (!target.db->ScanChunkReadThrough(chunk_server, *pass.chunk, number,
                                                 merger.rollbacks_seen()))
                return false;
            pass.chunk->first = number + 1;
            return true;
        };
        bool read_to_end = false;
        ReceivedBytes received(slot);
        OverviewDateZone date_zone;
        // Whether the trace is on, looked at with each progress step rather than every line.
        bool trace_lines = DebugLog::Instance().enabled();
        std::string spill;  // holds a line that arrived in two receives
        for (;;) {
            // Read whole (up to the stream's limit), so an over-long line can be skipped
            // alone. The line is viewed where it was received, until the next read.
            std::string_view xover_line;
            bool whole =
                connection->ReadLineInPlace(xover_line, spill, kScanLineBuffer, LineMode::Whole);
            if (trace_lines)
                LogLine("line: %.*s\n", static_cast<int>(xover_line.size()), xover_line.data());
            if (++counted % 100 == 0) {
                slot.StepProgress();
                received.Flush();
                date_zone.LookAgain();
                trace_lines = DebugLog::Instance().enabled();
            }
            if (xover_line == ".\r") {
                read_to_end = saw_end_line = true;
                break;
            }
            if (!state.downloading() || slot.stop_requested())
                break;
            if (!whole || !connection->is_open() || connection->fail()) {
                slot.status.Set(host + ":Socket error...retrying...");
                connection->Close();
                LogLine("Socket error: lastid=%" PRId64 "\n", last_seen);
                if (!merger.Finish() || !chunk_read_through(last_seen))
                    return store_failed();
                if (state.downloading())
                    state.SleepUnlessStopped(slot_index, kRetryPause);
                return ServerResult::Retry;
            }
            if (state.paused() && !state.WaitWhilePaused(slot_index))
                break;
            if (!IsOverviewDataLine(xover_line))
                continue;
            received.Add(xover_line.size());
            if (xover_line.size() >= kScanLineBuffer) {
                LogLine("Overview line of %zu bytes skipped\n", xover_line.size());
                continue;
            }

            OverviewFields fields = SplitOverviewLine(xover_line);
            const int64_t number = ReadOverviewNumber(fields.number);
            if (end_known && number > end) {
                // Past what the server announced: a broken number, or an overview that never
                // ends. It never becomes the resume point, and the pass ends here.
                LogLine("Overview line %" PRId64 " past the last article asked for %" PRId64
                        ": the pass ends\n",
                        number, end);
                read_to_end = true;
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
            OverviewRecord record;
            ParseOverviewFields(fields, record);
            if (record.date > 0 && record.date < expiry_cutoff)
                continue;  // older than the headers kept
            if (limit_kbps > 0) {
                received.Flush();  // the limit looks at the counter
                state.ThrottleIfOverLimit(slot_index, limit_kbps);
            }
            merger.Add(record);
            if (merger.failed())
                return store_failed();
        }
        LogLine("Message retrieval complete...\n");
        // After a chunk's closing dot the connection is ready for the next chunk of the server:
        // no new connection (which a server's limit might refuse), no GROUP again.
        const bool reuse =
            saw_end_line && pass.next_chunk && state.downloading() && !slot.stop_requested();
        if (!reuse)
            connection.reset();
        if (!merger.Finish() || !chunk_read_through(read_to_end ? end : last_seen))
            return store_failed();
        const int64_t through = read_to_end && pass.chunk ? end : last_seen;
        if (through > start && !target.db->NoteScannedThrough(through, merger.rollbacks_seen())) {
            error = "the header database refused a write: " + target.db->path();
            return ServerResult::Failed;
        }
        slot.ResetProgress(0);
        std::optional<ArticleRange> next = reuse ? pass.next_chunk() : std::nullopt;
        if (!next)
            return ServerResult::Done;
        pass.chunk = next;
        start = next->first;
    }
}

}  // namespace

int64_t ScanStartNumber(int64_t highest_stored, int64_t first, int64_t last, int max_headers) {
    int64_t start = highest_stored != 0 ? highest_stored : first;
    if (max_headers != 0 && start < last - max_headers)
        start = last - max_headers;
    return start;
}

bool ScanServer(WorkerState& state, const ScanTarget& target, int slot, ServerScan& result,
                int64_t expiry_cutoff, ScanPass pass) {
    // A server that keeps dropping the connection without delivering a new line is given up
    // after ConnectionRetries restarts in a row.
    int fruitless_restarts = 0;
    for (;;) {
        int64_t lines_read = 0, new_lines = 0;
        // A retry goes on with the chunk this pass planned or took, from where it broke off.
        ServerResult outcome = ScanServerOnce(state, target, slot, expiry_cutoff, pass, lines_read,
                                              new_lines, result.error);
        result.headers += lines_read;
        if (outcome == ServerResult::Done) {
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
        if (outcome == ServerResult::Failed)
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
        work_.push_back(ScanWork{static_cast<int>(i), std::nullopt});
        report_.servers.push_back(ServerScan{hosts[i], false, 0, "not scanned"});
    }
    passes_.assign(hosts.size(), 0);
}

void ScanJob::AddWorker() {
    std::lock_guard lock(mutex_);
    ++workers_;
}

bool ScanJob::TakeWork(ScanWork& work, const std::set<int>& skip,
                       const std::function<bool()>& keep_waiting) {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto it = std::find_if(work_.begin(), work_.end(),
                               [&](const ScanWork& w) { return !skip.contains(w.server); });
        if (it != work_.end()) {
            work = *it;
            work_.erase(it);
            if (work.chunk)
                ++chunks_begun_;
            else
                ++planning_;
            return true;
        }
        if ((planning_ == 0 && chunks_begun_ == 0) || !keep_waiting())
            return false;
        // A pass that plans chunks hands them over within its first replies, and a chunk
        // begun may yet come back from a slot the server refused.
        work_added_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void ScanJob::HandOver(int server, const std::vector<ArticleRange>& chunks) {
    {
        std::lock_guard lock(mutex_);
        --planning_;
        for (auto it = chunks.rbegin(); it != chunks.rend(); ++it)
            work_.push_front(ScanWork{server, *it});
    }
    work_added_.notify_all();
}

void ScanJob::GiveBack(const ScanWork& work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(work);
        --chunks_begun_;
    }
    work_added_.notify_all();
}

void ScanJob::Finished(const ScanWork& work) {
    if (!work.chunk)
        return;
    {
        std::lock_guard lock(mutex_);
        --chunks_begun_;
    }
    work_added_.notify_all();
}

std::optional<ArticleRange> ScanJob::TakeChunkOf(int server) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(work_.begin(), work_.end(),
                           [&](const ScanWork& w) { return w.server == server && w.chunk; });
    if (it == work_.end())
        return std::nullopt;
    std::optional<ArticleRange> chunk = it->chunk;
    work_.erase(it);
    return chunk;
}

void ScanJob::Report(int index, const ServerScan& result) {
    {
        std::lock_guard lock(mutex_);
        if (index >= 0 && index < static_cast<int>(report_.servers.size())) {
            ServerScan& stored = report_.servers[static_cast<size_t>(index)];
            if (passes_[static_cast<size_t>(index)]++ == 0) {
                stored = result;
            } else {
                stored.headers += result.headers;
                stored.complete = stored.complete && result.complete;
                if (stored.error.empty())
                    stored.error = result.error;
            }
        }
    }
    if (events_)
        events_->OnRowsChanged(target_.group.name, {});
}

std::string ScanJob::host(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && index < static_cast<int>(report_.servers.size())
               ? report_.servers[static_cast<size_t>(index)].host
               : std::string();
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
        // Chunks no worker could take stay recorded for the next scan.
        for (const ScanWork& left : work_) {
            if (!left.chunk || left.server >= static_cast<int>(report_.servers.size()))
                continue;
            ServerScan& server = report_.servers[static_cast<size_t>(left.server)];
            server.complete = false;
            if (server.error.empty())
                server.error = "a chunk of the overview was not read";
        }
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
    std::set<int> refused;  // servers this slot could not connect to for a chunk
    auto keep_waiting = [&] { return state.downloading() && slot.enabled.load(); };
    ScanWork work;
    while (keep_waiting() && job.TakeWork(work, refused, keep_waiting)) {
        slot.server_index.store(work.server);
        // A slot's stop ends only the server it is reading: the next one starts afresh.
        state.TakeStopRequest(slot_index);
        ServerScan result{job.host(work.server), false, 0, ""};
        job.NoteExpiryCutoff(ExpiryCutoff(*state.settings(), static_cast<int64_t>(time(nullptr))));
        ScanPass pass{work.chunk, nullptr, [&] { return job.TakeChunkOf(work.server); }};
        bool planning = !work.chunk;
        if (planning) {
            pass.hand_over = [&](const std::vector<ArticleRange>& chunks) {
                job.HandOver(work.server, chunks);
                planning = false;
            };
        }
        bool read = ScanServer(state, job.target(), slot_index, result,
                               job.expiry_cutoff().value_or(0), std::move(pass));
        if (planning)
            job.HandOver(work.server, {});
        if (!read && work.chunk && result.headers == 0 && state.downloading()) {
            // Most likely the server's limit of connections: the slots already reading it
            // take this chunk when they are done.
            refused.insert(work.server);
            job.GiveBack(work);
            LogLine("Chunk %" PRId64 "-%" PRId64 " left to the other slots\n", work.chunk->first,
                    work.chunk->last);
        } else {
            job.Report(work.server, result);
            job.Finished(work);
        }
        LogLine("Current newsserver scanned\n");
    }
    slot.status.Set("Ready...");
    state.TakeStopRequest(slot_index);
    LogLine("Scanproc%d finished\n", slot_index);
    job.Leave();
}

}  // namespace qs
