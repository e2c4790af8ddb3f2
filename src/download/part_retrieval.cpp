#include "download/part_retrieval.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "app/debug_log.h"
#include "app/text_util.h"
#include "download/attachment_decoder.h"
#include "download/download_sets.h"
#include "nntp/nntp_socket.h"
#include "nntp/session.h"

namespace qs {

namespace {

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

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size())
        return false;
    return FindNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

PartOutcome RefusalOutcome(int code) {
    return code == 423 || code == 430 ? PartOutcome::NotFound : PartOutcome::Refused;
}

}  // namespace

namespace {

// Connects the slot (the rotation's current server first) and selects the entry's group
// when SetGroup asks for it. Written when the connection is ready.
PartOutcome OpenConnection(DownloadShared& shared, int slot_index, ServerRotation& rotation,
                           const Attachment& entry, SlotConnection& connection,
                           std::string& reply) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    LogLine("Connecting...\n");
    connection = ConnectToServer(state, slot_index, rotation, &slot.status, false);
    if (!connection) {
        LogLine("Connect FAILED!\n");
        return state.ShouldContinue(slot_index) ? PartOutcome::Unreachable : PartOutcome::Stopped;
    }
    if (state.settings()->SetGroup) {
        std::string host = rotation.host();
        slot.status.Set(host + ":Setting Group...");
        LogLine("Setting group\n");
        if (!SelectGroup(*connection, entry.newsgroup)) {
            slot.status.Set(host + ":Error Setting Group...Retrying...");
            reply = "GROUP " + entry.newsgroup + " refused";
            connection.reset();
            return PartOutcome::Refused;
        }
    }
    return PartOutcome::Written;
}

// The BODY command for a part; empty, with the reason in `why`, when it has none.
std::string BodyCommand(const Settings& settings, const MessageVars& part, std::string& why) {
    if (settings.UseArticleId) {
        if (part.ArticleId == 0) {
            why = "no article number known";
            return {};
        }
        return "BODY " + std::to_string(part.ArticleId);
    }
    if (!FitsInCommand(part.MessageId)) {
        why = "invalid message-id";
        return {};
    }
    return "BODY " + part.MessageId;
}

// Reads one BODY reply and, when the server sends the body, the body up to the closing dot.
PartOutcome ReadBody(DownloadShared& shared, int slot_index, NntpSocket& connection,
                     const Settings& settings, PartBody& body, std::string& reply) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    std::string line;
    connection.ReadLine(line);
    int code = ReplyCode(line);
    LogLine("Body requested\n");
    if (code / 10 * 10 != 220) {
        body.clear();
        if (code < 0) {
            reply = "no reply";
            return PartOutcome::ConnectionLost;
        }
        reply = WithoutLineEnd(line);
        AppendStatus(slot, " " + reply);
        if (state.downloading())
            state.SleepUnlessStopped(slot_index, shared.timings.reply_error_pause);
        return RefusalOutcome(code);
    }

    // The body's string is reused from part to part, so a steady download allocates little.
    // It is read a receive at a time: progress, the speed limit, pause and Stop are looked
    // at between receives.
    const int limit_kbps = settings.SpeedUse ? settings.SpeedVal : 0;
    body.clear();
    NntpSocket::BlockState block_state = NntpSocket::BlockState::LineStart;
    bool complete = false;
    for (;;) {
        const size_t before = body.size();
        const NntpSocket::BlockResult read = connection.ReadDotBlock(body, block_state);
        slot.received_bytes.fetch_add(static_cast<int64_t>(body.size() - before),
                                      std::memory_order_relaxed);
        if (read == NntpSocket::BlockResult::End)
            break;  // the connection ended or failed inside the body
        // The last receive of a body counts too: a body that arrives in one receive is held
        // back as well.
        if (limit_kbps > 0)
            state.ThrottleIfOverLimit(slot_index, limit_kbps);
        if (read == NntpSocket::BlockResult::Done) {
            complete = true;
            break;
        }
        if (body.size() > kMaxArticleBytes) {
            LogLine("Body longer than %zu bytes: the connection is dropped\n", kMaxArticleBytes);
            body.clear();
            reply = kArticleTooLarge;
            AppendStatus(slot, " " + reply);
            return PartOutcome::Refused;
        }
        if (state.paused())
            state.WaitWhilePaused(slot_index);
        if (!state.downloading())
            break;
    }

    if (!state.downloading())
        return PartOutcome::Stopped;
    if (!complete) {
        LogLine("Body ended without its closing line after %zu bytes\n", body.size());
        reply = "the connection ended inside the body";
        return PartOutcome::ConnectionLost;
    }
    LogLine("Download part complete.\n");
    return PartOutcome::Written;
}

}  // namespace

