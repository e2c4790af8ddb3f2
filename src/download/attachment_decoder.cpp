#include "download/attachment_decoder.h"

#include "download/mime_decoder.h"
#include "download/uu_decoder.h"
#include "download/yenc_decoder.h"

namespace qs {

AttachmentDecoder::AttachmentDecoder(const Attachment& entry, const Settings& settings)
    : directory_(entry.dir) {
    candidates_.push_back(std::make_unique<UuDecoder>(entry.filename, MakeOutputNamer(settings)));
    candidates_.push_back(
        std::make_unique<Base64Decoder>(entry.filename, MakeOutputNamer(settings)));
    candidates_.push_back(std::make_unique<YencDecoder>(entry.filename, MakeOutputNamer(settings)));
}

bool AttachmentDecoder::Decode(const PartBody& body) {
    if (chosen_ == nullptr)
        return Detect(body);
    const DecodeOutcome outcome = chosen_->Continue(body);
    if (outcome == DecodeOutcome::NotFound)
        ++errors_;
    return outcome == DecodeOutcome::HeldBack;
}

bool AttachmentDecoder::Detect(const PartBody& body) {
    for (const auto& candidate : candidates_) {
        const DecodeOutcome outcome = candidate->Start(directory_, body);
        if (outcome == DecodeOutcome::NotFound)
            continue;
        chosen_ = candidate.get();
        path_ = chosen_->output_path();
        errors_ = 0;  // a held-back part is fetched again or kept
        return outcome == DecodeOutcome::HeldBack;
    }
    // Nothing to decode here (a text part, say): the next part is tried afresh.
    errors_ = 1;
    for (const auto& candidate : candidates_)
        candidate->Reset();
    return false;
}

void AttachmentDecoder::KeepBadParts() {
    if (chosen_ != nullptr)
        chosen_->KeepBadParts();
}

void AttachmentDecoder::Finish() {
    if (chosen_ != nullptr)
        chosen_->Finish();
}

std::string AttachmentDecoder::output_error() const {
    for (const auto& candidate : candidates_) {
        std::string error = candidate->output_error();
        if (!error.empty())
            return error;
    }
    return {};
}

int AttachmentDecoder::output_errno() const {
    for (const auto& candidate : candidates_) {
        if (!candidate->output_error().empty())
            return candidate->output_errno();
    }
    return 0;
}

}  // namespace qs
