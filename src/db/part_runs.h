#pragma once

// The parts of an attachment are stored in runs: one MessageVars row holds the parts that
// one transaction added to one attachment (up to kRunParts of them), packed one after the
// other. A scan adds thousands of parts a second, and SQLite's cost is per row: one row per
// run instead of one per part is most of a scan's write time saved.
//
// A run has two forms.
// - Plain, the form a merge holds an attachment's stored parts in: each part is the
//   Message-ID's length and bytes, then ArticleId, lines, bytes and partnum, each number as
//   a variable-length integer (7 bits a byte, low bits first, the sign folded into the
//   lowest bit). A part can be read at its offset, and plain runs laid end to end read as
//   one. Files of earlier builds store their runs in this form.
// - Stored, the form written to the file: kStoredMark, then each part against the one before
//   it in the run. Its Message-ID is the length of the start and of the end it shares with
//   the one before, then the length and bytes of what lies between; its numbers are their
//   differences from those of the part before. The parts of one post share most of their
//   Message-IDs and numbers, so a run takes about a third less room, and the file with it.
// A plain run never starts with kStoredMark (a length folds to an even first byte), so a
// reader tells the two forms apart by their first byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qs::part_runs {

inline constexpr int kRunParts = 1024;
inline constexpr char kStoredMark = 0x01;
// Only a Message-ID up to this size passes its start and end on to the next part: reading a
// part never copies more than this from the one before.
inline constexpr size_t kMaxSharedId = 512;

struct PackedPart {
    std::string_view message_id;
    int64_t article_id = 0;
    int64_t lines = 0;
    int64_t bytes = 0;
    int partnum = 1;
};

// Appends `part` to a plain run.
void Append(std::string& run, const PackedPart& part);

// Appends `part` to a stored run; `previous` is the part before it in the run, or null for
// the run's first part, which also writes the mark.
void AppendStored(std::string& run, const PackedPart& part, const PackedPart* previous);

// The Message-ID of the part packed at `offset` of a plain run (which Append's caller noted).
std::string_view MessageIdAt(std::string_view runs, size_t offset);

// Reads the parts of a run of either form in order. A stored run is file contents: a
// malformed one ends the reading with ok() false instead of being trusted. The Message-ID
// of a part read from a stored run lasts until the next call of Next.
class Reader {
  public:
    explicit Reader(std::string_view run);
    // The next part, and for a plain run where it starts; false at the end or at a
    // malformed part.
    bool Next(PackedPart& out, size_t* offset = nullptr);
    bool ok() const { return ok_; }

  private:
    bool ReadNumber(int64_t& out);
    bool ReadLength(size_t& out);
    bool NextPlain(PackedPart& out);
    bool NextStored(PackedPart& out);

    std::string_view data_;
    size_t pos_ = 0;
    bool ok_ = true;
    bool stored_ = false;
    // A stored run's part before the next: its Message-ID and numbers.
    std::string id_, next_id_;
    PackedPart previous_{{}, 0, 0, 0, 0};
};

// Packs parts into stored runs of up to kRunParts parts each, one run after another in one
// buffer: the parts a transaction adds to one attachment.
class RunBuilder {
  public:
    void Add(const PackedPart& part);
    size_t parts() const { return parts_; }
    size_t runs() const { return runs_.size(); }
    std::string_view run(size_t index) const;
    int64_t highest(size_t index) const { return runs_[index].highest; }
    // Whether the part added as the `ordinal`-th has the Message-ID `id`; reads its run from
    // the start, at most kRunParts parts.
    bool HasMessageId(size_t ordinal, std::string_view id) const;
    size_t capacity() const { return bytes_.capacity(); }
    // Empties it, keeping the buffers.
    void Clear();

  private:
    struct Run {
        size_t start = 0;     // where its bytes begin
        int64_t highest = 0;  // its highest ArticleId (0 at the least)
    };
    std::string bytes_;
    std::vector<Run> runs_;
    size_t parts_ = 0;
    // The last part added, which the next is packed against (its Message-ID in last_id_).
    std::string last_id_;
    PackedPart last_;
};

}  // namespace qs::part_runs
