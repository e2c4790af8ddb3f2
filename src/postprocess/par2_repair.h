#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "postprocess/par2_output.h"

namespace qs {

// How par2cmdline (Debian's "par2") is run.
struct Par2Options {
    std::string program = "par2";  // a name looked up in PATH, or a path
    std::chrono::milliseconds timeout = std::chrono::hours(12);
    std::function<void(const Par2Progress&)> on_progress;
    std::function<bool()> should_stop;
};

struct Par2Verification {
    enum class Verdict { complete, repairable, not_repairable, error };
    Verdict verdict = Verdict::error;
    // repairable: the recovery blocks the repair needs; not_repairable: how many more it
    // would need than the set has.
    int blocks_needed = 0;
    int blocks_available = 0;  // recovery blocks found beside the index
    std::string reason;        // not_repairable and error
};

struct Par2Repair {
    enum class Verdict { not_needed, repaired, failed };
    Verdict verdict = Verdict::failed;
    int blocks = 0;  // recovery blocks used
    std::string reason;
    bool beyond_repair = false;  // failed: par2 ran and found too few recovery blocks
};

// Checks the files named by index_par2 (a set's "name.par2") in data_dir, with every
// recovery volume of the set that lies beside the index. Never throws.
Par2Verification VerifyPar2Set(const std::string& index_par2, const std::string& data_dir,
                               const Par2Options& options = {});

// Repairs them; the damaged originals par2 keeps as "file.1" are removed once it succeeds.
// Never throws.
Par2Repair RepairPar2Set(const std::string& index_par2, const std::string& data_dir,
                         const Par2Options& options = {});

}  // namespace qs
