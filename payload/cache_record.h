// The completion record of a cache folder (onefile-pack --cache): written
// last into the staging folder, after every file is closed, and read at
// every later start to check the folder cheaply. Layout, little-endian:
//
//   0   "VOYDONE" and a 0x00 byte             kMagic
//   8   u32 count of UTF-16 units of the key, then the key (no terminator)
//   ..  u32 number of files N
//   ..  N times: u16 name length in units, the name (UTF-16LE, backslashes,
//       as in the payload), u64 size in bytes
//
// The record lies at the top of the folder under kName, which no payload of
// a cached app may use.
#pragma once

#include <cstddef>

namespace cache_record {
inline constexpr char kName[] = ".onefile-complete";
inline constexpr char kMagic[8] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '\0'};
}  // namespace cache_record
