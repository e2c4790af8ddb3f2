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

// Decodes one yEnc data line (line end and the first of two leading dots already
// removed) into `out`, which must have room for line.size() bytes. Returns the number of
// bytes written. An "=" at the very end of the line has nothing to escape and is dropped.
size_t DecodeYencLine(std::string_view line, uint8_t* out);

// Turns the yEnc parts of an attachment into one output file.
//
// Each part is decoded into memory and checked against its "=yend" line (size, part
// number, pcrc32; crc32 on a single-part post) before any byte reaches the file. A part
// that fails its check is held back and counted in Result::bad_parts, so part retrieval can
// fetch it again (the next Start drops the held copy) or, when no better copy can be had,
// write it anyway with KeepBadParts. Parts with "=ypart" are written at offset begin - 1,
// so a missing part leaves a hole of its size and a part fetched twice overwrites itself;
// parts without it follow one another. A whole-file crc32 on the last part is checked
// against the parts written (file_check_failed).
class YencDecoder : public DecoderFrame {
  public:
    struct Result {
        int parts_decoded = 0;  // parts written since creation or reset
        int bad_parts = 0;      // parts of these lines that failed their check (held back)
    };

    YencDecoder(std::string subject, OutputNamer namer);

    // Decodes every yEnc part found in `lines`; the output file (in `directory`) is opened
    // at the first header. parts_decoded 0 means nothing was recognised (yet).
    Result Start(std::string_view directory, const LineList& lines);
    // Writes the parts held back by the last Start.
    void KeepBadParts();
    // Closes the output file.
    void Close() { out_.Close(); }
    // Back to the state after creation; an open output file is closed.
    void Reset();

    int parts_decoded() const { return parts_decoded_; }
    uint64_t total_bytes() const { return total_bytes_; }
    // True when the last part's whole-file crc32 did not match the parts written, or the
    // parts written do not cover the announced size.
    bool file_check_failed() const { return file_check_failed_; }

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
    // Decodes the data lines of one part; returns false when the part was held back.
    bool DecodePart(const Header& header);
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
};

}  // namespace qs
