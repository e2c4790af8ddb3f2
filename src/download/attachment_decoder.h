#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "db/records.h"
#include "download/decoder.h"

namespace qs {

// Decodes the parts of one attachment: the first decoder that recognises a part (UU, then
// MIME base64, then yEnc) gets it and every part after it.
class AttachmentDecoder {
  public:
    AttachmentDecoder(const Attachment& entry, const Settings& settings);

    // Decodes one part. True when a yEnc part failed its check and is held back: fetch it
    // again, or keep it with KeepBadParts when no better copy can be had.
    bool Decode(const PartBody& body);
    void KeepBadParts();
    // Writes what the decoder still holds and closes the output file.
    void Finish();

    // True once a decoder recognised the data of a part.
    bool recognised() const { return chosen_ != nullptr; }
    // Why no decoder could create or write its file, when that happened.
    std::string output_error() const;
    int output_errno() const;
    // 1 after a part that no decoder recognised (while none has yet); after that, the
    // number of parts without data of the chosen encoding.
    int errors() const { return errors_; }
    const std::string& output_path() const { return path_; }
    bool write_failed() const { return chosen_ != nullptr && chosen_->write_failed(); }
    // Why the file written is not what was posted; "" when it is (see PartDecoder).
    std::string damage() const { return chosen_ ? chosen_->damage() : std::string(); }
    bool only_the_trailer_disagrees() const {
        return chosen_ != nullptr && chosen_->only_the_trailer_disagrees();
    }

  private:
    bool Detect(const PartBody& body);

    std::string directory_;
    std::vector<std::unique_ptr<PartDecoder>> candidates_;  // in the order they are tried
    PartDecoder* chosen_ = nullptr;
    int errors_ = 0;
    std::string path_;
};

}  // namespace qs
