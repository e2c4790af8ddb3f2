#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qs {

// Decoding the data lines of a yEnc part as one run of bytes, the way they came in the
// article body, instead of line by line. The result is that of splitting `body` at each
// line feed, dropping the carriage returns at a line's end and the first of two leading
// dots, and decoding each line alone: every byte less 42, a byte after "=" less 106 and
// the "=" dropped, a lone "=" at a line's end dropped. `body` starts at the start of a
// line; its last line needs no line feed.

// Decodes body[i, stop) into out + o and advances both; a carriage return run that ends a
// line may take i past stop. `escape` says that body[i] follows an "=" and is updated.
// `out` has room for body.size() bytes (bytes past the final o may be overwritten).
using YencBodyDecoder = void (*)(std::string_view body, size_t& i, size_t stop, uint8_t* out,
                                 size_t& o, bool& escape);

struct YencBodyDecoderChoice {
    const char* name;
    YencBodyDecoder decode;
};

// The plain byte-at-a-time decoder: runs everywhere, and the others are checked against it.
void DecodeYencBodyScalar(std::string_view body, size_t& i, size_t stop, uint8_t* out, size_t& o,
                          bool& escape);

// The decoders this CPU can run, the plain one first and the fastest last.
std::span<const YencBodyDecoderChoice> AvailableYencBodyDecoders();

// Decodes all of `body` into `out` (room for body.size() bytes) with `decode`, and returns
// the number of bytes written. The CRC-32 of those bytes is continued in `crc`, a slice at
// a time while the slice is still in the cache.
size_t DecodeYencBody(YencBodyDecoder decode, std::string_view body, uint8_t* out, uint32_t& crc);

// The same with the fastest decoder this CPU can run.
size_t DecodeYencBody(std::string_view body, uint8_t* out, uint32_t& crc);

}  // namespace qs
