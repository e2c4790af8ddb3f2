#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qs {

// One way of decoding a yEnc data line, with the contract of DecodeYencLine: the line end
// and a leading doubled dot already removed, `out` has room for line.size() bytes (bytes
// past the returned length may be overwritten), a lone "=" at the very end is dropped.
using YencLineDecoder = size_t (*)(std::string_view line, uint8_t* out);

struct YencLineDecoderChoice {
    const char* name;
    YencLineDecoder decode;
};

// The plain byte-at-a-time decoder: runs everywhere, and the others are checked against it.
size_t DecodeYencLineScalar(std::string_view line, uint8_t* out);

// The decoders this CPU can run, the plain one first and the fastest last.
std::span<const YencLineDecoderChoice> AvailableYencLineDecoders();

// The fastest decoder this CPU can run.
YencLineDecoder FastestYencLineDecoder();

}  // namespace qs
