#include "download/yenc_body_crc.h"

#include "download/crc32.h"
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qs {

#if defined(__x86_64__)

namespace {

// Folding, as in the published carry-less multiply method: bytes are the coefficients of a
// polynomial, highest first, with bit 0 of a byte the highest of its eight (the CRC's
// reflected order). Sixteen bytes A are moved d bits further on by multiplying their two
// halves with x^(64 + d) and x^d modulo the CRC polynomial and adding (xor) the products
// to the sixteen bytes found there; that keeps the message's remainder. Eight lanes of
// sixteen bytes move 1024 bits a step, are folded into one at the end, and the library
// takes the CRC of those sixteen bytes and of the tail.

// x^e modulo the CRC polynomial, its 32 coefficients reversed into the top of 64 bits
// (where a multiply by a reversed operand puts them; the product comes out one degree
// short, hence the e - 1 below).
constexpr uint64_t ReversedPowerModP(unsigned e) {
    uint64_t r = 1;
    for (unsigned k = 0; k < e; ++k) {
        r <<= 1;
        if ((r >> 32) != 0)
            r ^= 0x104C11DB7;
    }
    uint64_t reversed = 0;
    for (unsigned b = 0; b < 32; ++b)
        if (((r >> b) & 1) != 0)
            reversed |= uint64_t{1} << (63 - b);
    return reversed;
}

// The multipliers that move each 16-byte half of a vector `bits` further on.
template <unsigned bits>
__attribute__((target("avx2"), always_inline)) inline __m256i FoldBy() {
    constexpr uint64_t low = ReversedPowerModP(64 + bits - 1), high = ReversedPowerModP(bits - 1);
    return _mm256_set_epi64x(static_cast<long long>(high), static_cast<long long>(low),
                             static_cast<long long>(high), static_cast<long long>(low));
}

// Each 16-byte half of x moved on by what `by` was made for (not yet added to anything).
__attribute__((target("avx2,vpclmulqdq"), always_inline)) inline __m256i Fold(__m256i x,
                                                                              __m256i by) {
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, by, 0x00),
                            _mm256_clmulepi64_epi128(x, by, 0x11));
}

__attribute__((target("avx2"), always_inline)) inline __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2,vpclmulqdq,pclmul"))) uint32_t Crc32Fold256(uint32_t crc,
                                                                        const uint8_t* p,
                                                                        size_t size) {
    // The register's starting value is the complement of the CRC so far, added to the
    // first four bytes.
    __m256i a0 =
        _mm256_xor_si256(Load32(p), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(~crc)));
    __m256i a1 = Load32(p + 32), a2 = Load32(p + 64), a3 = Load32(p + 96);
    const __m256i by1024 = FoldBy<1024>();
    size_t at = 128;
    for (; at + 128 <= size; at += 128) {
        a0 = _mm256_xor_si256(Fold(a0, by1024), Load32(p + at));
        a1 = _mm256_xor_si256(Fold(a1, by1024), Load32(p + at + 32));
        a2 = _mm256_xor_si256(Fold(a2, by1024), Load32(p + at + 64));
        a3 = _mm256_xor_si256(Fold(a3, by1024), Load32(p + at + 96));
    }
    const __m256i pair =
        _mm256_xor_si256(_mm256_xor_si256(Fold(a0, FoldBy<768>()), Fold(a1, FoldBy<512>())),
                         _mm256_xor_si256(Fold(a2, FoldBy<256>()), a3));
    const __m128i by128 = _mm256_castsi256_si128(FoldBy<128>());
    const __m128i first = _mm256_castsi256_si128(pair);
    const __m128i last = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(first, by128, 0x00),
                                                     _mm_clmulepi64_si128(first, by128, 0x11)),
                                       _mm256_extracti128_si256(pair, 1));
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), last);
    // Those sixteen bytes have the remainder of all before them; their CRC from a zero
    // register (the complement of ~0 going in) is the CRC so far.
    crc = Crc32(~uint32_t{0}, rest, sizeof rest);
    return Crc32(crc, p + at, size - at);
}

bool HaveFold256() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq") &&
           __builtin_cpu_supports("pclmul");
}

}  // namespace

uint32_t Crc32Wide(uint32_t crc, const void* data, size_t size) {
    static const bool fold256 = HaveFold256();
    // Below two steps the library is as quick.
    if (fold256 && size >= 256)
        return Crc32Fold256(crc, static_cast<const uint8_t*>(data), size);
    return Crc32(crc, data, size);
}

#else

uint32_t Crc32Wide(uint32_t crc, const void* data, size_t size) {
    return Crc32(crc, data, size);
}

#endif  // __x86_64__

}  // namespace qs
