#include "download/part_retrieval.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "app/debug_log.h"
#include "download/attachment_decoder.h"
#include "nntp/session.h"

namespace qs {

namespace {

std::string ServerHost(WorkerState& state, int slot) {
    const auto& servers = state.settings().servers;
    int index = state.slot(slot).server_index.load();
    if (index < 0 || index >= static_cast<int>(servers.size()))
        return {};
    return servers[static_cast<size_t>(index)].host;
}

void AppendStatus(ThreadSlot& slot, std::string_view text) {
    slot.status.Set(slot.status.Get() + std::string(text));
}

// A message-id goes into a command line as it stands: it must not end the line early.
bool FitsInCommand(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

// The speed limit over all slots: while the average rate of this interval and the smoothed
// speed is above the limit, wait a little.
bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size())
        return false;
    return FindNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

}  // namespace

FetchResult FetchPart(DownloadShared& shared, int slot_index, const Attachment& entry,
                      const MessageVars& part, std::unique_ptr<NntpSocket>& connection,
                      LineList& lines) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    const Settings& settings = state.settings();

    if (!connection) {
        LogLine("Connecting...\n");
        connection = ConnectToServer(state, slot_index, &slot.status, false);
        if (!connection) {
            LogLine("Connect FAILED!\n");
            lines.clear();
            return FetchResult::Unreachable;
        }
        if (settings.SetGroup) {
            std::string host = ServerHost(state, slot_index);
            slot.status.Set(host + ":Setting Group...");
            LogLine("Setting group\n");
            if (!SelectGroup(*connection, entry.newsgroup)) {
                slot.status.Set(host + ":Error Setting Group...Retrying...");
                connection.reset();
                lines.clear();
                return FetchResult::Failed;
            }
        }
    }
    if (connection->fail() || connection->eof()) {
        lines.clear();
        return FetchResult::Failed;
    }

    LogLine("Connect OK!\n");
    char counter[64];
    std::snprintf(counter, sizeof counter, " (%d/%d)", part.partnum, entry.parts);
    slot.status.Set(ServerHost(state, slot_index) + ":" + entry.filename + counter);

    std::string command = "BODY ";
    if (settings.UseArticleId) {
        if (part.ArticleId == 0) {
            AppendStatus(slot, " No article number known");
            lines.clear();
            return FetchResult::Failed;
        }
        command += std::to_string(part.ArticleId);
    } else {
        if (!FitsInCommand(part.MessageId)) {
            AppendStatus(slot, " Invalid message-id");
            lines.clear();
            return FetchResult::Failed;
        }
        command += part.MessageId;
    }
    connection->SendCommand(command);

    std::string reply;
    connection->ReadLine(reply);
    int code = ReplyCode(reply);
    LogLine("Body requested\n");
    if (code / 10 * 10 != 220) {
        while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n'))
            reply.pop_back();
        AppendStatus(slot, " " + reply);
        if (state.downloading())
            state.SleepUnlessStopped(slot_index, shared.timings.reply_error_pause);
        lines.clear();
        return FetchResult::Failed;
    }

    // The line strings are reused from part to part, so a steady download allocates little.
    const int limit_kbps = state.speed_limit_kbps.load();
    size_t count = 0;
    bool complete = false;
    for (;;) {
        if (count == lines.size())
            lines.emplace_back();
        std::string& line = lines[count];
        if (!connection->ReadLine(line, kReplyBufferSize, LineMode::Whole))
            break;  // the connection ended or failed; a piece of a line is not kept
        if ((line.size() == 2 && line[0] == '.' && line[1] == '\r') ||
            (line.size() == 1 && line[0] == '.')) {
            complete = true;
            break;
        }
        ++count;
        slot.received_bytes.fetch_add(static_cast<int64_t>(line.size()) + 1,
                                      std::memory_order_relaxed);
        if (limit_kbps > 0)
            state.ThrottleIfOverLimit(slot_index);
        if (state.paused())
            state.WaitWhilePaused(slot_index);
        if (!state.downloading())
            break;
    }
    lines.resize(count);

    if (!state.downloading())
        return FetchResult::Good;  // stopped: the caller ends at its next test
    if (!complete) {
        LogLine("Body ended without its closing line after %zu lines\n", count);
        return FetchResult::Failed;
    }
    LogLine("Download part complete.\n");
    LogLine("Returning OK from part retrieval function!\n");
    return FetchResult::Good;
}

