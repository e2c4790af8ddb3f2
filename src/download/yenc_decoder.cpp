#include "download/yenc_decoder.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "app/debug_log.h"
#include "app/line_scan.h"
#include "download/crc32.h"
#include "download/yenc_body.h"

namespace qs {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The value of "key=" on an "=yend" line: decimal, or hexadecimal for the checksums.
std::optional<uint64_t> KeywordValue(std::string_view line, std::string_view key, bool hex) {
    for (size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
        if (at == 0 || (line[at - 1] != ' ' && line[at - 1] != '\t'))
            continue;
        size_t i = at + key.size();
        if (i >= line.size() || line[i] != '=')
            continue;
        ++i;
        if (hex && line.substr(i, 2) == "0x")
            i += 2;
        uint64_t value = 0;
        size_t digits = 0;
        for (; i < line.size() && digits < 16; ++i, ++digits) {
            char c = line[i];
            int d = (c >= '0' && c <= '9')        ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
            if (d < 0)
                break;
            value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        }
        if (digits == 0)
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string_view NameAfter(std::string_view line) {
    size_t at = line.find("name=");
    return at == std::string_view::npos ? std::string_view() : line.substr(at + 5);
}

}  // namespace

YencDecoder::YencDecoder(std::string subject, OutputNamer namer)
    : DecoderFrame(std::move(subject), std::move(namer)) {}

void YencDecoder::Reset() {
    ResetFrame();
    part_size_ = 0;
    parts_decoded_ = 0;
    total_bytes_ = 0;
    next_offset_ = 0;
    written_.clear();
    held_.clear();
    file_crc_.reset();
    file_size_ = 0;
    file_check_failed_ = false;
    file_crc_mismatch_ = false;
    declared_size_ = 0;
    unchecked_parts_ = 0;
}

DecodeOutcome YencDecoder::Start(std::string_view directory, const PartBody& body) {
    set_directory(directory);
    return Continue(body);
}

DecodeOutcome YencDecoder::Continue(const PartBody& body) {
    Attach(body);
    held_.clear();
    const int before = parts_decoded_;
    Header header;
    while (FindHeader(header)) {
        if (!output_open() && !OpenOutput("yDec"))
            break;
        DecodePart(header);
        if (!header.multipart)
            break;
    }
    if (!held_.empty())
        return DecodeOutcome::HeldBack;
    return parts_decoded_ > before ? DecodeOutcome::Decoded : DecodeOutcome::NotFound;
}

bool YencDecoder::FindHeader(Header& header) {
    std::string_view line;
    bool have = ReadLine(line);
    while (have) {
        int64_t v[4] = {0, 0, 0, 0};
        header = Header{};
        int plain = ScanNumbers(line, "=ybegin part=%d line=%d size=%d name=", v, 4);
        int with_total = 0;
        if (plain == 3) {
            header.part = v[0];
            header.line = v[1];
            header.size = v[2];
        } else {
            with_total = ScanNumbers(line, "=ybegin part=%d total=%d line=%d size=%d name=", v, 4);
            header.part = v[0];
            header.total = v[1];
            header.line = v[2];
            header.size = v[3];
        }
        if (plain == 3 || with_total >= 3) {
            NameOutput(NameAfter(line));
            if (!ReadLine(line))
                return false;
            int64_t range[2];
            if (ScanNumbers(line, "=ypart begin=%d end=%d", range, 2) == 2) {
                header.multipart = true;
                header.begin = range[0];
                header.end = range[1];
                return true;
            }
            continue;  // examine this line as a header of its own
        }
        if (ScanNumbers(line, "=ybegin line=%d size=%d name=", v, 2) == 2) {
            header = Header{};
            header.line = v[0];
            header.size = v[1];
            NameOutput(NameAfter(line));
            return true;
        }
        have = ReadLine(line);
    }
    return false;
}

uint8_t* YencDecoder::Room(size_t extra) {
    size_t need = part_size_ + extra;
    if (need > part_capacity_) {
        size_t capacity = std::max({need, part_capacity_ * 2, size_t{1} << 20});
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        if (part_size_ > 0)
            std::memcpy(grown.get(), part_.get(), part_size_);
        part_ = std::move(grown);
        part_capacity_ = capacity;
    }
    return part_.get() + part_size_;
}

namespace {

// How many bytes of `rest` (which starts at a line's start) are data lines: they end at the
// first line that starts with "=yend" (the trailer) or "=ybegin " (a next part without a
// trailer before it), or with the part.
size_t DataLinesSize(std::string_view rest) {
    auto ends_data = [](std::string_view from) {
        return StartsWith(from, "=yend") || StartsWith(from, "=ybegin ");
    };
    if (ends_data(rest))
        return 0;
    // Only a line that starts with "=" can end them.
    const char* begin = rest.data();
    const char* end = begin + rest.size();
    for (const char* at = begin;;) {
        const char* lf = FindLineFeedBefore(at, end, '=');
        if (lf == nullptr)
            return rest.size();
        const size_t line = static_cast<size_t>(lf + 1 - begin);
        if (ends_data(rest.substr(line)))
            return line;
        at = lf + 1;
    }
}

}  // namespace

void YencDecoder::DecodePart(const Header& header) {
    // The data lines are decoded in one run, straight from the body as it came.
    const std::string_view data_lines = Unread().substr(0, DataLinesSize(Unread()));
    StepOver(data_lines.size());
    uint32_t crc = 0;
    part_size_ = 0;  // Room counts from here
    part_size_ = DecodeYencBody(data_lines, Room(data_lines.size()), crc);
    std::string_view trailer;
    if (!AtEnd() && StartsWith(Unread(), "=yend"))
        ReadLine(trailer);

    const uint8_t* data = part_.get();
    const uint64_t size = part_size_;
    const int64_t part = header.multipart ? header.part : 1;
    bool bad = false;
    bool checked = false;  // a part crc vouched for these bytes
    if (header.size > 0 && static_cast<uint64_t>(header.size) > declared_size_)
        declared_size_ = static_cast<uint64_t>(header.size);
    if (trailer.empty()) {
        // A range that makes no sense (checked below) announces no length.
        int64_t expected = header.size;
        if (header.multipart)
            expected = header.begin >= 1 && header.end >= header.begin
                           ? header.end - (header.begin - 1)
                           : -1;
        if (expected >= 0 && size < static_cast<uint64_t>(expected)) {
            LogLine("yEnc part %" PRId64 " cut short: %" PRIu64 " of %" PRId64 " bytes\n", part,
                    size, expected);
            bad = true;
        }
    } else {
        auto end_size = KeywordValue(trailer, "size", false);
        auto end_part = KeywordValue(trailer, "part", false);
        auto pcrc = KeywordValue(trailer, "pcrc32", true);
        auto fcrc = KeywordValue(trailer, "crc32", true);
        if (end_size && *end_size != size) {
            LogLine("yEnc part %" PRId64 ": %" PRIu64 " bytes, =yend says %" PRIu64 "\n", part,
                    size, *end_size);
            bad = true;
        }
        if (header.multipart && end_part && static_cast<int64_t>(*end_part) != header.part) {
            LogLine("yEnc part %" PRId64 ": =yend names part %" PRIu64 "\n", part, *end_part);
            bad = true;
        }
        auto part_crc = pcrc ? pcrc : (header.multipart ? std::nullopt : fcrc);
        checked = part_crc.has_value();
        if (part_crc && static_cast<uint32_t>(*part_crc) != crc) {
            LogLine("yEnc part %" PRId64 ": crc32 %08x, =yend says %08x\n", part, crc,
                    static_cast<uint32_t>(*part_crc));
            bad = true;
        }
        if (header.multipart && fcrc && header.size > 0) {
            bool last = header.total > 0 ? header.part == header.total : header.end == header.size;
            if (last) {
                file_crc_ = static_cast<uint32_t>(*fcrc);
                file_size_ = static_cast<uint64_t>(header.size);
            }
        }
    }

    uint64_t offset = next_offset_;
    if (header.multipart) {
        if (header.begin < 1 || header.end < header.begin ||
            (header.size > 0 &&
             static_cast<uint64_t>(header.begin - 1) + size > static_cast<uint64_t>(header.size))) {
            LogLine("yEnc part %" PRId64 ": range %" PRId64 "-%" PRId64 " outside size %" PRId64
                    "\n",
                    part, header.begin, header.end, header.size);
            bad = true;
            offset = next_offset_;
        } else {
            offset = static_cast<uint64_t>(header.begin - 1);
        }
    }

    if (bad) {
        held_.push_back(Held{offset, crc, std::vector<uint8_t>(data, data + size)});
        return;
    }
    if (!checked)
        ++unchecked_parts_;
    Commit(offset, data, size, crc);
    if (!header.multipart)
        next_offset_ = offset + size;
}

void YencDecoder::Commit(uint64_t offset, const uint8_t* data, uint64_t size, uint32_t crc) {
    out_.WriteAt(offset, data, size);
    written_[offset] = Written{size, crc};
    ++parts_decoded_;
    total_bytes_ += size;
    if (file_crc_)
        CheckFile();
}

void YencDecoder::KeepBadParts() {
    for (Held& h : held_) {
        LogLine("yEnc: keeping a damaged part of %zu bytes at %" PRIu64 "\n", h.bytes.size(),
                h.offset);
        Commit(h.offset, h.bytes.data(), h.bytes.size(), h.crc);
        ++unchecked_parts_;
        if (h.offset == next_offset_)
            next_offset_ += h.bytes.size();
    }
    held_.clear();
}

void YencDecoder::CheckFile() {
    uint64_t covered = 0;
    uint32_t crc = 0;
    bool complete = true;
    for (const auto& [offset, w] : written_) {
        if (offset != covered) {
            complete = false;
            break;
        }
        crc = Crc32Combine(crc, w.crc, w.size);
        covered += w.size;
    }
    if (covered != file_size_)
        complete = false;
    file_check_failed_ = !complete || crc != *file_crc_;
    file_crc_mismatch_ = complete && crc != *file_crc_;
    if (!complete)
        LogLine("yEnc file incomplete: %" PRIu64 " of %" PRIu64 " bytes in sequence\n", covered,
                file_size_);
    else if (crc != *file_crc_)
        LogLine("yEnc file crc32 %08x, expected %08x\n", crc, *file_crc_);
}

std::string YencDecoder::damage() const {
    if (parts_decoded_ == 0)
        return {};
    if (file_crc_mismatch_)
        return "its whole-file CRC-32 does not match";
    if (total_bytes_ < declared_size_ || (file_check_failed_ && !file_crc_mismatch_)) {
        return "only " + std::to_string(total_bytes_) + " of " + std::to_string(declared_size_) +
               " bytes arrived";
    }
    return {};
}

bool YencDecoder::only_the_trailer_disagrees() const {
    return file_crc_mismatch_ && unchecked_parts_ == 0;
}

}  // namespace qs
