#pragma once

#include <cstddef>
#include <cstdint>

namespace qs {

// CRC-32 (the zlib/yEnc polynomial, reflected). Continue a running value by passing it as
// `crc`; start with 0. Uses ISA-L's folding implementation when it is available.
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// The CRC-32 of A followed by B, from the CRC of A, the CRC of B and B's length.
uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t size_b);

}  // namespace qs
