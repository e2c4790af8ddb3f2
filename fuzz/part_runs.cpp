// The runs of packed parts a header database stores in MessageVars, read back from a file
// that may be damaged or written by someone else. Input: the bytes of one run, of either
// form (a first byte of 1 makes it the stored form).
//
// Invariants: reading never leaves the input and always ends; every part of a plain run lies
// within the input, packs again into bytes that read back as the same part, and MessageIdAt
// finds its Message-ID at the offset the reader gave; a run that reads to its end without
// error reads the same when its parts are packed again, in either form or run by run.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/part_runs.h"
#include "fuzz_support.h"

namespace {

using qs::part_runs::PackedPart;
using qs::part_runs::Reader;

struct Part {
    std::string message_id;
    int64_t article_id, lines, bytes;
    int partnum;
    PackedPart packed() const { return {message_id, article_id, lines, bytes, partnum}; }
};

bool Same(const PackedPart& a, const Part& b) {
    return a.message_id == b.message_id && a.article_id == b.article_id && a.lines == b.lines &&
           a.bytes == b.bytes && a.partnum == b.partnum;
}

void ExpectParts(const std::string& run, const std::vector<Part>& parts) {
    Reader reader(run);
    PackedPart part;
    for (const Part& expected : parts)
        QS_FUZZ_CHECK(reader.Next(part) && Same(part, expected));
    QS_FUZZ_CHECK(!reader.Next(part) && reader.ok());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const bool stored = size > 0 && input[0] == qs::part_runs::kStoredMark;
    Reader reader(input);
    std::vector<Part> parts;
    PackedPart part;
    size_t offset = 0, last_offset = 0;
    while (reader.Next(part, &offset)) {
        QS_FUZZ_CHECK(offset < input.size() && (parts.empty() || offset > last_offset));
        last_offset = offset;
        parts.push_back(
            {std::string(part.message_id), part.article_id, part.lines, part.bytes, part.partnum});
        std::string one;
        qs::part_runs::Append(one, part);
        ExpectParts(one, {parts.back()});
        if (!stored) {
            QS_FUZZ_CHECK(qs::part_runs::MessageIdAt(input, offset) == part.message_id);
            // Packed again, numbers take their shortest form: never more than the input held.
            QS_FUZZ_CHECK(offset + one.size() <= input.size());
        }
    }
    if (reader.ok()) {
        std::string plain, packed;
        for (size_t i = 0; i < parts.size(); ++i) {
            const PackedPart previous = i > 0 ? parts[i - 1].packed() : PackedPart{};
            qs::part_runs::Append(plain, parts[i].packed());
            qs::part_runs::AppendStored(packed, parts[i].packed(), i > 0 ? &previous : nullptr);
        }
        ExpectParts(plain, parts);
        ExpectParts(packed, parts);
        // Built run by run, as a merge collects them: the runs read back in turn, and every
        // part is found by its place.
        qs::part_runs::RunBuilder builder;
        for (const Part& p : parts)
            builder.Add(p.packed());
        QS_FUZZ_CHECK(builder.parts() == parts.size());
        size_t next = 0;
        for (size_t i = 0; i < builder.runs(); ++i) {
            const size_t end = std::min(parts.size(), next + qs::part_runs::kRunParts);
            ExpectParts(std::string(builder.run(i)),
                        std::vector<Part>(parts.begin() + static_cast<ptrdiff_t>(next),
                                          parts.begin() + static_cast<ptrdiff_t>(end)));
            next = end;
        }
        QS_FUZZ_CHECK(next == parts.size());
        for (size_t k = 0; k < parts.size(); ++k)
            QS_FUZZ_CHECK(builder.HasMessageId(k, parts[k].message_id));
    }
    return 0;
}
