// Little-endian numbers in byte strings, for the file formats the packer
// writes and reads (icons, resources, PE headers).
#pragma once

#include <cstdint>
#include <string>

namespace onefile_pack {

inline uint16_t get16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
inline uint32_t get32(const std::string& b, size_t at) {
  return uint32_t{get16(b, at)} | uint32_t{get16(b, at + 2)} << 16;
}
inline void put16(std::string& b, uint16_t v) {
  b += static_cast<char>(v & 0xff);
  b += static_cast<char>(v >> 8);
}
inline void put32(std::string& b, uint32_t v) {
  put16(b, static_cast<uint16_t>(v));
  put16(b, static_cast<uint16_t>(v >> 16));
}
inline void put64(std::string& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v));
  put32(b, static_cast<uint32_t>(v >> 32));
}
// Overwrites the four bytes at `at`.
inline void set32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
inline void set16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xff);
  b[at + 1] = static_cast<char>(v >> 8);
}
// Zero bytes up to a multiple of `alignment` (a power of two).
inline void pad_to(std::string& b, size_t alignment) { b.resize((b.size() + alignment - 1) & ~(alignment - 1), '\0'); }

}  // namespace onefile_pack
