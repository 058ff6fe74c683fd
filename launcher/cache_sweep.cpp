// Sweeping the cache root beside the child: only folders that carry the
// launcher's mark go. A user's folder that merely looks like a key folder or
// a staging folder stays, and links are never followed (for_each_folder
// leaves them out).
#include <windows.h>

#include <cwchar>

#include "launcher/cache.h"
#include "launcher/launcher.h"
#include "launcher/run_state.h"
#include "paths/build_texts.h"
#include "paths/target_folder_name.h"

namespace {

constexpr size_t kKeyUnits = 32;

bool is_hex_key(const wchar_t* name) {
  size_t n = 0;
  for (; name[n]; ++n)
    if (!((name[n] >= L'0' && name[n] <= L'9') || (name[n] >= L'a' && name[n] <= L'f'))) return false;
  return n == kKeyUnits;
}

void sweep_cache_entry(const wchar_t* path, const WIN32_FIND_DATAW& found, void* now) {
  // Staging folders of first starts that were killed, and folders moved
  // aside whose deletion was cut short: as the temp folder's sweep, and
  // marked.
  if (target_folder_name::owner(found.cFileName) != 0 && carries_mark(path, FILE_SHARE_READ))
    sweep_stale_folder(path, found, *static_cast<ULONGLONG*>(now), delete_marked_folder);
  // Folders of older keys that no run uses: their record opens without
  // sharing.
  if (is_hex_key(found.cFileName) && wcscmp(found.cFileName, onefile_cache_key) != 0 && carries_mark(path, 0))
    remove_marked_folder(g_parent.cache.root, path);
}

}  // namespace

void sweep_cache_root() {
  ULONGLONG now = current_time();
  for_each_folder(g_parent.cache.root, L"*", sweep_cache_entry, &now);
}
