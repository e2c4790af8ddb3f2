#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/decoder.h"

namespace qs {

// Turns the yEnc parts of an attachment into one output file.
//
// Each part is decoded into memory and checked against its "=yend" line (size, part
// number, pcrc32; crc32 on a single-part post) before any byte reaches the file. A part
// that fails its check is held back (DecodeOutcome::HeldBack), so part retrieval can fetch it
// again (the next Start or Continue drops the held copy) or, when no better copy can be
// had, write it anyway with KeepBadParts. Parts with "=ypart" are written at offset begin - 1,
// so a missing part leaves a hole of its size and a part fetched twice overwrites itself;
// parts without it follow one another. A whole-file crc32 on the last part is checked
// against the parts written (file_check_failed).
class YencDecoder final : public DecoderFrame {
  public:
    YencDecoder(std::string subject, OutputNamer namer);

    // Decodes every yEnc part found in `lines`; the output file (in `directory`) is opened
    // at the first header. HeldBack when any of these parts failed its check, else Decoded
    // when one was written, else NotFound.
    DecodeOutcome Start(std::string_view directory, const PartBody& body) override;
    // The same for a later part, in the directory Start was given.
    DecodeOutcome Continue(const PartBody& body) override;
    void KeepBadParts() override;
    // Closes the output file.
    void Finish() override { out_.Close(); }
    void Reset() override;

    // Parts written since creation or reset.
    int parts_decoded() const { return parts_decoded_; }
    // Parts the last Start or Continue held back.
    int held_parts() const { return static_cast<int>(held_.size()); }
    uint64_t total_bytes() const { return total_bytes_; }
    // True when the last part's whole-file crc32 did not match the parts written, or the
    // parts written do not cover the announced size.
    bool file_check_failed() const { return file_check_failed_; }
    std::string damage() const override;
    bool only_the_trailer_disagrees() const override;

  private:
    struct Header {
        bool multipart = false;
        int64_t part = 0, total = 0, line = 0, size = 0, begin = 0, end = 0;
    };
    struct Written {
        uint64_t size;
        uint32_t crc;
    };
    struct Held {
        uint64_t offset;
        uint32_t crc;
        std::vector<uint8_t> bytes;
    };

    bool FindHeader(Header& header);
    // Decodes the data lines of one part and writes it, or holds it back when it fails its
    // check.
    void DecodePart(const Header& header);
    void Commit(uint64_t offset, const uint8_t* data, uint64_t size, uint32_t crc);
    void CheckFile();
    uint8_t* Room(size_t extra);

    std::unique_ptr<uint8_t[]> part_;
    size_t part_size_ = 0;
    size_t part_capacity_ = 0;

    int parts_decoded_ = 0;
    uint64_t total_bytes_ = 0;
    uint64_t next_offset_ = 0;  // where a part without "=ypart" goes
    std::map<uint64_t, Written> written_;
    std::vector<Held> held_;
    std::optional<uint32_t> file_crc_;
    uint64_t file_size_ = 0;
    bool file_check_failed_ = false;
    bool file_crc_mismatch_ = false;  // the parts cover the file, and its crc32 differs
    uint64_t declared_size_ = 0;      // the largest size= a header announced
    int unchecked_parts_ = 0;         // written without a part crc, or kept damaged
};

}  // namespace qs
