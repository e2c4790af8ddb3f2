#include "db/part_runs.h"

#include <algorithm>
#include <limits>

namespace qs::part_runs {
namespace {

void AppendNumber(std::string& out, int64_t value) {
    // Zigzag: small negative numbers stay short too.
    uint64_t v = (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
    char buffer[10];
    size_t n = 0;
    while (v >= 0x80) {
        buffer[n++] = static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    buffer[n++] = static_cast<char>(v);
    out.append(buffer, n);
}

// Differences wrap around, so that any two numbers have one.
int64_t Difference(int64_t value, int64_t from) {
    return static_cast<int64_t>(static_cast<uint64_t>(value) - static_cast<uint64_t>(from));
}
int64_t Sum(int64_t from, int64_t difference) {
    return static_cast<int64_t>(static_cast<uint64_t>(from) + static_cast<uint64_t>(difference));
}

constexpr PackedPart kRunStart{{}, 0, 0, 0, 0};

}  // namespace

void Append(std::string& run, const PackedPart& part) {
    AppendNumber(run, static_cast<int64_t>(part.message_id.size()));
    run.append(part.message_id);
    AppendNumber(run, part.article_id);
    AppendNumber(run, part.lines);
    AppendNumber(run, part.bytes);
    AppendNumber(run, part.partnum);
}

void AppendStored(std::string& run, const PackedPart& part, const PackedPart* previous) {
    if (!previous) {
        run += kStoredMark;
        previous = &kRunStart;
    }
    const std::string_view id = part.message_id, before = previous->message_id;
    size_t start = 0, end = 0;
    if (before.size() <= kMaxSharedId) {
        const size_t most = std::min(id.size(), before.size());
        while (start < most && id[start] == before[start])
            ++start;
        while (end < most - start && id[id.size() - 1 - end] == before[before.size() - 1 - end])
            ++end;
    }
    const size_t between = id.size() - start - end;
    AppendNumber(run, static_cast<int64_t>(start));
    AppendNumber(run, static_cast<int64_t>(end));
    AppendNumber(run, static_cast<int64_t>(between));
    run.append(id.substr(start, between));
    AppendNumber(run, Difference(part.article_id, previous->article_id));
    AppendNumber(run, Difference(part.lines, previous->lines));
    AppendNumber(run, Difference(part.bytes, previous->bytes));
    AppendNumber(run, int64_t{part.partnum} - previous->partnum);
}

std::string_view MessageIdAt(std::string_view runs, size_t offset) {
    Reader reader(runs.substr(offset < runs.size() ? offset : runs.size()));
    PackedPart part;
    return reader.Next(part) ? part.message_id : std::string_view();
}

Reader::Reader(std::string_view run) : data_(run) {
    stored_ = !data_.empty() && data_[0] == kStoredMark;
    if (stored_)
        pos_ = 1;
}

bool Reader::ReadNumber(int64_t& out) {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (pos_ >= data_.size())
            return false;
        const auto byte = static_cast<unsigned char>(data_[pos_++]);
        v |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (byte < 0x80) {
            out = static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
            return true;
        }
    }
    return false;  // more than ten bytes
}

// A length: not negative, and no longer than what is left of the run.
bool Reader::ReadLength(size_t& out) {
    int64_t n = 0;
    if (!ReadNumber(n) || n < 0 || static_cast<uint64_t>(n) > data_.size() - pos_)
        return false;
    out = static_cast<size_t>(n);
    return true;
}

bool Reader::Next(PackedPart& out, size_t* offset) {
    if (!ok_ || pos_ >= data_.size())
        return false;
    const size_t start = pos_;
    ok_ = stored_ ? NextStored(out) : NextPlain(out);
    if (ok_ && offset)
        *offset = start;
    return ok_;
}

bool Reader::NextPlain(PackedPart& out) {
    size_t id_size = 0;
    int64_t partnum = 0;
    if (!ReadLength(id_size))
        return false;
    out.message_id = data_.substr(pos_, id_size);
    pos_ += id_size;
    if (!ReadNumber(out.article_id) || !ReadNumber(out.lines) || !ReadNumber(out.bytes) ||
        !ReadNumber(partnum) || partnum < std::numeric_limits<int>::min() ||
        partnum > std::numeric_limits<int>::max())
        return false;
    out.partnum = static_cast<int>(partnum);
    return true;
}

bool Reader::NextStored(PackedPart& out) {
    // The shared start and end are counts of the previous Message-ID's bytes, which a
    // length check against the rest of the run does not bound: check them against it.
    int64_t start = 0, end = 0, article = 0, lines = 0, bytes = 0, partnum = 0;
    size_t between = 0;
    if (!ReadNumber(start) || !ReadNumber(end) || start < 0 || end < 0 ||
        static_cast<uint64_t>(start) > id_.size() ||
        static_cast<uint64_t>(end) > id_.size() - static_cast<size_t>(start) ||
        (start + end > 0 && id_.size() > kMaxSharedId) || !ReadLength(between))
        return false;
    next_id_.assign(id_, 0, static_cast<size_t>(start));
    next_id_.append(data_.substr(pos_, between));
    next_id_.append(id_, id_.size() - static_cast<size_t>(end), static_cast<size_t>(end));
    id_.swap(next_id_);
    pos_ += between;
    if (!ReadNumber(article) || !ReadNumber(lines) || !ReadNumber(bytes) || !ReadNumber(partnum))
        return false;
    // Any difference of two ints lies within 2^32 either way; the sum then fits in 64 bits.
    constexpr int64_t kIntSpan = int64_t{1} << 32;
    if (partnum < -kIntSpan || partnum > kIntSpan)
        return false;
    partnum += previous_.partnum;
    if (partnum < std::numeric_limits<int>::min() || partnum > std::numeric_limits<int>::max())
        return false;
    previous_ = PackedPart{id_, Sum(previous_.article_id, article), Sum(previous_.lines, lines),
                           Sum(previous_.bytes, bytes), static_cast<int>(partnum)};
    out = previous_;
    return true;
}

void RunBuilder::Add(const PackedPart& part) {
    const bool first = parts_ % kRunParts == 0;
    if (first)
        runs_.push_back(Run{bytes_.size(), 0});
    // The builder may have moved since the last part: its Message-ID is pointed to anew.
    last_.message_id = last_id_;
    AppendStored(bytes_, part, first ? nullptr : &last_);
    runs_.back().highest = std::max(runs_.back().highest, part.article_id);
    last_id_.assign(part.message_id);
    last_ = part;
    ++parts_;
}

std::string_view RunBuilder::run(size_t index) const {
    const size_t end = index + 1 < runs_.size() ? runs_[index + 1].start : bytes_.size();
    return std::string_view(bytes_).substr(runs_[index].start, end - runs_[index].start);
}

bool RunBuilder::HasMessageId(size_t ordinal, std::string_view id) const {
    if (ordinal >= parts_)
        return false;
    Reader reader(run(ordinal / kRunParts));
    PackedPart part;
    for (size_t i = 0; i <= ordinal % kRunParts; ++i)
        if (!reader.Next(part))
            return false;
    return part.message_id == id;
}

void RunBuilder::Clear() {
    bytes_.clear();
    runs_.clear();
    parts_ = 0;
}

}  // namespace qs::part_runs
