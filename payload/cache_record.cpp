#include "payload/cache_record.h"

#include <cstring>
#include <cwchar>

#include "payload/little_endian.h"

namespace cache_record {

namespace {

// The smallest entry: a length, one unit of name and a size.
constexpr size_t kMinEntryBytes = 2 + 2 + 8;

// Reads `width` bytes at `at` if the record holds them.
bool take(const unsigned char* data, size_t size, size_t& at, size_t width, uint64_t& value) {
  if (size - at < width) return false;
  value = little_endian::read(data + at, width);
  at += width;
  return true;
}

}  // namespace

Encoder::Encoder(const wchar_t* key) {
  bytes_.assign(kMagic, kMagic + sizeof kMagic);
  const size_t units = wcslen(key);
  put(units, 4);
  for (size_t i = 0; i < units; ++i) put(static_cast<uint16_t>(key[i]), 2);
  count_at_ = bytes_.size();
  put(0, 4);
}

void Encoder::put(uint64_t value, size_t width) {
  const size_t at = bytes_.size();
  bytes_.resize(at + width);
  little_endian::write(bytes_.data() + at, value, width);
}

void Encoder::add(const wchar_t* name, size_t units, uint64_t size) {
  put(units, 2);
  for (size_t i = 0; i < units; ++i) put(static_cast<uint16_t>(name[i]), 2);
  put(size, 8);
  ++files_;
}

const std::vector<unsigned char>& Encoder::bytes() {
  little_endian::write(bytes_.data() + count_at_, files_, 4);
  return bytes_;
}

bool has_magic(const unsigned char* data, size_t size) {
  return size >= sizeof kMagic && memcmp(data, kMagic, sizeof kMagic) == 0;
}

bool decode(const unsigned char* data, size_t size, const wchar_t* key, std::vector<ListedFile>& files) {
  files.clear();
  if (!has_magic(data, size)) return false;
  size_t at = sizeof kMagic;
  uint64_t key_units = 0;
  if (!take(data, size, at, 4, key_units) || key_units != wcslen(key) || (size - at) / 2 < key_units) return false;
  for (size_t i = 0; i < key_units; ++i, at += 2)
    if (little_endian::read(data + at, 2) != static_cast<uint16_t>(key[i])) return false;
  uint64_t count = 0;
  // A count beyond what the bytes can hold is damage, found before any
  // memory is taken for it.
  if (!take(data, size, at, 4, count) || count == 0 || count > (size - at) / kMinEntryBytes) return false;
  files.resize(static_cast<size_t>(count));
  for (ListedFile& file : files) {
    uint64_t units = 0;
    if (!take(data, size, at, 2, units) || units == 0 || (size - at) / 2 < units) return false;
    file.name.resize(static_cast<size_t>(units));
    file.file = 0;
    for (size_t u = 0; u < units; ++u, at += 2) {
      file.name[u] = static_cast<wchar_t>(little_endian::read(data + at, 2));
      if (file.name[u] == L'\\') file.file = u + 1;
    }
    if (!take(data, size, at, 8, file.size)) return false;
  }
  return at == size;
}

}  // namespace cache_record
