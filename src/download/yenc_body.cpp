#include "download/yenc_body.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "download/yenc_body_crc.h"
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qs {

namespace {

// Decodes from body[i] until i reaches `stop`.
inline void DecodeBodyBytes(const char* in, size_t n, size_t stop, size_t& i, uint8_t* out,
                            size_t& o, bool& escape) {
    while (i < stop) {
        const char c = in[i];
        if (c == '\n') {
            escape = false;
            ++i;
            continue;
        }
        if (c == '\r') {
            // Every carriage return at a line's end goes, not only the last.
            size_t end = i + 1;
            while (end < n && in[end] == '\r')
                ++end;
            if (end == n || in[end] == '\n') {
                escape = false;  // a lone "=" at the end of its line
                i = end;
                continue;
            }
        } else if (c == '.' && (i == 0 || in[i - 1] == '\n') && i + 1 < n && in[i + 1] == '.') {
            ++i;  // the dot the server doubled
            continue;
        }
        ++i;
        if (escape) {
            out[o++] = static_cast<uint8_t>(c - 106);
            escape = false;
        } else if (c == '=') {
            escape = true;
        } else {
            out[o++] = static_cast<uint8_t>(c - 42);
        }
    }
}

}  // namespace

void DecodeYencBodyScalar(std::string_view body, size_t& i, size_t stop, uint8_t* out, size_t& o,
                          bool& escape) {
    DecodeBodyBytes(body.data(), body.size(), stop, i, out, o, escape);
}

#if defined(__x86_64__)

namespace {

// The vector decoders take a block of 16 or 32 bytes and load it three times: at its
// place, one byte earlier and one byte later, so that comparing each load with "=", line
// feed, carriage return and dot says for every byte what it is and what is around it. The
// bytes to drop are each "=", line feeds and carriage returns; every byte loses 42 and one
// after an "=" another 64 (a byte after an "=" that ends its line is dropped anyway); the
// dropped ones are squeezed out. Two "=" in a row, where an "=" is itself escaped, and a
// carriage return not before a line feed (no encoder writes either) send the block to the
// byte loop, and so does a line that starts with a dot (one line in 256 at most, as encoders
// escape most of them), which may be one the server doubled.

// The vector blocks read escapes from the bytes, and the byte loop may leave i after an "="
// that was itself escaped: it goes on a byte at a time until the escape state is that of
// the byte before i again, or i reaches stop. Returns whether it is.
inline bool SyncEscape(const char* in, size_t n, size_t stop, size_t& i, uint8_t* out, size_t& o,
                       bool& escape) {
    if (i == 0)
        DecodeBodyBytes(in, n, std::min<size_t>(stop, 1), i, out, o, escape);
    while (i > 0 && i < stop && escape != (in[i - 1] == '='))
        DecodeBodyBytes(in, n, i + 1, i, out, o, escape);
    return i > 0 && escape == (in[i - 1] == '=');
}

// The byte loop over a block the vector code leaves to it (i > 0, escape state in sync).
inline bool DecodeBlockBytewise(const char* in, size_t n, size_t width, size_t stop, size_t& i,
                                uint8_t* out, size_t& o, bool& escape) {
    escape = in[i - 1] == '=';
    DecodeBodyBytes(in, n, i + width, i, out, o, escape);
    return SyncEscape(in, n, stop, i, out, o, escape);
}

// The shuffle that moves the bytes of 16 whose bit in the index is 0 to the front, for
// every index. 1 MiB, but the masks of real bodies have few bits set, so the entries in
// use stay in the first-level cache.
using LaneOrder = std::array<uint8_t, 16>;

const LaneOrder* LaneOrders() {
    static const std::unique_ptr<LaneOrder[]> table = [] {
        auto orders = std::make_unique<LaneOrder[]>(65536);
        for (unsigned mask = 0; mask < 65536; ++mask) {
            unsigned kept = 0;
            for (unsigned b = 0; b < 16; ++b)
                if (((mask >> b) & 1) == 0)
                    orders[mask][kept++] = static_cast<uint8_t>(b);
            for (; kept < 16; ++kept)
                orders[mask][kept] = 0x80;  // shuffles in a zero
        }
        return orders;
    }();
    return table.get();
}

// A block decoded but not yet squeezed: its bytes, 0xff where one is dropped, and 0xff
// where the block needs the byte loop.
struct Marked16 {
    __m128i bytes, drop, bad;
};

struct Marked32 {
    __m256i bytes, drop, bad;
};

// 0xff in each byte of x that is c.
__attribute__((target("ssse3"), always_inline)) inline __m128i Is16(__m128i x, char c) {
    return _mm_cmpeq_epi8(x, _mm_set1_epi8(c));
}

__attribute__((target("avx2"), always_inline)) inline __m256i Is32(__m256i x, char c) {
    return _mm256_cmpeq_epi8(x, _mm256_set1_epi8(c));
}

__attribute__((target("ssse3"), always_inline)) inline Marked16 Mark16(const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
    const __m128i eq = Is16(v, '='), cr = Is16(v, '\r'), escaped = Is16(prev, '=');
    const __m128i drop = _mm_or_si128(_mm_or_si128(eq, Is16(v, '\n')), cr);
    const __m128i bad = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(eq, escaped), _mm_andnot_si128(Is16(next, '\n'), cr)),
        _mm_and_si128(Is16(v, '.'), Is16(prev, '\n')));
    const __m128i bytes =
        _mm_sub_epi8(_mm_sub_epi8(v, _mm_set1_epi8(42)), _mm_and_si128(escaped, _mm_set1_epi8(64)));
    return {bytes, drop, bad};
}

