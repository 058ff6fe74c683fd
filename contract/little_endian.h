// Little-endian numbers in byte buffers, as every on-disk layout of this
// project stores them (the payload, the cache record, the launcher's data
// section, the PE files the packer writes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace little_endian {

// The `bytes`-wide number at `p` (1 to 8 bytes).
inline uint64_t read(const unsigned char* p, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = bytes; i-- > 0;) value = (value << 8) | p[i];
  return value;
}

// Writes the low `bytes` bytes of `value` at `p`.
inline void write(unsigned char* p, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace little_endian
