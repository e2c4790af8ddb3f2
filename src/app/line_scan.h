#pragma once

#include <cstddef>

namespace qs {

// The first line feed in [begin, end) that the byte `next` follows, or nullptr. A line feed
// in the last byte has no byte after it to look at and is never found. Finds the lines that
// start with a given byte in a large text without stopping at every line: a dot-terminated
// block's end, a yEnc trailer.
const char* FindLineFeedBefore(const char* begin, const char* end, char next);

}  // namespace qs