__attribute__((target("avx2"), always_inline)) inline Marked32 Mark32(const char* at) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at - 1));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
    const __m256i eq = Is32(v, '='), cr = Is32(v, '\r'), escaped = Is32(prev, '=');
    const __m256i drop = _mm256_or_si256(_mm256_or_si256(eq, Is32(v, '\n')), cr);
    const __m256i bad = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(eq, escaped), _mm256_andnot_si256(Is32(next, '\n'), cr)),
        _mm256_and_si256(Is32(v, '.'), Is32(prev, '\n')));
    const __m256i bytes = _mm256_sub_epi8(_mm256_sub_epi8(v, _mm256_set1_epi8(42)),
                                          _mm256_and_si256(escaped, _mm256_set1_epi8(64)));
    return {bytes, drop, bad};
}

// Writes the bytes of `bytes` whose bit in `drop` is 0 to out + o and advances o (room for
// 16 bytes at out + o).
__attribute__((target("ssse3"), always_inline)) inline void Squeeze16(const LaneOrder* orders,
                                                                      __m128i bytes, unsigned drop,
                                                                      uint8_t* out, size_t& o) {
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(orders[drop].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(bytes, order));
    o += 16 - static_cast<unsigned>(__builtin_popcount(drop));
}

__attribute__((target("avx2,popcnt"), always_inline)) inline void Squeeze32(
    const LaneOrder* orders, __m256i bytes, uint32_t drop, uint8_t* out, size_t& o) {
    const unsigned low_drop = drop & 0xffff, high_drop = drop >> 16;
    const __m256i order = _mm256_inserti128_si256(
        _mm256_castsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(orders[low_drop].data()))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(orders[high_drop].data())), 1);
    const __m256i packed = _mm256_shuffle_epi8(bytes, order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_castsi256_si128(packed));
    o += 16 - static_cast<unsigned>(__builtin_popcount(low_drop));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_extracti128_si256(packed, 1));
    o += 16 - static_cast<unsigned>(__builtin_popcount(high_drop));
}

// Decodes the 16 bytes at in + i (0 < i, i + 16 < n, o <= i, escape state in sync), or
// returns false and leaves them to the byte loop.
__attribute__((target("ssse3"), always_inline)) inline bool BodyBlock16(const LaneOrder* orders,
                                                                        const char* in, size_t& i,
                                                                        uint8_t* out, size_t& o) {
    const Marked16 block = Mark16(in + i);
    if (_mm_movemask_epi8(block.bad) != 0)
        return false;
    // Room: o <= i and i + 16 < n.
    Squeeze16(orders, block.bytes, static_cast<unsigned>(_mm_movemask_epi8(block.drop)), out, o);
    i += 16;
    return true;
}

