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
// counts; an absent text field reads as the empty text. A text list holds
// its texts one after the other, each with its 0x0000 unit, without padding;
// the size counts every unit, so the count of texts is the count of 0x0000
// units, and a size that is odd or does not end with 0x0000 reads as no
// text. The payload field holds the stored payload byte for byte.
//
// The fields, their ids and kinds, and what each holds: packed_fields.inc.
// A reader ignores ids it does not know, so a later field is one more row
// there; a layout a reader cannot take raises the version.
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
#define ONEFILE_TEXT_FIELD(Name, id, ...) Name = id,
#define ONEFILE_TEXT_LIST_FIELD(Name, id, ...) Name = id,
#define ONEFILE_BYTES_FIELD(Name, id, ...) Name = id,
#define ONEFILE_PAYLOAD_FIELD(Name, id, ...) Name = id,
#include "contract/packed_fields.inc"
};

// When the packer writes a text field: always, or only when it is not empty.
enum Written { kAlways, kWhenNotEmpty };

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
