#pragma once

// Small readers with the exact matching rules of the C library's formatted input, for
// parsing server replies, overview fields and encoder headers without NUL-terminated
// copies or locale dependence. ReadInt is the one reader of decimal numbers. Each reader
// starts at `pos`, advances it past what it consumed and returns false on a mismatch
// (the caller then stops, as a formatted read stops at its first failed directive).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace qs::scanf_reader {

// The "C" locale's white space, which %d, %s and a blank directive skip.
inline bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline void SkipSpace(std::string_view text, size_t& pos) {
    while (pos < text.size() && IsSpace(text[pos]))
        ++pos;
}

// %d: optional white space, an optional sign, then at least one decimal digit. A value
// beyond the range of Int saturates at its limit (the C library leaves that undefined).
template <typename Int>
bool ReadInt(std::string_view text, size_t& pos, Int& value) {
    static_assert(std::numeric_limits<Int>::is_signed);
    size_t p = pos;
    SkipSpace(text, p);
    bool negative = false;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
        negative = text[p] == '-';
        ++p;
    }
    if (p >= text.size() || !IsDigit(text[p]))
        return false;
    // The magnitude of the most negative value is one more than the maximum.
    const uint64_t cap = static_cast<uint64_t>(std::numeric_limits<Int>::max()) + 1;
    // Up to 19 digits fit in 64 bits unchecked; leading zeros do not count.
    while (p + 1 < text.size() && text[p] == '0' && IsDigit(text[p + 1]))
        ++p;
    const size_t end = std::min(text.size(), p + 19);
    uint64_t magnitude = 0;
    for (; p < end && IsDigit(text[p]); ++p)
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[p] - '0');
    if (p < text.size() && IsDigit(text[p])) {
        magnitude = cap;
        while (p < text.size() && IsDigit(text[p]))
            ++p;
    }
    magnitude = std::min(magnitude, cap);
    if (negative) {
        value = magnitude >= cap ? std::numeric_limits<Int>::min()
                                 : static_cast<Int>(-static_cast<int64_t>(magnitude));
    } else {
        value = magnitude >= cap ? std::numeric_limits<Int>::max() : static_cast<Int>(magnitude);
    }
    pos = p;
    return true;
}

// %s: optional white space, then one or more characters up to the next white space.
inline bool ReadWord(std::string_view text, size_t& pos, std::string_view& word) {
    size_t p = pos;
    SkipSpace(text, p);
    size_t start = p;
    while (p < text.size() && !IsSpace(text[p]))
        ++p;
    if (p == start)
        return false;
    word = text.substr(start, p - start);
    pos = p;
    return true;
}

// An ordinary character of the format: must be the very next character.
inline bool ReadLiteral(std::string_view text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

}  // namespace qs::scanf_reader
