#include "postprocess/post_process_outcome.h"

namespace qs {

std::string PostProcessOutcome::Describe() const {
    switch (kind) {
        case Kind::none:
            return "";
        case Kind::verified:
            return "verified";
        case Kind::repaired:
            return "repaired (" + std::to_string(blocks) + (blocks == 1 ? " block)" : " blocks)");
        case Kind::unpacked:
            return "unpacked (" + std::to_string(files) + (files == 1 ? " file)" : " files)");
        case Kind::encrypted:
            return "encrypted (needs a password)";
        case Kind::failed:
            return "failed: " + (reason.empty() ? std::string("unknown error") : reason);
    }
    return "";
}

}  // namespace qs
