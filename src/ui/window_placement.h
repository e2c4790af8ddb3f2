#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qs::ui {

inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

// The saved window placement: the 44-byte record of the settings file (length, flags,
// show state, minimised and maximised positions, the normal rectangle), little-endian.
struct WindowPlacement {
    int32_t flags = 0;
    int32_t show_state = 0;  // 0: nothing saved
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

std::vector<uint8_t> EncodePlacement(const WindowPlacement& placement);
// False when the record is not 44 bytes long.
bool DecodePlacement(const std::vector<uint8_t>& bytes, WindowPlacement& placement);

}  // namespace qs::ui
