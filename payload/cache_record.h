// The completion record of a cache folder (onefile-pack --cache), and its
// encoder and decoder. Layout, little-endian:
//
//   0   "VOYDONE" and a 0x00 byte             kMagic
//   8   u32 count of UTF-16 units of the key, then the key (no terminator)
//   ..  u32 number of files N
//   ..  N times: u16 name length in units, the name (UTF-16LE, backslashes,
//       as in the payload), u64 size in bytes
//
// The files come in payload order, so the first is the main library.
//
// The record lies at the top of the folder under kName, which no payload of
// a cached app may use. It is also the launcher's mark of ownership: a
// staging folder gets a record without files as its very first file, and a
// complete folder its full record, written last. Only a record that lists at
// least one file (the main library) can describe a complete folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cache_record {

inline constexpr char kName[] = ".onefile-complete";
inline constexpr char kMagic[8] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '\0'};

// The longest key and name in units that a record can hold.
inline constexpr size_t kMaxKeyUnits = 0xffffffff;
inline constexpr size_t kMaxNameUnits = 0xffff;

// Builds a record: the key first, then one file at a time. Names and the key
// are UTF-16 units held in wchar_t (16 bits on Windows, wider on the host).
class Encoder {
 public:
  explicit Encoder(const wchar_t* key);
  // Adds a file of `size` bytes named by `units` units at `name`.
  void add(const wchar_t* name, size_t units, uint64_t size);
  // The record with the files added so far.
  const std::vector<unsigned char>& bytes();

 private:
  void put(uint64_t value, size_t width);
  std::vector<unsigned char> bytes_;
  size_t count_at_;
  uint32_t files_ = 0;
};

// Whether `data` (`size` bytes) starts with the magic: a record this product wrote.
bool has_magic(const unsigned char* data, size_t size);

// One file a record lists: its name, with the directory part (up to and
// including the last backslash) taking the first `file` units, and its size.
struct ListedFile {
  std::wstring name;
  size_t file;
  uint64_t size;
};

// Decodes a record of `key` into `files`. False for any other key, a record
// that lists no file, and any damage: a short or a long record, a count or a
// length that the bytes do not hold, an empty name.
bool decode(const unsigned char* data, size_t size, const wchar_t* key, std::vector<ListedFile>& files);

}  // namespace cache_record
