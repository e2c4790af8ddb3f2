#pragma once

#include <cstddef>
#include <cstdint>

namespace qs {

// Crc32 (same value, same conventions), folding 128 bytes a step with 256-bit carry-less
// multiplies where the CPU has them (about twice the speed of Crc32 on AVX2 machines, for
// which the CRC library has no such path), else Crc32 itself.
uint32_t Crc32Wide(uint32_t crc, const void* data, size_t size);

}  // namespace qs
