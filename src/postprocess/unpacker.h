#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qs {

struct UnpackResult {
    enum class Verdict { unpacked, failed, encrypted };
    Verdict verdict = Verdict::failed;
    int files = 0;       // regular files written
    std::string reason;  // failed and encrypted
};

struct UnpackOptions {
    std::function<bool()> should_stop;  // polled between blocks
};

// Unpacks an archive (rar incl. RAR5, 7z, zip, tar ...) given as its volumes in order into
// target_dir, which is made when missing. Every entry is checked before anything is written:
// a name that leaves target_dir (absolute, "..", a link pointing out), an encrypted entry or too
// little free space for the entries' sizes fails the whole archive. Never throws.
UnpackResult UnpackArchive(const std::vector<std::string>& volumes, const std::string& target_dir,
                           const UnpackOptions& options = {});

}  // namespace qs
