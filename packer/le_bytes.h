// Little-endian numbers in byte strings, for the file formats the packer
// writes and reads (icons, resources, PE headers), through the one codec of
// contract/little_endian.h.
#pragma once

#include <cstdint>
#include <string>

#include "contract/little_endian.h"

namespace onefile_pack {

inline const unsigned char* bytes_at(const std::string& b, size_t at) {
  return reinterpret_cast<const unsigned char*>(b.data()) + at;
}
inline uint16_t get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(little_endian::read(bytes_at(b, at), 2));
}
inline uint32_t get32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(little_endian::read(bytes_at(b, at), 4));
}
// Overwrites the `width` bytes at `at`.
inline void set_le(std::string& b, size_t at, uint64_t v, size_t width) {
  little_endian::write(reinterpret_cast<unsigned char*>(&b[at]), v, width);
}
inline void set32(std::string& b, size_t at, uint32_t v) { set_le(b, at, v, 4); }
inline void set16(std::string& b, size_t at, uint16_t v) { set_le(b, at, v, 2); }
// Appends `v`, `width` bytes wide.
inline void put_le(std::string& b, uint64_t v, size_t width) {
  b.resize(b.size() + width);
  set_le(b, b.size() - width, v, width);
}
inline void put16(std::string& b, uint16_t v) { put_le(b, v, 2); }
inline void put32(std::string& b, uint32_t v) { put_le(b, v, 4); }
inline void put64(std::string& b, uint64_t v) { put_le(b, v, 8); }
// Zero bytes up to a multiple of `alignment` (a power of two).
inline void pad_to(std::string& b, size_t alignment) { b.resize((b.size() + alignment - 1) & ~(alignment - 1), '\0'); }

}  // namespace onefile_pack
