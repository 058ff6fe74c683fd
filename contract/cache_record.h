// The completion record of a cache folder (onefile-pack --cache), and its
// encoder and decoder. Layout, little-endian:
//
//   0   "VOYDONE" and a 0x00 byte             kMagic
//   8   u32 layout version                    kLayoutVersion (2)
//   12  u32 digest bytes per file D: 0 (the record carries no digests) or
//       kDigestSize (each file's SHA-256, as the packer computed it)
//   16  u32 count of UTF-16 units of the key, then the key (no terminator)
//   ..  u32 number of files N
//   ..  N times: u16 name length in units, the name (UTF-16LE, backslashes,
//       as in the payload), u64 size in bytes, D bytes of digest
//
// The files come in payload order, so the first is the main library.
//
// The record lies at the top of the folder under kName, which no payload of
// a cached app may use. It is also the launcher's mark of ownership: a
// staging folder gets a record without files as its very first file, and a
// complete folder its full record, written last. Only a record that lists at
// least one file (the main library) can describe a complete folder. The
// magic is the same in every layout, so launchers of any layout recognise
// each other's folders; the key names the layout (kKeyPrefix), so they
// never share one. A record of layout 1 (the key's length stands where the
// version does) decodes as no record of this key, and never lends a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cache_record {

inline constexpr char kName[] = ".onefile-complete";
inline constexpr char kMagic[8] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '\0'};
inline constexpr uint32_t kLayoutVersion = 2;
inline constexpr size_t kDigestSize = 32;

// What the packer hashes before the stored payload to make the cache key:
// the magic and the layout version. A launcher of another layout gets
// another key for the same payload, and so a folder of its own.
inline constexpr unsigned char kKeyPrefix[12] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '\0', kLayoutVersion, 0, 0, 0};

// The longest key and name in units that a record can hold.
inline constexpr size_t kMaxKeyUnits = 0xffffffff;
inline constexpr size_t kMaxNameUnits = 0xffff;

// One file a record lists: its name, with the directory part (up to and
// including the last backslash) taking the first `file` units, its size,
// and its digest (all zero in a record without digests).
struct ListedFile {
  std::wstring name;
  size_t file;
  uint64_t size;
  unsigned char digest[kDigestSize];
};

// Builds a record: the key, then one file at a time. Names and the key are
// UTF-16 units held in wchar_t (16 bits on Windows, wider on the host). The
// record carries digests only when every file added came with one.
class Encoder {
 public:
  explicit Encoder(const wchar_t* key);
  // Adds a file of `size` bytes named by `units` units at `name`, with its
  // digest (kDigestSize bytes) or none (null).
  void add(const wchar_t* name, size_t units, uint64_t size, const unsigned char* digest);
  // Leaves the digests out of the record (they were not the payload's).
  void drop_digests() { digests_ = false; }
  // The record with the files added so far.
  const std::vector<unsigned char>& bytes();
  size_t files() const { return files_.size(); }

 private:
  void put(uint64_t value, size_t width);
  std::wstring key_;
  std::vector<ListedFile> files_;
  bool digests_ = true;
  std::vector<unsigned char> bytes_;
};

// Whether `data` (`size` bytes) starts with the magic: a record this product wrote.
bool has_magic(const unsigned char* data, size_t size);

// Decodes a record of `key` into `files`; `digests` tells whether it carries
// them. False for any other key or layout, a record that lists no file, and
// any damage: a short or a long record, a count or a length that the bytes
// do not hold, an empty name, a digest size other than 0 or kDigestSize.
bool decode(const unsigned char* data, size_t size, const wchar_t* key, std::vector<ListedFile>& files,
            bool* digests = nullptr);

}  // namespace cache_record
