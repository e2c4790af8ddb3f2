#include "postprocess/par2_repair.h"

#include <filesystem>
#include <set>

#include "postprocess/child_process.h"
#include "postprocess/find_program.h"

namespace qs {
namespace {

namespace fs = std::filesystem;

// par2cmdline's exit codes.
enum Par2Exit {
    kSuccess = 0,
    kRepairPossible = 1,
    kRepairNotPossible = 2,
    kBadArguments = 3,
    kInsufficientCriticalData = 4,
    kRepairFailed = 5,
    kFileIoError = 6,
};

struct Par2Run {
    ChildResult child;
    Par2Report report;
    std::string error;  // set when the run itself failed
};

std::string Absolute(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string ExitReason(const Par2Run& run) {
    std::string reason;
    switch (run.child.exit_code) {
        case kBadArguments:
            reason = "par2 refused its arguments";
            break;
        case kInsufficientCriticalData:
            reason = "the par2 files are damaged or incomplete";
            break;
        case kRepairFailed:
            reason = "par2 repair failed";
            break;
        case kFileIoError:
            reason = "par2 could not read or write a file";
            break;
        default:
            reason = "par2 ended with code " + std::to_string(run.child.exit_code);
    }
    if (!run.report.last_line.empty())
        reason += " (" + run.report.last_line + ")";
    return reason;
}

Par2Run RunPar2(const char* verb, const std::string& index_par2, const std::string& data_dir,
                const Par2Options& options) {
    Par2Run run;
    const std::string program = FindProgram(options.program);
    if (program.empty()) {
        run.error = "par2 is not installed (" + options.program + " not found)";
        return run;
    }
    const std::string index = Absolute(index_par2);
    const std::string dir = Absolute(data_dir);
    std::error_code error;
    if (!fs::is_regular_file(index, error)) {
        run.error = "no par2 index " + index;
        return run;
    }
    if (!fs::is_directory(dir, error)) {
        run.error = "no directory " + dir;
        return run;
    }
    // Not quiet: only the full output says how many recovery blocks there are. The paths are
    // absolute and follow "--", so no name is taken for an option.
    ChildCommand command;
    command.program = program;
    command.args = {verb, "-B" + dir, "--", index};
    command.working_dir = dir;
    command.timeout = options.timeout;
    command.should_stop = options.should_stop;
    command.on_line = [&](std::string_view line) {
        if (auto progress = ParsePar2Progress(line)) {
            if (options.on_progress)
                options.on_progress(*progress);
            return;
        }
        AddPar2Line(line, run.report);
    };
    run.child = RunChildProcess(command);
    if (run.child.status == ChildResult::Status::exited)
        return run;
    if (run.child.status == ChildResult::Status::killed_by_signal)
        run.error = "par2 was killed by signal " + std::to_string(run.child.exit_code);
    else if (run.child.status == ChildResult::Status::timed_out)
        run.error = "par2 timed out";
    else
        run.error = run.child.error.empty() ? "par2 did not run" : run.child.error;
    return run;
}

std::string NotRepairableReason(const Par2Report& report) {
    return "not repairable: " + std::to_string(report.blocks_missing) +
           " more recovery blocks needed, " + std::to_string(report.blocks_available) +
           " available";
}

int BlocksNeeded(const Par2Report& report) {
    if (report.blocks_used > 0)
        return report.blocks_used;
    return report.data_blocks_total - report.data_blocks_present;
}

std::set<std::string> FileNames(const std::string& dir) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        names.insert(entry.path().filename().string());
    return names;
}

// par2 renames a file it rewrites to "name.1" (or ".2" ... when that exists).
void RemoveRepairBackups(const std::string& dir, const std::set<std::string>& before) {
    for (const std::string& name : FileNames(dir)) {
        if (before.count(name))
            continue;
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot + 1 == name.size() ||
            name.find_first_not_of("0123456789", dot + 1) != std::string::npos ||
            !before.count(name.substr(0, dot)))
            continue;
        std::error_code error;
        fs::remove(fs::path(dir) / name, error);
    }
}

}  // namespace

Par2Verification VerifyPar2Set(const std::string& index_par2, const std::string& data_dir,
                               const Par2Options& options) {
    using Verdict = Par2Verification::Verdict;
    Par2Verification result;
    const Par2Run run = RunPar2("v", index_par2, data_dir, options);
    if (!run.error.empty()) {
        result.reason = run.error;
        return result;
    }
    const Par2Report& report = run.report;
    result.blocks_available =
        report.blocks_available > 0 ? report.blocks_available : report.blocks_loaded;
    const int code = run.child.exit_code;
    if (code == kSuccess && report.all_correct) {
        result.verdict = Verdict::complete;
    } else if (code == kRepairPossible && report.repair_possible) {
        result.verdict = Verdict::repairable;
        result.blocks_needed = BlocksNeeded(report);
    } else if (code == kRepairNotPossible && report.repair_not_possible) {
        result.verdict = Verdict::not_repairable;
        result.blocks_needed = report.blocks_missing;
        result.reason = NotRepairableReason(report);
    } else {
        result.reason = ExitReason(run);
    }
    return result;
}

Par2Repair RepairPar2Set(const std::string& index_par2, const std::string& data_dir,
                         const Par2Options& options) {
    using Verdict = Par2Repair::Verdict;
    Par2Repair result;
    const std::set<std::string> before = FileNames(Absolute(data_dir));
    const Par2Run run = RunPar2("r", index_par2, data_dir, options);
    if (!run.error.empty()) {
        result.reason = run.error;
        return result;
    }
    const Par2Report& report = run.report;
    const int code = run.child.exit_code;
    if (code == kSuccess && report.all_correct) {
        result.verdict = Verdict::not_needed;
    } else if (code == kSuccess && report.repair_complete) {
        result.verdict = Verdict::repaired;
        result.blocks = BlocksNeeded(report);
        RemoveRepairBackups(Absolute(data_dir), before);
    } else if (code == kRepairNotPossible && report.repair_not_possible) {
        result.reason = NotRepairableReason(report);
        result.beyond_repair = true;
    } else {
        result.reason = ExitReason(run);
    }
    return result;
}

}  // namespace qs
