#include "download/yenc_simd.h"

#include <array>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qs {

namespace {

// Decodes from in[i] until i reaches `stop` (an escape at stop - 1 takes it one past), in a
// line of n bytes.
inline void DecodeBytes(const char* in, size_t n, size_t stop, size_t& i, uint8_t* out, size_t& o) {
    while (i < stop) {
        char c = in[i++];
        if (c == '=') {
            if (i >= n)
                break;
            out[o++] = static_cast<uint8_t>(in[i++] - 106);
        } else {
            out[o++] = static_cast<uint8_t>(c - 42);
        }
    }
}

}  // namespace

size_t DecodeYencLineScalar(std::string_view line, uint8_t* out) {
    size_t i = 0, o = 0;
    DecodeBytes(line.data(), line.size(), line.size(), i, out, o);
    return o;
}

#if defined(__x86_64__)

namespace {

// The vector decoders take a block of 16 or 32 bytes at a time. Every byte loses 42, and a
// byte after an "=" another 64; the "=" bytes are then squeezed out eight bytes at a time,
// with a byte shuffle looked up by which of the eight were "=". Two "=" in a row (which no
// encoder writes: an escaped byte is never "=") are left to the byte loop, so within a
// block every "=" is an escape. Blocks always advance by their full width, an escape open
// at the end carried into the next one, so that no load waits for the block before it.

struct GroupSqueeze {
    // Byte i of order[mask] is the index of the i-th byte of eight whose bit in mask is 0.
    std::array<uint64_t, 256> order;
    std::array<uint8_t, 256> kept;
};

constexpr GroupSqueeze MakeGroupSqueeze() {
    GroupSqueeze t{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        uint64_t order = 0;
        unsigned kept = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (((mask >> b) & 1) == 0)
                order |= uint64_t{b} << (8 * kept++);
        t.order[mask] = order;
        t.kept[mask] = static_cast<uint8_t>(kept);
    }
    return t;
}

alignas(64) constexpr GroupSqueeze kSqueeze = MakeGroupSqueeze();

// A shuffle index for the upper eight bytes of a 16-byte lane.
constexpr long long kUpperGroup = 0x0808080808080808;

size_t DecodeYencLineSse2(std::string_view line, uint8_t* out) {
    const char* in = line.data();
    const size_t n = line.size();
    size_t i = 0, o = 0;
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i offset = _mm_set1_epi8(42);
    while (i + 16 <= n) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        // Room: o <= i and i + 16 <= n, so 16 bytes at o stay inside the caller's buffer.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_sub_epi8(v, offset));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, equals)));
        if (mask == 0) {
            i += 16;
            o += 16;
            continue;
        }
        // No shuffle before SSSE3: keep the bytes up to the first escape, decode it alone.
        unsigned skip = static_cast<unsigned>(__builtin_ctz(mask));
        i += skip;
        o += skip;
        DecodeBytes(in, n, i + 1, i, out, o);
    }
    DecodeBytes(in, n, n, i, out, o);
    return o;
}

// Stores the upper eight bytes of v at an address of any alignment.
__attribute__((always_inline)) inline void StoreUpperEight(uint8_t* at, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_unpackhi_epi64(v, v));
}

// Decodes the escaped byte of an "=" that ended the last block, when there was one and the
// line goes on after it.
inline void CloseEscape(const char* in, size_t n, size_t& i, uint8_t* out, size_t& o,
                        unsigned& open) {
    if (open != 0 && i < n)
        out[o++] = static_cast<uint8_t>(in[i++] - 106);
    open = 0;
}

// Decodes the `width` bytes at in + i byte by byte, after an escape left open.
inline void DecodeBlockBytes(const char* in, size_t n, size_t width, size_t& i, uint8_t* out,
                             size_t& o, unsigned& open) {
    const size_t stop = i + width;
    CloseEscape(in, n, i, out, o, open);
    DecodeBytes(in, n, stop, i, out, o);
}

// Decodes the 16 bytes at in + i (o <= i, i + 16 <= n). `last_equals` flags the "=" of the
// block before, `open` is 1 when its last byte was one. False, with nothing done, when the
// bytes hold "==", also across the start.
__attribute__((target("ssse3"), always_inline)) inline bool Decode16(const char* in, size_t& i,
                                                                     uint8_t* out, size_t& o,
                                                                     __m128i& last_equals,
                                                                     unsigned& open) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i is_equals = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    const unsigned equals = static_cast<unsigned>(_mm_movemask_epi8(is_equals));
    if ((equals & ((equals << 1) | open)) != 0)
        return false;
    const __m128i escaped = _mm_alignr_epi8(is_equals, last_equals, 15);
    const __m128i bytes =
        _mm_sub_epi8(_mm_sub_epi8(v, _mm_set1_epi8(42)), _mm_and_si128(escaped, _mm_set1_epi8(64)));
    const unsigned m0 = equals & 0xff, m1 = equals >> 8;
    const __m128i order = _mm_set_epi64x(static_cast<long long>(kSqueeze.order[m1]) + kUpperGroup,
                                         static_cast<long long>(kSqueeze.order[m0]));
    const __m128i packed = _mm_shuffle_epi8(bytes, order);
    // Each store writes eight bytes at most eight past o, still inside the block's room.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), packed);
    StoreUpperEight(out + o + kSqueeze.kept[m0], packed);
    o += kSqueeze.kept[m0] + kSqueeze.kept[m1];
    i += 16;
    last_equals = is_equals;
    open = equals >> 15;
    return true;
}

