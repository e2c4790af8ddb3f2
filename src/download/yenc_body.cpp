#include "download/yenc_body.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "download/crc32.h"
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

// The vector decoders take a block of 16 or 32 bytes. Comparisons give bit masks of its
// "=", line feeds, carriage returns and dots; with the byte before the block and the byte
// after it, plain integer operations on those masks find the bytes to drop (each "=", line
// feeds, a carriage return before a line feed, a doubled dot at a line's start) and the
// escaped ones (after an "=", unless the line ends there). Every byte loses 42 and an
// escaped one another 64; the dropped ones are squeezed out. Two "=" in a row and a run
// of carriage returns, which no encoder writes, go to the byte loop.
struct BlockPlan {
    uint64_t drop = 0;
    uint64_t escaped = 0;
    uint32_t open = 0;  // 1 when the byte after the block is escaped
    bool bytewise = false;
};

// Masks of a `width`-byte block; `before` and `after` are the bytes around it.
inline BlockPlan PlanBlock(uint64_t eq, uint64_t lf, uint64_t cr, uint64_t dot, char before,
                           char after, unsigned width, uint32_t open) {
    BlockPlan plan;
    const unsigned top = width - 1;
    const uint64_t next_cr = (cr >> 1) | (uint64_t{after == '\r'} << top);
    if ((eq & ((eq << 1) | open)) != 0 || (cr & next_cr) != 0) {
        plan.bytewise = true;
        return plan;
    }
    const uint64_t next_lf = (lf >> 1) | (uint64_t{after == '\n'} << top);
    const uint64_t next_dot = (dot >> 1) | (uint64_t{after == '.'} << top);
    const uint64_t prev_lf = (lf << 1) | uint64_t{before == '\n'};
    const uint64_t line_end = lf | (cr & next_lf);
    const uint64_t mask = width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
    plan.drop = (eq | line_end | (dot & prev_lf & next_dot)) & mask;
    plan.escaped = ((eq << 1) | open) & ~line_end & mask;
    plan.open = static_cast<uint32_t>(eq >> top);
    return plan;
}

// The byte loop over a block the vector code leaves to it.
inline void DecodeBlockBytewise(const char* in, size_t n, size_t width, size_t& i, uint8_t* out,
                                size_t& o, uint32_t& open) {
    bool escape = open != 0;
    DecodeBodyBytes(in, n, i + width, i, out, o, escape);
    open = escape;
}

// One bit for each byte of v that is c.
__attribute__((target("ssse3"), always_inline)) inline uint32_t Bits16(__m128i v, char c) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

__attribute__((target("avx2"), always_inline)) inline uint32_t Bits32(__m256i v, char c) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(c))));
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

// One 0xff byte for each bit of the low 16 bits of `mask`.
__attribute__((target("ssse3"), always_inline)) inline __m128i Spread16(uint32_t mask) {
    const __m128i spread = _mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(mask)),
                                            _mm_set_epi64x(0x0101010101010101, 0));
    const __m128i bit = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201));
    return _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit);
}

// The same for the 32 bits of `mask`.
__attribute__((target("avx2"), always_inline)) inline __m256i Spread32(uint32_t mask) {
    // The shuffle stays within each 16-byte half, and every 4 bytes of the broadcast hold
    // the whole mask, so each half picks its two mask bytes from its own copy.
    const __m256i spread = _mm256_shuffle_epi8(
        _mm256_set1_epi32(static_cast<int>(mask)),
        _mm256_set_epi64x(0x0303030303030303, 0x0202020202020202, 0x0101010101010101, 0));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201));
    return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
}

// Decodes the 16 bytes at in + i (0 < i, i + 16 < n, o <= i).
__attribute__((target("ssse3"), always_inline)) inline void BodyBlock16(const char* in, size_t n,
                                                                        size_t& i, uint8_t* out,
                                                                        size_t& o, uint32_t& open) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const uint32_t eq = Bits16(v, '='), lf = Bits16(v, '\n'), cr = Bits16(v, '\r'),
                   dot = Bits16(v, '.');
    const BlockPlan plan = PlanBlock(eq, lf, cr, dot, in[i - 1], in[i + 16], 16, open);
    if (plan.bytewise) {
        DecodeBlockBytewise(in, n, 16, i, out, o, open);
        return;
    }
    const uint32_t drop = static_cast<uint32_t>(plan.drop);
    const __m128i bytes = _mm_sub_epi8(
        _mm_sub_epi8(v, _mm_set1_epi8(42)),
        _mm_and_si128(Spread16(static_cast<uint32_t>(plan.escaped)), _mm_set1_epi8(64)));
    const __m128i order =
        _mm_load_si128(reinterpret_cast<const __m128i*>(LaneOrders()[drop].data()));
    // Room: o <= i and i + 16 < n.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_shuffle_epi8(bytes, order));
    o += 16 - static_cast<unsigned>(__builtin_popcount(drop));
    i += 16;
    open = plan.open;
}

