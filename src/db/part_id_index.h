#pragma once

// The parts of one attachment that a write transaction has seen, by a hash of their
// Message-ID: an article is stored once per attachment, and with the parts packed in runs
// (see db/part_runs.h) no SQLite key tells a repeat any more. Open addressing over the
// hashes; an entry refers to the packed part it stands for, and a caller-given test compares
// the actual Message-IDs, so two parts whose hashes collide are both kept. Clear keeps the
// room, so that an index can be used again.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qs {

class PartIdIndex {
  public:
    static uint64_t Hash(std::string_view message_id);

    // Adds `ref` under `hash` unless an entry of that hash refers to the same part, which
    // same(ref) tells; true when it was added.
    template <typename Same>
    bool Insert(uint64_t hash, uint64_t ref, Same&& same) {
        if ((used_ + 1) * 2 > slots_.size())
            Grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.ref == 0) {
                slot = {hash, ref + 1};
                ++used_;
                return true;
            }
            if (slot.hash == hash && same(slot.ref - 1))
                return false;
        }
    }
    void Clear();

  private:
    struct Slot {
        uint64_t hash = 0;
        uint64_t ref = 0;  // the caller's ref plus one; 0 is a free slot
    };
    void Grow();

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

}  // namespace qs
