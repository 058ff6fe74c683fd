// The stored payload and its entry stream, shared by the packer (writing) and
// the launcher (reading).
//
// Stored payload: "VOY", one Zstandard frame (window 2^27, no dictionary)
// holding the entry stream, zero bytes up to a multiple of 8, then the count
// of all bytes before it as a little-endian 64-bit number.
//
// Entry stream: records, then a single 0x0000 unit as end marker. A record is
// its name (UTF-16LE units, backslash separators, 1 to 1023 units, then
// 0x0000), its size (little-endian 64-bit) and that many content bytes. The
// first record is the main file: the program that the launcher starts, or
// the DLL whose run_code the child calls.
#pragma once

#include <cstddef>

namespace payload_format {
inline constexpr char kHeader[3] = {'V', 'O', 'Y'};
inline constexpr size_t kHeaderSize = 3;
inline constexpr size_t kMaxNameUnits = 1023;   // without the terminator
inline constexpr size_t kNameBufferUnits = 1024;
inline constexpr int kWindowLog = 27;
inline constexpr size_t kTrailerAlignment = 8;
}  // namespace payload_format
