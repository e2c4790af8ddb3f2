#include "postprocess/set_post_processor.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <utility>

#include "app/text_util.h"
#include "postprocess/par2_repair.h"
#include "postprocess/set_names.h"
#include "postprocess/unpacker.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using Kind = PostProcessOutcome::Kind;

PostProcessOutcome Failed(std::string reason) {
    PostProcessOutcome outcome;
    outcome.kind = Kind::failed;
    outcome.reason = std::move(reason);
    return outcome;
}

// The index, or, when it was not posted, the smallest recovery volume (par2 reads the set's
// description from any of its files).
std::string Par2Main(const std::vector<std::string>& files) {
    std::string best;
    int best_blocks = 0;
    for (const std::string& name : files) {
        const SetFileName file = ClassifySetFile(name);
        if (file.role == SetFileRole::par2_index)
            return name;
        if (file.role == SetFileRole::par2_recovery &&
            (best.empty() || file.recovery_blocks < best_blocks)) {
            best = name;
            best_blocks = file.recovery_blocks;
        }
    }
    return best;
}

// With every file of the set present, one "par2 repair" run verifies and repairs: a separate
// verify first would read the whole set twice.
PostProcessOutcome Repair(const std::string& dir, const std::string& par2_main,
                          const PostProcessHooks& hooks) {
    Par2Options par2;
    par2.program = hooks.par2_program;
    par2.on_progress = hooks.on_progress;
    par2.should_stop = hooks.should_stop;
    const Par2Repair repair = RepairPar2Set((fs::path(dir) / par2_main).string(), dir, par2);
    if (repair.verdict == Par2Repair::Verdict::failed) {
        PostProcessOutcome failed = Failed(repair.reason);
        failed.damaged = repair.beyond_repair;
        return failed;
    }
    PostProcessOutcome outcome;
    outcome.kind =
        repair.verdict == Par2Repair::Verdict::repaired ? Kind::repaired : Kind::verified;
    outcome.blocks = repair.blocks;
    return outcome;
}

// The set's archives: volume names in order, keyed by base name and kind.
std::vector<std::vector<std::string>> Archives(const std::vector<std::string>& files) {
    std::map<std::pair<std::string, SetFileRole>, std::vector<std::pair<int, std::string>>> found;
    for (const std::string& name : files) {
        const SetFileName file = ClassifySetFile(name);
        if (IsArchiveVolume(file.role))
            found[{ToLower(file.base), file.role}].emplace_back(file.volume, name);
    }
    std::vector<std::vector<std::string>> archives;
    for (auto& [key, volumes] : found) {
        std::sort(volumes.begin(), volumes.end());
        archives.emplace_back();
        for (const auto& volume : volumes)
            archives.back().push_back(volume.second);
    }
    return archives;
}

void DeleteSetFiles(const std::string& dir, const std::vector<std::string>& files) {
    for (const std::string& name : files) {
        const SetFileRole role = ClassifySetFile(name).role;
        if (IsArchiveVolume(role) || role == SetFileRole::par2_index ||
            role == SetFileRole::par2_recovery) {
            std::error_code ignored;
            fs::remove(fs::path(dir) / name, ignored);
        }
    }
}

}  // namespace

PostProcessOutcome PostProcessSet(const std::string& dir, const std::vector<std::string>& files,
                                  const PostProcessOptions& options,
                                  const PostProcessHooks& hooks) {
    PostProcessOutcome outcome;
    if (options.mode == PostProcessMode::none)
        return outcome;
    const std::string par2_main = Par2Main(files);
    if (!par2_main.empty()) {
        outcome = Repair(dir, par2_main, hooks);
        if (outcome.kind == Kind::failed)
            return outcome;
    }
    if (options.mode != PostProcessMode::repair_and_unpack)
        return outcome;

    const std::vector<std::vector<std::string>> archives = Archives(files);
    if (archives.empty())
        return outcome;
    UnpackOptions unpack;
    unpack.should_stop = hooks.should_stop;
    int unpacked_files = 0;
    for (const std::vector<std::string>& names : archives) {
        std::vector<std::string> volumes;
        for (const std::string& name : names)
            volumes.push_back((fs::path(dir) / name).string());
        const UnpackResult result = UnpackArchive(volumes, dir, unpack);
        if (result.verdict == UnpackResult::Verdict::encrypted) {
            outcome.kind = Kind::encrypted;
            outcome.reason = names.front();
            return outcome;
        }
        if (result.verdict == UnpackResult::Verdict::failed)
            return Failed(names.front() + ": " + result.reason);
        unpacked_files += result.files;
    }
    outcome.kind = Kind::unpacked;
    outcome.files = unpacked_files;
    if (options.delete_after_unpack)
        DeleteSetFiles(dir, files);
    return outcome;
}

}  // namespace qs
