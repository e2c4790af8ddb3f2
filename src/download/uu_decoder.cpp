#include "download/uu_decoder.h"

#include <cstdint>
#include <cstring>

#include "app/debug_log.h"

namespace qs {

namespace {

inline unsigned Sixbit(char c) {
    return (static_cast<unsigned char>(c) - 32u) & 63u;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// True when `text` holds a byte of 0x61..0x7f (lower-case letters, "{|}~", DEL), which no
// uuencoded data uses. Data lines must be read whole, so eight bytes are tested at a time:
// adding 0x1f to a byte's low seven bits sets its top bit from 0x61 up, without a carry
// into the next byte, and the byte's own top bit must be clear.
bool HasLowerCase(std::string_view text) {
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    constexpr uint64_t kAdd = 0x1f1f1f1f1f1f1f1fULL;
    constexpr uint64_t kTop = 0x8080808080808080ULL;
    size_t k = 0;
    for (; k + 8 <= text.size(); k += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + k, sizeof word);
        if (((word & kLow7) + kAdd) & ~word & kTop)
            return true;
    }
    for (; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c >= 0x61 && c <= 0x7f)
            return true;
    }
    return false;
}

}  // namespace

size_t DecodeUuLine(std::string_view line, uint8_t* out) {
    if (line.substr(0, 2) == "..")
        line.remove_prefix(1);
    if (line.empty())
        return 0;
    unsigned n = Sixbit(line[0]);
    const char* p = line.data() + 1;
    const char* end = line.data() + line.size();
    size_t o = 0;
    // Full groups.
    while (n >= 3 && end - p >= 4) {
        unsigned a = Sixbit(p[0]), b = Sixbit(p[1]), c = Sixbit(p[2]), d = Sixbit(p[3]);
        out[o] = static_cast<uint8_t>(a << 2 | b >> 4);
        out[o + 1] = static_cast<uint8_t>(b << 4 | c >> 2);
        out[o + 2] = static_cast<uint8_t>(c << 6 | d);
        o += 3;
        p += 4;
        n -= 3;
    }
    // The last group: as many bytes as announced and present (2 characters hold 1 byte,
    // 3 hold 2, 4 hold 3).
    if (n > 0 && p < end) {
        size_t have = static_cast<size_t>(std::min<ptrdiff_t>(end - p, 4));
        unsigned v[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < have; ++k)
            v[k] = Sixbit(p[k]);
        size_t bytes = std::min<size_t>({n, 3, have > 0 ? have - 1 : 0});
        if (bytes > 0)
            out[o++] = static_cast<uint8_t>(v[0] << 2 | v[1] >> 4);
        if (bytes > 1)
            out[o++] = static_cast<uint8_t>(v[1] << 4 | v[2] >> 2);
        if (bytes > 2)
            out[o++] = static_cast<uint8_t>(v[2] << 6 | v[3]);
    }
    return o;
}

UuDecoder::UuDecoder(std::string subject, OutputNamer namer)
    : DecoderFrame(std::move(subject), std::move(namer)) {}

void UuDecoder::Reset() {
    ResetFrame();
    standard_length_ = 0;
    first_line_ = true;
    last_good_ = last_false_ = line_number_ = 0;
    held_.clear();
}

bool UuDecoder::FindBegin() {
    std::string_view line;
    while (ReadLine(line)) {
        // "begin", blanks, an octal mode, at least one blank, a name.
        if (line.substr(0, 5) != "begin")
            continue;
        size_t i = 5;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i < line.size() && (line[i] == '+' || line[i] == '-'))
            ++i;
        size_t digits = i;
        while (i < line.size() && line[i] >= '0' && line[i] <= '7')
            ++i;
        if (i == digits)
            continue;
        size_t blanks = i;
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i == blanks)
            continue;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            continue;
        NameOutput(line.substr(i));
        return true;
    }
    return false;
}

DecodeOutcome UuDecoder::Start(std::string_view directory, const PartBody& body) {
    set_directory(directory);
    Attach(body);
    if (!FindBegin())
        return DecodeOutcome::NotFound;
    if (!output_open() && !OpenOutput("UUDecode"))
        return DecodeOutcome::NotFound;
    DecodeLines();
    return DecodeOutcome::Decoded;
}

DecodeOutcome UuDecoder::Continue(const PartBody& body) {
    Attach(body);
    DecodeLines();
    return DecodeOutcome::Decoded;
}

void UuDecoder::DecodeLines() {
    std::string_view line;
    while (ReadLine(line)) {
        ++line_number_;
        const int length = static_cast<int>(line.size());
        if (first_line_) {
            standard_length_ = length;
            first_line_ = false;
        }
        // Text, such as the "end" line, has lower-case letters within the length that
        // its first character announces.
        int n = line.empty() ? -32 : static_cast<unsigned char>(line[0]) - 32;
        int expected = 1 + 4 * (n / 3) + (n % 3 == 0 ? 0 : n % 3 + 1);
        if (expected > 1 && HasLowerCase(line.substr(0, static_cast<size_t>(expected - 1))))
            continue;
        if (length != standard_length_) {
            if (length < standard_length_ && length > 0 && line != "`") {
                LogLine("lastline: %s\n", held_.c_str());
                held_.assign(line);
            }
            last_false_ = line_number_;
            continue;
        }
        last_good_ = line_number_;
        DecodeLine(line);
    }
    LogLine("lastgood: %d lastfalse: %d\n", last_good_, last_false_);
    LogLine("UUDecode errors: %d\n", 0);
}

void UuDecoder::DecodeLine(std::string_view line) {
    uint8_t buffer[1024];
    if (line.size() <= sizeof buffer) {
        out_.Write(buffer, DecodeUuLine(line, buffer));
        return;
    }
    std::string big(line.size(), '\0');
    auto* out = reinterpret_cast<uint8_t*>(big.data());
    out_.Write(out, DecodeUuLine(line, out));
}

void UuDecoder::Finish() {
    if (last_good_ < last_false_ && !held_.empty()) {
        LogLine("decoding last line: %s\n", held_.c_str());
        DecodeLine(held_);
    }
    held_.clear();
    out_.Close();
}

}  // namespace qs