__attribute__((target("ssse3"))) size_t DecodeYencLineSsse3(std::string_view line, uint8_t* out) {
    const char* in = line.data();
    const size_t n = line.size();
    size_t i = 0, o = 0;
    __m128i last_equals = _mm_setzero_si128();
    unsigned open = 0;
    while (i + 16 <= n)
        if (!Decode16(in, i, out, o, last_equals, open)) {
            DecodeBlockBytes(in, n, 16, i, out, o, open);
            last_equals = _mm_setzero_si128();
        }
    CloseEscape(in, n, i, out, o, open);
    DecodeBytes(in, n, n, i, out, o);
    return o;
}

// Decode16 for 32 bytes.
__attribute__((target("avx2,popcnt"), always_inline)) inline bool Decode32(
    const char* in, size_t& i, uint8_t* out, size_t& o, __m256i& last_equals, unsigned& open) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i is_equals = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('='));
    const unsigned equals = static_cast<unsigned>(_mm256_movemask_epi8(is_equals));
    if ((equals & ((equals << 1) | open)) != 0)
        return false;
    // The flags one byte up, across the middle: [last high, low] joined with [low, high].
    const __m256i before = _mm256_permute2x128_si256(last_equals, is_equals, 0x21);
    const __m256i escaped = _mm256_alignr_epi8(is_equals, before, 15);
    const __m256i bytes = _mm256_sub_epi8(_mm256_sub_epi8(v, _mm256_set1_epi8(42)),
                                          _mm256_and_si256(escaped, _mm256_set1_epi8(64)));
    const unsigned m0 = equals & 0xff, m1 = (equals >> 8) & 0xff, m2 = (equals >> 16) & 0xff,
                   m3 = equals >> 24;
    // The shuffle stays within each 16-byte half, so each half packs its own two groups.
    const __m256i order =
        _mm256_set_epi64x(static_cast<long long>(kSqueeze.order[m3]) + kUpperGroup,
                          static_cast<long long>(kSqueeze.order[m2]),
                          static_cast<long long>(kSqueeze.order[m1]) + kUpperGroup,
                          static_cast<long long>(kSqueeze.order[m0]));
    const __m256i packed = _mm256_shuffle_epi8(bytes, order);
    const __m128i low = _mm256_castsi256_si128(packed);
    const __m128i high = _mm256_extracti128_si256(packed, 1);
    const size_t o1 = o + kSqueeze.kept[m0];
    const size_t o2 = o1 + kSqueeze.kept[m1];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), low);
    StoreUpperEight(out + o1, low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o2), high);
    StoreUpperEight(out + o2 + kSqueeze.kept[m2], high);
    o += 32 - static_cast<unsigned>(__builtin_popcount(equals));
    i += 32;
    last_equals = is_equals;
    open = equals >> 31;
    return true;
}

__attribute__((target("avx2,popcnt"))) size_t DecodeYencLineAvx2(std::string_view line,
                                                                 uint8_t* out) {
    const char* in = line.data();
    const size_t n = line.size();
    size_t i = 0, o = 0;
    __m256i last_equals = _mm256_setzero_si256();
    unsigned open = 0;
    while (i + 32 <= n)
        if (!Decode32(in, i, out, o, last_equals, open)) {
            DecodeBlockBytes(in, n, 32, i, out, o, open);
            last_equals = _mm256_setzero_si256();
        }
    __m128i last_high = _mm256_extracti128_si256(last_equals, 1);
    if (i + 16 <= n && !Decode16(in, i, out, o, last_high, open))
        DecodeBlockBytes(in, n, 16, i, out, o, open);
    CloseEscape(in, n, i, out, o, open);
    DecodeBytes(in, n, n, i, out, o);
    return o;
}

}  // namespace

#endif  // __x86_64__

std::span<const YencLineDecoderChoice> AvailableYencLineDecoders() {
    static const std::vector<YencLineDecoderChoice> choices = [] {
        std::vector<YencLineDecoderChoice> found = {{"scalar", DecodeYencLineScalar}};
#if defined(__x86_64__)
        __builtin_cpu_init();
        found.push_back({"sse2", DecodeYencLineSse2});
        if (__builtin_cpu_supports("ssse3"))
            found.push_back({"ssse3", DecodeYencLineSsse3});
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
            found.push_back({"avx2", DecodeYencLineAvx2});
#endif
        return found;
    }();
    return choices;
}

YencLineDecoder FastestYencLineDecoder() {
    return AvailableYencLineDecoders().back().decode;
}

}  // namespace qs
