#pragma once

// The parts of an attachment are stored in runs: one MessageVars row holds the parts that
// one transaction added to one attachment (up to kRunParts of them), packed one after the
// other. A scan adds thousands of parts a second, and SQLite's cost is per row: one row per
// run instead of one per part is most of a scan's write time saved.
//
// A packed part: the Message-ID's length and bytes, then ArticleId, lines, bytes and
// partnum, each number as a variable-length integer (7 bits a byte, low bits first, the
// sign folded into the lowest bit).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::part_runs {

inline constexpr int kRunParts = 1024;

struct PackedPart {
    std::string_view message_id;
    int64_t article_id = 0;
    int64_t lines = 0;
    int64_t bytes = 0;
    int partnum = 1;
};

void Append(std::string& run, const PackedPart& part);

// The Message-ID of the part packed at `offset` (which Append's caller noted).
std::string_view MessageIdAt(std::string_view runs, size_t offset);

// Reads the parts of a run (or of runs laid end to end) in order. A stored run is file
// contents: a malformed one ends the reading with ok() false instead of being trusted.
class Reader {
  public:
    explicit Reader(std::string_view runs) : data_(runs) {}
    // The next part, and where it starts; false at the end or at a malformed part.
    bool Next(PackedPart& out, size_t* offset = nullptr);
    bool ok() const { return ok_; }

  private:
    bool ReadNumber(int64_t& out);

    std::string_view data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace qs::part_runs
