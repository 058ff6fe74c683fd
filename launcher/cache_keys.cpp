// The other keys of a cache root and their last use, for the sweep and for
// the choice of the folder an update links its unchanged files from. One
// listing of the root and one query per key folder: no tree is walked.
#include "launcher/cache_keys.h"

#include <windows.h>

#include <cwchar>

#include "launcher/cache_record_file.h"
#include "launcher/stale_folder_sweep.h"
#include "paths/wide_path.h"
#include "system/system_time.h"

namespace {

constexpr size_t kKeyUnits = 32;

// Whether `name` is a key: 32 lower-case hexadecimal digits.
bool is_key_name(const wchar_t* name) {
  size_t n = 0;
  for (; name[n]; ++n)
    if (!((name[n] >= L'0' && name[n] <= L'9') || (name[n] >= L'a' && name[n] <= L'f'))) return false;
  return n == kKeyUnits;
}

struct Collect {
  const wchar_t* own_key;
  std::vector<OtherKey>* keys;
};

void collect_key(const wchar_t* path, const WIN32_FIND_DATAW& found, void* context) {
  const auto& collect = *static_cast<Collect*>(context);
  if (!is_key_name(found.cFileName) || wcscmp(found.cFileName, collect.own_key) == 0) return;
  // Its record's last-write time is the key's last use; a folder without a
  // record is none of the launcher's.
  wchar_t record[kPathCapacity];
  record_path(record, path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(record, GetFileExInfoStandard, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return;
  OtherKey key;
  bounded_copy(key.name, sizeof key.name / sizeof key.name[0], found.cFileName);
  key.last_used = ticks(data.ftLastWriteTime);
  collect.keys->push_back(key);
}

}  // namespace

std::vector<OtherKey> other_keys(const wchar_t* root, const wchar_t* own_key) {
  std::vector<OtherKey> keys;
  Collect collect{own_key, &keys};
  // Links are left out: a key folder is never a link of the launcher's.
  for_each_folder(root, L"*", collect_key, &collect);
  return keys;
}
