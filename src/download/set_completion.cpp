#include "download/set_completion.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/debug_log.h"
#include "app/text_util.h"
#include "postprocess/par2_repair.h"
#include "postprocess/set_post_processor.h"

namespace qs {
namespace {

namespace fs = std::filesystem;

// The set's files in its directory, whatever run downloaded them.
std::vector<std::string> SetFiles(const SetKey& set) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(set.dir, error)) {
        if (!entry.is_regular_file(error))
            continue;
        const std::string name = entry.path().filename().string();
        const SetFileName file = ClassifySetFile(name);
        if (file.role != SetFileRole::plain && ToLower(file.base) == set.base)
            files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string IndexOf(const std::vector<std::string>& files) {
    for (const std::string& name : files)
        if (ClassifySetFile(name).role == SetFileRole::par2_index)
            return name;
    return {};
}

bool IsPar2(const std::string& name) {
    const SetFileRole role = ClassifySetFile(name).role;
    return role == SetFileRole::par2_index || role == SetFileRole::par2_recovery;
}

int Blocks(const Attachment& held) {
    const std::optional<SetMember> member = SetMemberOf(held);
    return member ? member->name.recovery_blocks : 0;
}

// The held volumes that bring `needed` blocks with few downloads: the smallest volume that
// has enough alone, else the largest ones until they add up. Empty when all of them do not.
std::vector<Attachment> ChooseVolumes(std::vector<Attachment> held, int needed) {
    std::sort(held.begin(), held.end(),
              [](const Attachment& a, const Attachment& b) { return Blocks(a) < Blocks(b); });
    for (const Attachment& volume : held)
        if (Blocks(volume) >= needed)
            return {volume};
    std::vector<Attachment> chosen;
    int blocks = 0;
    for (auto volume = held.rbegin(); volume != held.rend() && blocks < needed; ++volume) {
        chosen.push_back(*volume);
        blocks += Blocks(*volume);
    }
    return blocks >= needed ? chosen : std::vector<Attachment>{};
}

int TotalBlocks(const std::vector<Attachment>& held) {
    int blocks = 0;
    for (const Attachment& volume : held)
        blocks += Blocks(volume);
    return blocks;
}

// A set whose par2 files say it is whole needs no second par2 run: its archives are
// unpacked as they are, and its par2 files go with them when asked.
PostProcessOutcome UnpackVerified(const SetKey& set, const std::vector<std::string>& files,
                                  const PostProcessOptions& options,
                                  const PostProcessHooks& hooks) {
    PostProcessOutcome outcome;
    outcome.kind = PostProcessOutcome::Kind::verified;
    if (options.mode != PostProcessMode::repair_and_unpack)
        return outcome;
    std::vector<std::string> archives;
    std::copy_if(files.begin(), files.end(), std::back_inserter(archives),
                 [](const std::string& name) { return !IsPar2(name); });
    PostProcessOutcome unpacked = PostProcessSet(set.dir, archives, options, hooks);
    if (unpacked.kind == PostProcessOutcome::Kind::none)
        return outcome;
    if (unpacked.kind == PostProcessOutcome::Kind::unpacked && options.delete_after_unpack) {
        for (const std::string& name : files) {
            std::error_code ignored;
            if (IsPar2(name))
                fs::remove(fs::path(set.dir) / name, ignored);
        }
    }
    return unpacked;
}

}  // namespace

void FinishSet(DownloadShared& shared, int slot_index, const SetKey& set, const std::string& name) {
    WorkerState& state = shared.state();
    ThreadSlot& slot = state.slot(slot_index);
    DownloadQueue& queue = shared.queue();
    const std::shared_ptr<const Settings> settings = state.settings();
    const PostProcessOptions options{PostProcessModeFromSetting(settings->PostProcess),
                                     settings->DeleteAfterUnpack != 0};
    std::vector<Attachment> held = queue.HeldOfSet(set);
    if (options.mode == PostProcessMode::none) {
        // Switched off meanwhile: what was held back is downloaded after all.
        if (!held.empty() && queue.Release(held) > 0)
            shared.start_requested.store(true);
        return;
    }
    auto should_stop = [&] { return !state.downloading() || slot.stop_requested(); };
    PostProcessHooks hooks;
    hooks.should_stop = should_stop;
    hooks.on_progress = [&](const Par2Progress& progress) {
        char percent[16];
        std::snprintf(percent, sizeof percent, " %.0f%%", progress.percent);
        slot.status.Set(name + ": " + progress.phase + percent);
    };
    ProcessedSet processed{name, set.dir, "", false, false};
    const std::vector<std::string> files = SetFiles(set);
    LogLine("Set %s finished: %zu files, %zu recovery volumes held\n", name.c_str(), files.size(),
            held.size());

    PostProcessOutcome outcome;
    bool verified = false;
    const std::string index = IndexOf(files);
    if (!held.empty() && !index.empty()) {
        slot.status.Set(name + ": verifying...");
        Par2Options par2;
        par2.program = hooks.par2_program;
        par2.on_progress = hooks.on_progress;
        par2.should_stop = should_stop;
        const Par2Verification verification =
            VerifyPar2Set((fs::path(set.dir) / index).string(), set.dir, par2);
        if (should_stop()) {
            // Downloaded by the next run; the set finishes again after them.
            queue.Release(held);
            return;
        }
        if (verification.verdict == Par2Verification::Verdict::not_repairable) {
            const std::vector<Attachment> chosen = ChooseVolumes(held, verification.blocks_needed);
            if (!chosen.empty()) {
                LogLine("Set %s needs %d more recovery blocks: %zu volumes released\n",
                        name.c_str(), verification.blocks_needed, chosen.size());
                slot.status.Set(name + ": fetching recovery volumes...");
                queue.Release(chosen);
                shared.start_requested.store(true);
                return;
            }
            outcome.kind = PostProcessOutcome::Kind::failed;
            outcome.damaged = true;
            outcome.reason = "not repairable: " + std::to_string(verification.blocks_needed) +
                             " more recovery blocks needed, " + std::to_string(TotalBlocks(held)) +
                             " left to fetch";
        }
        verified = verification.verdict == Par2Verification::Verdict::complete;
        queue.DropHeld(set);
    }

    if (outcome.kind != PostProcessOutcome::Kind::failed) {
        slot.status.Set(name + ": " + (verified ? "unpacking..." : "repairing and unpacking..."));
        outcome = verified ? UnpackVerified(set, files, options, hooks)
                           : PostProcessSet(set.dir, files, options, hooks);
        if (should_stop() && outcome.kind == PostProcessOutcome::Kind::failed) {
            // par2 was ended, not beaten: nothing says the files are damaged.
            outcome.reason = "stopped";
            outcome.damaged = false;
        }
    }
    processed.outcome = outcome.Describe();
    processed.failed = outcome.kind == PostProcessOutcome::Kind::failed ||
                       outcome.kind == PostProcessOutcome::Kind::encrypted;
    processed.damaged = outcome.damaged;
    LogLine("Set %s: %s\n", name.c_str(), processed.outcome.c_str());
    if (!processed.outcome.empty())
        queue.FileSetOutcome(set, processed);
}

}  // namespace qs
