#include "ui/window_placement.h"

namespace qs::ui {

namespace {

constexpr size_t kRecordSize = 44;

void Put(std::vector<uint8_t>& out, size_t at, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (size_t i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(bits >> (8 * i));
}

int32_t Get(const std::vector<uint8_t>& in, size_t at) {
    uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

}  // namespace

std::vector<uint8_t> EncodePlacement(const WindowPlacement& placement) {
    std::vector<uint8_t> out(kRecordSize, 0);
    Put(out, 0, static_cast<int32_t>(kRecordSize));
    Put(out, 4, placement.flags);
    Put(out, 8, placement.show_state);
    for (size_t at : {12u, 16u, 20u, 24u})
        Put(out, at, -1);  // minimised and maximised positions: the system's choice
    Put(out, 28, placement.left);
    Put(out, 32, placement.top);
    Put(out, 36, placement.right);
    Put(out, 40, placement.bottom);
    return out;
}

bool DecodePlacement(const std::vector<uint8_t>& bytes, WindowPlacement& placement) {
    if (bytes.size() != kRecordSize)
        return false;
    placement.flags = Get(bytes, 4);
    placement.show_state = Get(bytes, 8);
    placement.left = Get(bytes, 28);
    placement.top = Get(bytes, 32);
    placement.right = Get(bytes, 36);
    placement.bottom = Get(bytes, 40);
    return true;
}

}  // namespace qs::ui
