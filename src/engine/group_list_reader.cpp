#include "engine/group_list_reader.h"

#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "app/debug_log.h"
#include "app/number_reader.h"
#include "app/text_util.h"
#include "nntp/session.h"
#include "nntp/worker_state.h"

namespace qs {

namespace {

// Longer lines of the list are skipped: no group name is that long.
constexpr size_t kListLineLimit = 1000;
// How often the reader tells the views that rows came in.
constexpr auto kRowsChangedEvery = std::chrono::milliseconds(250);

}  // namespace

bool ParseActiveLine(std::string_view line, Group& out) {
    size_t pos = 0;
    std::string_view name;
    int64_t last = 0;
    int64_t first = 0;
    if (!scanf_reader::ReadWord(line, pos, name) || !scanf_reader::ReadInt(line, pos, last) ||
        !scanf_reader::ReadInt(line, pos, first))
        return false;
    out.name = std::string(name);
    out.first = first;
    out.last = last;
    // A server may send any numbers: the difference saturates rather than overflow.
    if (__builtin_sub_overflow(last, first, &out.amount))
        out.amount = last < first ? INT64_MIN : INT64_MAX;
    out.state = 0;
    return true;
}

void GroupListReader::MarkStarting() {
    keep_going_.store(true);
    std::lock_guard lock(mutex_);
    progress_ = {};
    progress_.running = true;
}

bool GroupListReader::running() const {
    std::lock_guard lock(mutex_);
    return progress_.running;
}

GroupListReader::Progress GroupListReader::progress() const {
    std::lock_guard lock(mutex_);
    return progress_;
}

void GroupListReader::RequestStop() {
    keep_going_.store(false);
    std::lock_guard lock(mutex_);
    if (connection_state_)
        connection_state_->slot(0).ShutdownConnection();
}

void GroupListReader::SetStored(int64_t stored) {
    std::lock_guard lock(mutex_);
    progress_.stored = stored;
    progress_.status = std::to_string(stored);
}

CommandResult GroupListReader::Fail(const Request& request, const std::string& message) {
    {
        std::lock_guard lock(mutex_);
        progress_.status.clear();
        progress_.error = message;
    }
    if (request.host)
        request.host->ShowMessage(message, Host::Icon::Stop);
    return CommandResult::Failed(message);
}

CommandResult GroupListReader::Run(const Request& request) {
    CommandResult result;
    if (request.servers.empty() || request.servers.front().host.empty() || !request.db) {
        result = Fail(request, "No news server entered. Enter the name of your news server.");
    } else {
        // A worker state of its own: the slots of the engine stay untouched, and a stop
        // reaches the connection through this state's slot 0.
        Settings settings = *request.settings;
        settings.servers = request.servers;
        WorkerState state(std::make_shared<const Settings>(std::move(settings)), nullptr);
        {
            std::lock_guard lock(mutex_);
            connection_state_ = &state;
            progress_.status = "Connecting...";
        }
        result = ReadList(request, state);
        std::lock_guard lock(mutex_);
        connection_state_ = nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        progress_.running = false;
    }
    keep_going_.store(false);
    if (request.rows_changed)
        request.rows_changed();
    return result;
}

CommandResult GroupListReader::ReadList(const Request& request, WorkerState& state) {
    const std::string& host = request.servers.front().host;
    ServerRotation rotation(state.slot(0), state.settings());
    SlotConnection connection = ConnectToServer(state, 0, rotation, nullptr, true);
    if (!connection)
        return Fail(request, "Can't connect to server!\n" + host);
    if (!keep_going_.load())
        return CommandResult::Done(0, "Stopped.");

    connection->SendCommand("LIST");
    std::string line;
    connection->ReadLine(line, kListLineLimit + 1);
    const int code = ReplyCode(line);
    LogLine("error: %d\n", code);
    if (code < 200 || code > 299)
        return Fail(request, "Can't connect to server!\n" + host + "\n" + WithoutLineEnd(line));

    HeaderDatabase& db = *request.db;
    if (!db.Empty())
        return Fail(request, "Cannot empty the list of groups: " + db.last_error());
    SetStored(0);
    if (request.rows_changed)
        request.rows_changed();

    // Subscribed groups are marked as their lines come; the ones the server did not list
    // are stored at the end, so no subscription is lost with the old list.
    std::unordered_map<std::string, const GroupListEntry*> keep;
    for (const GroupListEntry& g : request.keep)
        keep.emplace(g.name, &g);

    int64_t stored = 0;
    bool complete = false;
    bool store_failed = false;
    auto last_event = std::chrono::steady_clock::now();
    {
        DbBatch batch(request.db);
        Group group;
        while (keep_going_.load()) {
            if (!connection->ReadLine(line, 0, LineMode::Whole))
                break;
            if (line == "." || line == ".\r") {
                complete = true;
                break;
            }
            if (line.size() > kListLineLimit)
                continue;
            std::string_view text = line;
            if (text.starts_with(".."))
                text.remove_prefix(1);
            if (!ParseActiveLine(text, group))
                continue;
            group.downloaddir.clear();
            group.lastscanned = 0;
            if (auto it = keep.find(group.name); it != keep.end()) {
                group.state = 1;
                group.downloaddir = it->second->downloaddir;
                group.lastscanned = it->second->lastscanned;
                keep.erase(it);
            }
            if (!db.StoreGroup(group)) {
                store_failed = true;
                break;
            }
            SetStored(++stored);
            const auto now = std::chrono::steady_clock::now();
            if (request.rows_changed && now - last_event >= kRowsChangedEvery) {
                last_event = now;
                request.rows_changed();
            }
        }
    }
    for (const GroupListEntry& g : request.keep) {
        if (!keep.count(g.name))
            continue;
        Group mark;
        mark.name = g.name;
        mark.downloaddir = g.downloaddir;
        mark.lastscanned = g.lastscanned;
        mark.state = 1;
        if (!db.StoreGroup(mark))
            store_failed = true;
    }
    LogLine("READY!\n");
    if (store_failed)
        return Fail(request, "Cannot store the list of groups: " + db.last_error());
    {
        std::lock_guard lock(mutex_);
        progress_.finished = complete;
    }
    if (!complete && keep_going_.load())
        return Fail(request, "Can't connect to server!\n" + host + "\n" +
                                 "The connection ended before the end of the list");
    return CommandResult::Done(static_cast<int>(stored));
}

}  // namespace qs
