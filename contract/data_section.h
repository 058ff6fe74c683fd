// The data section of a packed launcher: the stored payload and the
// build-time texts, added by the packer to a copy of a template launcher as
// read-only data of the image, and found by the launcher at run time from
// its own section table.
//
// Section name ".onefile" (exactly eight characters, no terminator),
// characteristics: initialized data, readable. Layout, all numbers
// little-endian, offsets from the start of the section:
//
//   0   "VOYDATA" and a 0x00 byte        kMagic
//   8   u32 layout version               kLayoutVersion (1)
//   12  u32 field count N
//   16  N fields of 16 bytes each:
//         u32 id, u32 offset of the field's bytes, u64 size in bytes
//   ... the fields' bytes, each starting at a multiple of 16
//
// A text field is UTF-16LE ending with one 0x0000 unit, which its size
// counts; an absent text field reads as the empty text. The payload field
// holds the stored payload byte for byte.
//
// A launcher whose main is a program (not a DLL) carries two more fields:
//   kProgramMain  a text: the program's path below the unpacked root,
//                 backslashes between folders ("bin\app.exe"); absent for
//                 a DLL main, whose launcher is byte for byte as before.
//   kArguments    the fixed arguments, each a UTF-16LE text ending with one
//                 0x0000 unit, one after the other without padding; an empty
//                 argument is a lone 0x0000. The size counts every unit, so
//                 the count of arguments is the count of 0x0000 units; a
//                 size that is odd or does not end with 0x0000 reads as no
//                 argument. Absent: no fixed arguments.
//
// A cached launcher (a cache key) packed from a folder carries one more:
//   kFileDigests  the SHA-256 of each file's content, 32 bytes each, in
//                 payload order; the launcher copies them into the cache
//                 record. Absent without --cache and for a stored payload
//                 given as it is (no digests: an update reuses no file).
//
// A reader
// ignores ids it does not know, so a later text is one more id below and one
// more field written by the packer; a layout a reader cannot take raises the
// version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "contract/little_endian.h"

namespace data_section {
inline constexpr char kName[8] = {'.', 'o', 'n', 'e', 'f', 'i', 'l', 'e'};
inline constexpr char kMagic[8] = {'V', 'O', 'Y', 'D', 'A', 'T', 'A', '\0'};
inline constexpr uint32_t kLayoutVersion = 1;
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kFieldEntrySize = 16;
inline constexpr size_t kFieldAlignment = 16;
// Where the numbers lie: in the header, and in a field entry.
inline constexpr size_t kVersionAt = 8;
inline constexpr size_t kCountAt = 12;
inline constexpr size_t kEntryIdAt = 0;
inline constexpr size_t kEntryOffsetAt = 4;
inline constexpr size_t kEntrySizeAt = 8;

enum FieldId : uint32_t {
  kPayload = 1,
  kCompany = 2,
  kProduct = 3,
  kVersion = 4,
  kFileVersion = 5,
  kProductVersion = 6,
  kTargetTemplate = 7,  // the target folder's template (the cache root's with kCacheKey)
  kCacheKey = 8,        // cache mode: the key of the payload's content; absent otherwise
  kProgramMain = 9,     // program main: its path below the root; absent for a DLL main
  kArguments = 10,      // program main: the fixed arguments; absent when there are none
  kSplashImage = 11,    // the splash image, see below; absent without one
  kSplashText = 12,     // the text that replaces "Preparing …"; empty: that text
  kFileDigests = 13,    // cache mode: each file's SHA-256, in payload order; absent: none
};

// Bytes of a section or of one field; null when absent.
struct Span {
  const unsigned char* data = nullptr;
  uint64_t size = 0;
};

// `section` when it starts with our header, else the empty span.
inline Span checked(Span section) {
  if (!section.data || section.size < kHeaderSize || std::memcmp(section.data, kMagic, sizeof kMagic) != 0 ||
      little_endian::read(section.data + kVersionAt, 4) != kLayoutVersion)
    return {};
  return section;
}

// The bytes of field `id` of a checked section; empty when absent, or when
// the table or the field does not lie inside the section.
inline Span find_field(Span section, uint32_t id) {
  if (!section.data) return {};
  const uint64_t count = little_endian::read(section.data + kCountAt, 4);
  if (count > (section.size - kHeaderSize) / kFieldEntrySize) return {};
  for (uint64_t i = 0; i < count; ++i) {
    const unsigned char* entry = section.data + kHeaderSize + i * kFieldEntrySize;
    if (little_endian::read(entry + kEntryIdAt, 4) != id) continue;
    const uint64_t offset = little_endian::read(entry + kEntryOffsetAt, 4);
    const uint64_t size = little_endian::read(entry + kEntrySizeAt, 8);
    if (offset > section.size || size > section.size - offset) return {};
    return {section.data + offset, size};
  }
  return {};
}

// The splash image: a BITMAPINFOHEADER (40 bytes: biSize 40, biWidth w,
// biHeight -h for rows from the top, biPlanes 1, biBitCount 32, biCompression
// BI_RGB, the rest 0) and w * h pixels of 4 bytes, blue, green, red, 0, the
// image's transparency already blended over white. At most kMaxSplashSize
// pixels each way.
inline constexpr int kMaxSplashSize = 1024;
}  // namespace data_section