int PipelineDepthOf(const Settings& settings) {
    return std::clamp(settings.PipelineDepth, 1, kMaxPipelineDepth);
}

PartOutcome FetchPart(DownloadShared& shared, int slot_index, ServerRotation& rotation,
                      const Attachment& entry, int index, SlotConnection& connection,
                      BodyPipeline& pipeline, PartBody& body, std::string& reply) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    // Each part takes the settings anew: a changed speed limit applies from the next part.
    const std::shared_ptr<const Settings> settings = state.settings();
    const MessageVars& part = entry.partlist[static_cast<size_t>(index)];
    reply.clear();
    // Only a failure before the body empties it.
    auto failed_before_body = [&body](PartOutcome outcome) {
        body.clear();
        return outcome;
    };

    // Replies waiting for other parts than this one cannot be skipped: start afresh.
    if (connection && !pipeline.in_flight.empty() && pipeline.in_flight.front() != index)
        connection.reset();
    if (!connection) {
        pipeline.in_flight.clear();
        const PartOutcome opened =
            OpenConnection(shared, slot_index, rotation, entry, connection, reply);
        if (opened != PartOutcome::Written)
            return failed_before_body(opened);
    }
    if (connection->fail() || connection->eof())
        return failed_before_body(PartOutcome::ConnectionLost);

    LogLine("Connect OK!\n");
    char counter[64];
    std::snprintf(counter, sizeof counter, " (%d/%d)", part.partnum, entry.parts);
    slot.status.Set(rotation.host() + ":" + entry.filename + counter);

    std::string why;
    if (BodyCommand(*settings, part, why).empty()) {
        AppendStatus(slot,
                     " " + std::string(why == "invalid message-id" ? "Invalid message-id"
                                                                   : "No article number known"));
        reply = why;
        return failed_before_body(PartOutcome::NotFound);
    }

    // This part's command and those of the parts after it, up to the depth, go out before
    // the first reply is read: on a distant server the bodies then follow each other
    // without a round trip between them.
    if (pipeline.in_flight.empty())
        pipeline.next_to_send = index;
    const int depth = PipelineDepthOf(*settings);
    const int count = static_cast<int>(entry.partlist.size());
    while (static_cast<int>(pipeline.in_flight.size()) < depth && pipeline.next_to_send < count) {
        const int next = pipeline.next_to_send++;
        const std::string command =
            BodyCommand(*settings, entry.partlist[static_cast<size_t>(next)], why);
        if (command.empty())
            continue;  // fails on its own turn, without a command
        // The first command of a pipeline drops whatever an earlier exchange left unread.
        if (pipeline.in_flight.empty())
            connection->SendCommand(command);
        else
            connection->SendPipelinedCommand(command);
        pipeline.in_flight.push_back(next);
    }
    pipeline.in_flight.pop_front();  // this part's, first in line
    return ReadBody(shared, slot_index, *connection, *settings, body, reply);
}

namespace {

// "part 3 of 10: not found (430 No such article)"
std::string PartReason(const MessageVars& part, const Attachment& entry, PartOutcome outcome,
                       const std::string& detail) {
    std::string text = "part " + std::to_string(part.partnum) + " of " +
                       std::to_string(entry.parts) + ": " + OutcomeName(outcome);
    if (!detail.empty())
        text += " (" + detail + ")";
    return text;
}

}  // namespace

