#include "contract/cache_record.h"

#include <cstring>
#include <cwchar>

#include "contract/little_endian.h"

namespace cache_record {

namespace {

// The smallest entry: a length, one unit of name and a size (and a digest).
constexpr size_t kMinEntryBytes = 2 + 2 + 8;

// Reads `width` bytes at `at` if the record holds them.
bool take(const unsigned char* data, size_t size, size_t& at, size_t width, uint64_t& value) {
  if (size - at < width) return false;
  value = little_endian::read(data + at, width);
  at += width;
  return true;
}

}  // namespace

Encoder::Encoder(const wchar_t* key) : key_(key) {}

void Encoder::put(uint64_t value, size_t width) {
  const size_t at = bytes_.size();
  bytes_.resize(at + width);
  little_endian::write(bytes_.data() + at, value, width);
}

void Encoder::add(const wchar_t* name, size_t units, uint64_t size, const unsigned char* digest) {
  ListedFile file{std::wstring(name, units), 0, size, {}};
  if (digest) memcpy(file.digest, digest, kDigestSize);
  else digests_ = false;
  files_.push_back(std::move(file));
}

const std::vector<unsigned char>& Encoder::bytes() {
  const bool digests = digests_ && !files_.empty();
  bytes_.assign(kMagic, kMagic + sizeof kMagic);
  put(kLayoutVersion, 4);
  put(digests ? kDigestSize : 0, 4);
  put(key_.size(), 4);
  for (const wchar_t unit : key_) put(static_cast<uint16_t>(unit), 2);
  put(files_.size(), 4);
  for (const ListedFile& file : files_) {
    put(file.name.size(), 2);
    for (const wchar_t unit : file.name) put(static_cast<uint16_t>(unit), 2);
    put(file.size, 8);
    if (digests) bytes_.insert(bytes_.end(), file.digest, file.digest + kDigestSize);
  }
  return bytes_;
}

bool has_magic(const unsigned char* data, size_t size) {
  return size >= sizeof kMagic && memcmp(data, kMagic, sizeof kMagic) == 0;
}

bool decode(const unsigned char* data, size_t size, const wchar_t* key, std::vector<ListedFile>& files,
            bool* digests) {
  files.clear();
  if (!has_magic(data, size)) return false;
  size_t at = sizeof kMagic;
  uint64_t version = 0, digest_size = 0, key_units = 0;
  if (!take(data, size, at, 4, version) || version != kLayoutVersion) return false;
  if (!take(data, size, at, 4, digest_size) || (digest_size != 0 && digest_size != kDigestSize)) return false;
  if (!take(data, size, at, 4, key_units) || key_units != wcslen(key) || (size - at) / 2 < key_units) return false;
  for (size_t i = 0; i < key_units; ++i, at += 2)
    if (little_endian::read(data + at, 2) != static_cast<uint16_t>(key[i])) return false;
  uint64_t count = 0;
  // A count beyond what the bytes can hold is damage, found before any
  // memory is taken for it.
  if (!take(data, size, at, 4, count) || count == 0 || count > (size - at) / (kMinEntryBytes + digest_size))
    return false;
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
    if (!take(data, size, at, 8, file.size) || size - at < digest_size) return false;
    memset(file.digest, 0, kDigestSize);
    memcpy(file.digest, data + at, static_cast<size_t>(digest_size));
    at += static_cast<size_t>(digest_size);
  }
  if (digests) *digests = digest_size != 0;
  return at == size;
}

}  // namespace cache_record
