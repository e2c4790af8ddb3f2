#include "app/line_scan.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>
#endif

namespace qs {

namespace {

const char* FindLineFeedBeforeBytewise(const char* at, const char* end, char next) {
    for (; end - at > 1; ++at)
        if (at[0] == '\n' && at[1] == next)
            return at;
    return nullptr;
}

#if defined(__x86_64__)

// Sixteen positions a step: the line feeds among them, and the byte after each.
const char* FindLineFeedBeforeSse2(const char* at, const char* end, char next) {
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i want = _mm_set1_epi8(next);
    while (end - at > 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
        const int hits =
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, lf), _mm_cmpeq_epi8(after, want)));
        if (hits != 0)
            return at + __builtin_ctz(static_cast<unsigned>(hits));
        at += 16;
    }
    return FindLineFeedBeforeBytewise(at, end, next);
}

__attribute__((target("avx2"), always_inline)) inline uint32_t Equal32(__m256i bytes, __m256i of) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, of)));
}

__attribute__((target("avx2"), always_inline)) inline __m256i Load32(const char* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Sixty-four positions a step.
__attribute__((target("avx2"))) const char* FindLineFeedBeforeAvx2(const char* at, const char* end,
                                                                   char next) {
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i want = _mm256_set1_epi8(next);
    while (end - at > 64) {
        const uint64_t feeds =
            Equal32(Load32(at), lf) | static_cast<uint64_t>(Equal32(Load32(at + 32), lf)) << 32;
        const uint64_t afters = Equal32(Load32(at + 1), want) |
                                static_cast<uint64_t>(Equal32(Load32(at + 33), want)) << 32;
        if ((feeds & afters) != 0)
            return at + __builtin_ctzll(feeds & afters);
        at += 64;
    }
    return FindLineFeedBeforeSse2(at, end, next);
}

using Finder = const char* (*)(const char*, const char*, char);

Finder Fastest() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return FindLineFeedBeforeAvx2;
    return FindLineFeedBeforeSse2;
}

#endif  // __x86_64__

}  // namespace

const char* FindLineFeedBefore(const char* begin, const char* end, char next) {
#if defined(__x86_64__)
    static const Finder fastest = Fastest();
    return fastest(begin, end, next);
#else
    return FindLineFeedBeforeBytewise(begin, end, next);
#endif
}

}  // namespace qs
