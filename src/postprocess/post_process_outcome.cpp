#include "postprocess/post_process_outcome.h"

namespace qs {
namespace {

std::string RepairedText(int blocks) {
    return "repaired (" + std::to_string(blocks) + (blocks == 1 ? " block)" : " blocks)");
}

}  // namespace

std::string PostProcessOutcome::Describe() const {
    switch (kind) {
        case Kind::none:
            return "";
        case Kind::verified:
            return "verified";
        case Kind::repaired:
            return RepairedText(blocks);
        case Kind::unpacked:
            return (blocks > 0 ? RepairedText(blocks) + ", " : std::string()) + "unpacked (" +
                   std::to_string(files) + (files == 1 ? " file)" : " files)");
        case Kind::encrypted:
            return "encrypted (needs a password)";
        case Kind::failed:
            return "failed: " + (reason.empty() ? std::string("unknown error") : reason);
    }
    return "";
}

}  // namespace qs