// The same for the 64 bytes at in + i (i + 64 < n).
__attribute__((target("avx2,popcnt"), always_inline)) inline bool BodyBlock64(
    const LaneOrder* orders, const char* in, size_t& i, uint8_t* out, size_t& o) {
    const Marked32 low = Mark32(in + i), high = Mark32(in + i + 32);
    const __m256i bad = _mm256_or_si256(low.bad, high.bad);
    if (!_mm256_testz_si256(bad, bad))
        return false;
    Squeeze32(orders, low.bytes, static_cast<uint32_t>(_mm256_movemask_epi8(low.drop)), out, o);
    Squeeze32(orders, high.bytes, static_cast<uint32_t>(_mm256_movemask_epi8(high.drop)), out, o);
    i += 64;
    return true;
}

// Where the vector blocks end: at stop, and a byte before the end of the body, as each
// block looks at the byte after it.
inline size_t VectorEnd(size_t n, size_t stop) {
    return n > 0 ? std::min(stop, n - 1) : 0;
}

__attribute__((target("ssse3"))) void DecodeYencBodySsse3(std::string_view body, size_t& i,
                                                          size_t stop, uint8_t* out, size_t& o,
                                                          bool& escape) {
    const char* in = body.data();
    const size_t n = body.size();
    // Positions in locals: the stores through `out` could otherwise alias them, and each
    // step would wait on a store and a reload.
    size_t at = i, written = o;
    bool synced = SyncEscape(in, n, stop, at, out, written, escape);
    const LaneOrder* orders = LaneOrders();
    const size_t end = VectorEnd(n, stop);
    while (synced && at + 16 <= end)
        if (!BodyBlock16(orders, in, at, out, written))
            synced = DecodeBlockBytewise(in, n, 16, stop, at, out, written, escape);
    if (synced)
        escape = in[at - 1] == '=';
    DecodeBodyBytes(in, n, stop, at, out, written, escape);
    i = at;
    o = written;
}

__attribute__((target("avx2,popcnt,ssse3"))) void DecodeYencBodyAvx2(std::string_view body,
                                                                     size_t& i, size_t stop,
                                                                     uint8_t* out, size_t& o,
                                                                     bool& escape) {
    const char* in = body.data();
    const size_t n = body.size();
    size_t at = i, written = o;  // in locals, as above
    bool synced = SyncEscape(in, n, stop, at, out, written, escape);
    const LaneOrder* orders = LaneOrders();
    const size_t end = VectorEnd(n, stop);
    while (synced && at + 64 <= end)
        if (!BodyBlock64(orders, in, at, out, written))
            synced = DecodeBlockBytewise(in, n, 64, stop, at, out, written, escape);
    while (synced && at + 16 <= end)
        if (!BodyBlock16(orders, in, at, out, written))
            synced = DecodeBlockBytewise(in, n, 16, stop, at, out, written, escape);
    if (synced)
        escape = in[at - 1] == '=';
    DecodeBodyBytes(in, n, stop, at, out, written, escape);
    i = at;
    o = written;
}

}  // namespace

#endif  // __x86_64__

std::span<const YencBodyDecoderChoice> AvailableYencBodyDecoders() {
    static const std::vector<YencBodyDecoderChoice> choices = [] {
        std::vector<YencBodyDecoderChoice> found = {{"scalar", DecodeYencBodyScalar}};
#if defined(__x86_64__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("ssse3"))
            found.push_back({"ssse3", DecodeYencBodySsse3});
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
            found.push_back({"avx2", DecodeYencBodyAvx2});
#endif
        return found;
    }();
    return choices;
}

size_t DecodeYencBody(YencBodyDecoder decode, std::string_view body, uint8_t* out, uint32_t& crc) {
    // A slice's output is checksummed while it is still in the first-level cache.
    constexpr size_t kSlice = 16 * 1024;
    size_t i = 0, o = 0;
    bool escape = false;
    while (i < body.size()) {
        const size_t before = o;
        decode(body, i, std::min(body.size(), i + kSlice), out, o, escape);
        crc = Crc32Wide(crc, out + before, o - before);
    }
    return o;
}

size_t DecodeYencBody(std::string_view body, uint8_t* out, uint32_t& crc) {
    static const YencBodyDecoder fastest = AvailableYencBodyDecoders().back().decode;
    return DecodeYencBody(fastest, body, out, crc);
}

}  // namespace qs
