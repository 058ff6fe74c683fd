// An update's first start: files whose name, size and digest equal those of
// the most recently used other key folder of the root (whose record has
// digests) become hard links to its files instead of being written. The
// record's digests are the packer's; the launcher hashes nothing. Only files
// the listing shows there, of their size, as plain files below no link, are
// taken, and the other folder's record is held meanwhile, so that no sweep
// removes the folder. The payload is still decoded whole, so its checksum
// is checked before the app runs.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "launcher/cache.h"
#include "paths/build_texts.h"
#include "paths/wide_path.h"

namespace {

using cache_record::ListedFile;

struct ReuseSource {
  wchar_t folder[kPathCapacity];  // empty: none
  HANDLE record = INVALID_HANDLE_VALUE;
  std::vector<ListedFile> files;  // sorted by sort_listed_files
  std::vector<bool> present;
  bool linked = false;
};
ReuseSource g_source;

// The record of the key folder `folder` (named `key`) when it has digests.
bool take_source(const wchar_t* folder, const wchar_t* key) {
  HANDLE record = open_record(folder);
  if (record == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> data;
  bool digests = false;
  if (!read_whole_file(record, data) || !cache_record::decode(data.data(), data.size(), key, g_source.files, &digests) ||
      !digests) {
    CloseHandle(record);
    return false;
  }
  g_source.record = record;
  bounded_copy(g_source.folder, kPathCapacity, folder);
  return true;
}

}  // namespace

void find_reuse_source(const CacheFolders& folders) {
  if (onefile_file_digests_size == 0) return;
  std::vector<OtherKey> keys = other_keys(folders.root, onefile_cache_key);
  std::sort(keys.begin(), keys.end(), [](const OtherKey& a, const OtherKey& b) { return a.last_used > b.last_used; });
  for (const OtherKey& key : keys) {
    wchar_t folder[kPathCapacity];
    bounded_join(folder, kPathCapacity, folders.root, key.name);
    if (!take_source(folder, key.name)) continue;
    sort_listed_files(g_source.files);
    g_source.present = present_files(folder, g_source.files);
    return;
  }
}

bool link_from_reuse_source(const wchar_t* name, unsigned long long size, const unsigned char* digest,
                            const wchar_t* path) {
  if (!g_source.folder[0] || !digest) return false;
  const size_t at = find_listed_file(g_source.files, name);
  if (at == g_source.files.size() || !g_source.present[at]) return false;
  const ListedFile& file = g_source.files[at];
  if (file.size != size || memcmp(file.digest, digest, cache_record::kDigestSize) != 0) return false;
  wchar_t from[kPathCapacity];
  bounded_join(from, kPathCapacity, g_source.folder, name);
  create_parent_directories(path);
  // Where no link can be made (a file system without them), the caller
  // writes the file from the payload, which it decodes anyway: a copy.
  if (!CreateHardLinkW(path, from, nullptr)) return false;
  g_source.linked = true;
  return true;
}

bool reuse_source_in_use() { return g_source.linked; }

void release_reuse_source() {
  if (g_source.record != INVALID_HANDLE_VALUE) CloseHandle(g_source.record);
  g_source.record = INVALID_HANDLE_VALUE;
  g_source.folder[0] = L'\0';
}
