#include "db/part_id_index.h"

#include <algorithm>
#include <functional>

namespace qs {

uint64_t PartIdIndex::Hash(std::string_view message_id) {
    return std::hash<std::string_view>{}(message_id);
}

void PartIdIndex::Clear() {
    if (used_ == 0)
        return;
    std::fill(slots_.begin(), slots_.end(), Slot{});
    used_ = 0;
}

void PartIdIndex::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.ref == 0)
            continue;
        size_t i = slot.hash & mask;
        while (slots_[i].ref != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

}  // namespace qs
