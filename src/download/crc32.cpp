#include "download/crc32.h"

#include <zlib.h>

#ifdef QS_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace qs {

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
#ifdef QS_HAVE_ISAL
    // Same polynomial and conventions as zlib's crc32 (initial and final inversion).
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
#else
    const auto* bytes = static_cast<const Bytef*>(data);
    while (size > 0) {
        uInt chunk = size > (1U << 30) ? (1U << 30) : static_cast<uInt>(size);
        crc = static_cast<uint32_t>(::crc32(crc, bytes, chunk));
        bytes += chunk;
        size -= chunk;
    }
    return crc;
#endif
}

uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t size_b) {
    return static_cast<uint32_t>(::crc32_combine64(crc_a, crc_b, static_cast<z_off64_t>(size_b)));
}

}  // namespace qs