DownloadResult DownloadAttachment(DownloadShared& shared, int slot_index, const Attachment& entry,
                                  std::unique_ptr<NntpSocket>& connection) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    const Settings& settings = state.settings();
    DownloadResult result;

    slot.ResetProgress(entry.parts);
    LogLine("Parts %d\n", entry.parts);
    const int servers = std::max(1, static_cast<int>(settings.servers.size()));
    const int full_budget = servers * std::max(0, settings.ConnectionRetries);
    int tries = full_budget;
    bool success = true;
    AttachmentDecoder decoder(entry, settings);
    LineList lines;

    const int count = static_cast<int>(entry.partlist.size());
    for (int p = 0; p < count; ++p) {
        if (!state.downloading())
            break;
        if (state.paused())
            state.WaitWhilePaused(slot_index);
        const MessageVars& part = entry.partlist[static_cast<size_t>(p)];
        LogLine("Download message id: %s\n", part.MessageId.c_str());
        FetchResult fetched = FetchPart(shared, slot_index, entry, part, connection, lines);
        LogLine("Download part really complete\n");
        if (fetched == FetchResult::Unreachable) {
            result.unreachable = state.downloading() && !slot.stop_requested.load();
            success = false;
            break;
        }

        bool good = fetched == FetchResult::Good;
        bool decoded = false;
        bool held = false;
        if (good && state.downloading()) {
            held = decoder.Decode(lines);
            decoded = true;
            good = !held;
        }

        if (good) {
            slot.StepProgress();
            tries = full_budget;
        } else {
            char retry[48];
            std::snprintf(retry, sizeof retry, " Error!! Retrying (%d)...", tries + 1);
            AppendStatus(slot, retry);
            int next = slot.server_index.load() + 1;
            slot.server_index.store(next >= static_cast<int>(settings.servers.size()) ? 0 : next);
            connection.reset();
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, shared.timings.retry_pause);
            if (tries >= 0) {
                --tries;
                --p;  // the same part again
            } else {
                // Used up: give the attachment up, or go on without this part.
                tries = full_budget;
                if (settings.SkipMissing)
                    ++result.parts_missing;
                if (!settings.SkipMissing) {
                    slot.stop_requested.store(true);
                } else if (held) {
                    decoder.KeepBadParts();
                } else if (!decoded && !lines.empty() && state.downloading()) {
                    if (decoder.Decode(lines))
                        decoder.KeepBadParts();
                }
            }
        }
        if (slot.stop_requested.load()) {
            success = false;
            break;
        }
        if (good && settings.UseFirstServer == 1 && slot.server_index.load() != 0) {
            connection.reset();
            slot.server_index.store(0);
        }
    }

    decoder.Finish();
    result.output_path = decoder.output_path();
    if (!state.downloading()) {
        success = false;
    } else if (success && (decoder.errors() != 0 || !decoder.recognised() ||
                           decoder.write_failed())) {
        // Nothing recognised (a text post, or every part missing), or the file not written.
        AppendStatus(slot, " Error!!");
        success = false;
        state.SleepUnlessStopped(slot_index, shared.timings.failed_entry_pause);
    } else if (success && !result.output_path.empty() && shared.TakeOpenAfter(entry.Id)) {
        if (EndsWithNoCase(result.output_path, "nzb")) {
            if (shared.import_nzb)
                shared.import_nzb(result.output_path);
            shared.start_requested.store(true);
        } else if (Host* host = state.host()) {
            host->OpenFile(result.output_path);
        }
    }
    if (tries == -1)
        success = false;
    if (!success) {
        std::string error = decoder.output_error();
        if (!error.empty() && state.host())
            state.host()->ShowMessage("Cannot write " + error, Host::Icon::Stop);
    }
    if (settings.UseFirstServer == 2 && slot.server_index.load() != 0) {
        connection.reset();
        slot.server_index.store(0);
    }
    if (!success && settings.DeleteIncomplete && !result.output_path.empty()) {
        if (::unlink(result.output_path.c_str()) == 0)
            LogLine("Deleted incomplete file %s\n", result.output_path.c_str());
    }
    result.success = success;
    return result;
}

}  // namespace qs
