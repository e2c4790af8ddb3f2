// The runs of packed parts a header database stores in MessageVars, read back from a file
// that may be damaged or written by someone else. Input: the bytes of one run.
//
// Invariants: reading never leaves the input and always ends; every part read lies within
// the input, packs again into bytes that read back as the same part, and MessageIdAt finds
// its Message-ID at the offset the reader gave; a run that reads to its end without error
// reads the same when its parts are packed again one after another.

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

bool Same(const PackedPart& a, const PackedPart& b) {
    return a.message_id == b.message_id && a.article_id == b.article_id && a.lines == b.lines &&
           a.bytes == b.bytes && a.partnum == b.partnum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Reader reader(input);
    std::vector<PackedPart> parts;
    std::string packed;
    PackedPart part;
    size_t offset = 0, last_offset = 0;
    while (reader.Next(part, &offset)) {
        QS_FUZZ_CHECK(offset < input.size() && (parts.empty() || offset > last_offset));
        QS_FUZZ_CHECK(qs::part_runs::MessageIdAt(input, offset) == part.message_id);
        last_offset = offset;
        std::string one;
        qs::part_runs::Append(one, part);
        // Packed again, numbers take their shortest form: never more than the input held.
        QS_FUZZ_CHECK(offset + one.size() <= input.size());
        Reader again(one);
        PackedPart back;
        size_t at = 1;
        QS_FUZZ_CHECK(again.Next(back, &at) && at == 0 && Same(back, part));
        QS_FUZZ_CHECK(!again.Next(back) && again.ok());
        parts.push_back(part);
        packed += one;
    }
    if (reader.ok()) {
        Reader again(packed);
        for (const PackedPart& expected : parts)
            QS_FUZZ_CHECK(again.Next(part) && Same(part, expected));
        QS_FUZZ_CHECK(!again.Next(part) && again.ok());
    }
    return 0;
}