// Decodes 32 bytes `v`, escaped where `escaped` says, dropping where `drop` says, to out + o.
__attribute__((target("avx2,popcnt"), always_inline)) inline void Squeeze32(
    const LaneOrder* orders, __m256i v, uint32_t escaped, uint32_t drop, uint8_t* out, size_t& o) {
    const __m256i bytes =
        _mm256_sub_epi8(_mm256_sub_epi8(v, _mm256_set1_epi8(42)),
                        _mm256_and_si256(Spread32(escaped), _mm256_set1_epi8(64)));
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

// Decodes the 64 bytes at in + i (0 < i, i + 64 < n, o <= i): one plan for two vectors.
__attribute__((target("avx2,popcnt"), always_inline)) inline void BodyBlock64(
    const LaneOrder* orders, const char* in, size_t n, size_t& i, uint8_t* out, size_t& o,
    uint32_t& open) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32));
    auto join = [](uint32_t low, uint32_t high) { return low | (uint64_t{high} << 32); };
    const uint64_t eq = join(Bits32(v0, '='), Bits32(v1, '='));
    const uint64_t lf = join(Bits32(v0, '\n'), Bits32(v1, '\n'));
    const uint64_t cr = join(Bits32(v0, '\r'), Bits32(v1, '\r'));
    const uint64_t dot = join(Bits32(v0, '.'), Bits32(v1, '.'));
    const BlockPlan plan = PlanBlock(eq, lf, cr, dot, in[i - 1], in[i + 64], 64, open);
    if (plan.bytewise) {
        DecodeBlockBytewise(in, n, 64, i, out, o, open);
        return;
    }
    Squeeze32(orders, v0, static_cast<uint32_t>(plan.escaped), static_cast<uint32_t>(plan.drop),
              out, o);
    Squeeze32(orders, v1, static_cast<uint32_t>(plan.escaped >> 32),
              static_cast<uint32_t>(plan.drop >> 32), out, o);
    i += 64;
    open = plan.open;
}

// The first byte has none before it to look at: the byte loop takes it.
inline void DecodeFirstByte(const char* in, size_t n, size_t& i, size_t stop, uint8_t* out,
                            size_t& o, bool& escape) {
    if (i == 0)
        DecodeBodyBytes(in, n, std::min<size_t>(stop, 1), i, out, o, escape);
}

__attribute__((target("ssse3"))) void DecodeYencBodySsse3(std::string_view body, size_t& i,
                                                          size_t stop, uint8_t* out, size_t& o,
                                                          bool& escape) {
    const char* in = body.data();
    const size_t n = body.size();
    DecodeFirstByte(in, n, i, stop, out, o, escape);
    uint32_t open = escape;
    while (i + 16 <= stop && i + 16 < n)
        BodyBlock16(in, n, i, out, o, open);
    escape = open != 0;
    DecodeBodyBytes(in, n, stop, i, out, o, escape);
}

__attribute__((target("avx2,popcnt,ssse3"))) void DecodeYencBodyAvx2(std::string_view body,
                                                                     size_t& i, size_t stop,
                                                                     uint8_t* out, size_t& o,
                                                                     bool& escape) {
    const char* in = body.data();
    const size_t n = body.size();
    DecodeFirstByte(in, n, i, stop, out, o, escape);
    uint32_t open = escape;
    const LaneOrder* orders = LaneOrders();
    while (i + 64 <= stop && i + 64 < n)
        BodyBlock64(orders, in, n, i, out, o, open);
    while (i + 16 <= stop && i + 16 < n)
        BodyBlock16(in, n, i, out, o, open);
    escape = open != 0;
    DecodeBodyBytes(in, n, stop, i, out, o, escape);
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
        crc = Crc32(crc, out + before, o - before);
    }
    return o;
}

size_t DecodeYencBody(std::string_view body, uint8_t* out, uint32_t& crc) {
    static const YencBodyDecoder fastest = AvailableYencBodyDecoders().back().decode;
    return DecodeYencBody(fastest, body, out, crc);
}

}  // namespace qs
