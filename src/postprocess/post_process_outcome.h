#pragma once

#include <string>

namespace qs {

// What post-processing made of a set, for the log record and the events.
struct PostProcessOutcome {
    enum class Kind {
        none,  // nothing done (no par2 files, no archive, or switched off)
        verified,
        repaired,
        unpacked,
        encrypted,  // the archive needs a password
        failed,
    };
    Kind kind = Kind::none;
    int blocks = 0;      // repaired, unpacked: recovery blocks used
    int files = 0;       // unpacked: files written
    std::string reason;  // failed: why; encrypted: which archive
    // failed: par2 found the set's files damaged and too few recovery blocks to make them
    // whole (par2 failing to run, or an archive that would not unpack, leaves it false).
    bool damaged = false;

    // "verified", "repaired (12 blocks)", "unpacked (3 files)",
    // "repaired (2 blocks), unpacked (3 files)",
    // "encrypted (needs a password)", "failed: ...".
    std::string Describe() const;
};

}  // namespace qs
