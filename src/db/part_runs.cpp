#include "db/part_runs.h"

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

}  // namespace

void Append(std::string& run, const PackedPart& part) {
    AppendNumber(run, static_cast<int64_t>(part.message_id.size()));
    run.append(part.message_id);
    AppendNumber(run, part.article_id);
    AppendNumber(run, part.lines);
    AppendNumber(run, part.bytes);
    AppendNumber(run, part.partnum);
}

std::string_view MessageIdAt(std::string_view runs, size_t offset) {
    Reader reader(runs.substr(offset < runs.size() ? offset : runs.size()));
    PackedPart part;
    return reader.Next(part) ? part.message_id : std::string_view();
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

bool Reader::Next(PackedPart& out, size_t* offset) {
    if (!ok_ || pos_ >= data_.size())
        return false;
    const size_t start = pos_;
    int64_t id_size = 0, partnum = 0;
    ok_ = ReadNumber(id_size) && id_size >= 0 &&
          static_cast<uint64_t>(id_size) <= data_.size() - pos_;
    if (ok_) {
        out.message_id = data_.substr(pos_, static_cast<size_t>(id_size));
        pos_ += static_cast<size_t>(id_size);
        ok_ = ReadNumber(out.article_id) && ReadNumber(out.lines) && ReadNumber(out.bytes) &&
              ReadNumber(partnum) && partnum >= std::numeric_limits<int>::min() &&
              partnum <= std::numeric_limits<int>::max();
    }
    if (!ok_)
        return false;
    out.partnum = static_cast<int>(partnum);
    if (offset)
        *offset = start;
    return true;
}

}  // namespace qs::part_runs