EntryResult DownloadAttachment(DownloadShared& shared, int slot_index, const Attachment& entry,
                               SlotConnection& connection) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    // The attachment keeps one snapshot for its server order, budget and file naming.
    const std::shared_ptr<const Settings> settings = state.settings();
    ServerRotation rotation(slot, settings);
    EntryResult result;

    slot.ResetProgress(entry.parts);
    LogLine("Parts %d\n", entry.parts);
    const int full_budget = rotation.part_retries();
    int tries = full_budget;
    bool given_up = false;  // a part could not be had and SkipMissing is off
    bool stopped = false;
    std::string failure;  // the reason of the last part given up
    AttachmentDecoder decoder(entry, *settings);
    // A file of a set goes on past a missing part and is kept with its holes where they
    // belong: par2 repairs it from the set's recovery volumes.
    const bool in_set = SetMemberOf(entry).has_value();
    const bool skip_missing = settings->SkipMissing || in_set;
    PartBody body;
    std::string reply;
    BodyPipeline pipeline;

    const int count = static_cast<int>(entry.partlist.size());
    for (int p = 0; p < count; ++p) {
        if (!state.downloading())
            break;
        if (state.paused())
            state.WaitWhilePaused(slot_index);
        const MessageVars& part = entry.partlist[static_cast<size_t>(p)];
        LogLine("Download message id: %s\n", part.MessageId.c_str());
        PartOutcome outcome =
            FetchPart(shared, slot_index, rotation, entry, p, connection, pipeline, body, reply);
        LogLine("Download part really complete\n");
        if (outcome == PartOutcome::Unreachable) {
            result.outcome = EntryOutcome::Unreachable;
            result.reason = "no news server could be reached";
            if (!rotation.last_reply().empty())
                result.reason += " (" + rotation.last_error() + ")";
            return result;
        }
        if (outcome == PartOutcome::Stopped || slot.stop_requested()) {
            stopped = true;
            break;
        }

        bool decoded = false;
        bool held = false;
        if (outcome == PartOutcome::Written) {
            held = decoder.Decode(body);
            decoded = true;
            if (held) {
                outcome = PartOutcome::CrcFailed;
                reply.clear();
            }
        }

        if (outcome == PartOutcome::Written) {
            slot.StepProgress();
            tries = full_budget;
        } else {
            char retry[48];
            std::snprintf(retry, sizeof retry, " Error!! Retrying (%d)...", tries + 1);
            AppendStatus(slot, retry);
            rotation.Next();
            connection.reset();
            if (state.downloading())
                state.SleepUnlessStopped(slot_index, shared.timings.retry_pause);
            if (tries >= 0) {
                --tries;
                --p;  // the same part again
            } else {
                // Used up: give the attachment up, or go on without this part.
                tries = full_budget;
                failure = PartReason(part, entry, outcome, reply);
                if (!skip_missing) {
                    given_up = true;
                } else {
                    // What did arrive is kept as it came: a damaged part, not a missing one.
                    bool kept = false;
                    if (held) {
                        decoder.KeepBadParts();
                        kept = true;
                    } else if (!decoded && !body.empty() && state.downloading()) {
                        if (decoder.Decode(body))
                            decoder.KeepBadParts();
                        kept = true;
                    }
                    ++(kept ? result.parts_damaged : result.parts_missing);
                }
            }
        }
        if (given_up)
            break;
        if (slot.stop_requested()) {
            stopped = true;
            break;
        }
        if (outcome == PartOutcome::Written && rotation.BackToFirst(1))
            connection.reset();
    }

    // Replies still on their way belong to parts this entry no longer wants; the next entry
    // cannot read past them.
    if (!pipeline.in_flight.empty())
        connection.reset();
    decoder.Finish();
    result.output_path = decoder.output_path();
    if (stopped || !state.downloading()) {
        result.outcome = EntryOutcome::Stopped;
        result.reason = "stopped";
    } else if (given_up) {
        result.outcome = EntryOutcome::Failed;
        result.reason = failure;
    } else if (!decoder.output_error().empty() || decoder.write_failed()) {
        // A disk that is full, over quota or read-only is no fault of the entry: it waits.
        const int e = decoder.output_errno();
        result.outcome = e == ENOSPC || e == EDQUOT || e == EROFS ? EntryOutcome::DiskFull
                                                                  : EntryOutcome::Failed;
        result.reason = "Cannot write " + decoder.output_error();
    } else if (!decoder.recognised()) {
        // A text post, or every part missing.
        result.outcome = EntryOutcome::Failed;
        result.reason = result.parts_missing + result.parts_damaged > 0
                            ? failure
                            : "no yEnc, UU or MIME data to decode";
    } else if (decoder.errors() != 0) {
        result.outcome = EntryOutcome::Failed;
        result.reason = "a part held no yEnc data";
    } else {
        const std::string of = " of " + std::to_string(entry.parts);
        std::string gaps;
        if (result.parts_missing > 0)
            gaps = std::to_string(result.parts_missing) + of + " parts missing";
        if (result.parts_damaged > 0)
            gaps += (gaps.empty() ? "" : ", ") + std::to_string(result.parts_damaged) + of +
                    " parts damaged (kept as they came)";
        result.outcome = gaps.empty() ? EntryOutcome::Done : EntryOutcome::Incomplete;
        if (!gaps.empty())
            result.reason = gaps + " (last: " + failure + ")";
    }

    // A file that is not what was posted is never filed as simply done.
    const std::string damage = decoder.damage();
    if (!damage.empty() &&
        (result.outcome == EntryOutcome::Done || result.outcome == EntryOutcome::Incomplete)) {
        if (result.outcome == EntryOutcome::Done && decoder.only_the_trailer_disagrees()) {
            result.reason = "warning: " + damage +
                            ", though every part matched its own (the poster's trailer is "
                            "wrong; the bytes are as posted)";
        } else if (result.outcome == EntryOutcome::Incomplete) {
            result.reason += "; the file is damaged: " + damage;
        } else if (skip_missing) {
            result.outcome = EntryOutcome::Incomplete;
            result.reason = "the file is damaged: " + damage;
        } else {
            result.outcome = EntryOutcome::Failed;
            result.reason = "the file is damaged: " + damage;
        }
    }

    if (result.outcome == EntryOutcome::Failed && !given_up) {
        AppendStatus(slot, " Error!!");
        state.SleepUnlessStopped(slot_index, shared.timings.failed_entry_pause);
    }
    if ((result.outcome == EntryOutcome::Done || result.outcome == EntryOutcome::Incomplete) &&
        !result.output_path.empty() && shared.queue().TakeOpenAfter(entry.Id)) {
        if (EndsWithNoCase(result.output_path, "nzb")) {
            if (shared.import_nzb)
                shared.import_nzb(result.output_path);
            shared.start_requested.store(true);
        } else if (Host* host = state.host()) {
            host->OpenFile(result.output_path);
        }
    }
    if (result.outcome == EntryOutcome::Failed || result.outcome == EntryOutcome::Stopped) {
        std::string error = decoder.output_error();
        if (!error.empty() && state.host())
            state.host()->ShowMessage("Cannot write " + error, Host::Icon::Stop);
    }
    if (rotation.BackToFirst(2))
        connection.reset();
    if ((result.outcome == EntryOutcome::Failed || result.outcome == EntryOutcome::Stopped) &&
        settings->DeleteIncomplete && !in_set && !result.output_path.empty()) {
        if (::unlink(result.output_path.c_str()) == 0)
            LogLine("Deleted incomplete file %s\n", result.output_path.c_str());
    }
    return result;
}

}  // namespace qs
