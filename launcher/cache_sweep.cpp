// Sweeping the cache root beside the child: only folders that carry the
// launcher's mark go. A user's folder that merely looks like a key folder or
// a staging folder stays, and links are never followed (for_each_folder
// leaves them out). Other keys' folders go by the keep rule
// (contract/cache_keep.h), never while a run holds one.
#include "launcher/cache_sweep.h"

#include <windows.h>

#include <cwchar>

#include "contract/cache_keep.h"
#include "contract/target_folder_name.h"
#include "launcher/cache_check.h"
#include "launcher/cache_keys.h"
#include "launcher/folder_aside.h"
#include "launcher/run_state.h"
#include "launcher/stale_folder_sweep.h"
#include "paths/build_texts.h"
#include "paths/wide_path.h"
#include "system/system_time.h"

namespace {

void sweep_staging_folder(const wchar_t* path, const WIN32_FIND_DATAW& found, void* now) {
  // Staging folders of first starts and repairs that were killed, and
  // folders moved aside whose deletion was cut short: as the temp folder's
  // sweep, and marked.
  if (target_folder_name::owner(found.cFileName) != 0 && carries_mark(path, FILE_SHARE_READ))
    sweep_stale_folder(path, found, *static_cast<ULONGLONG*>(now), delete_marked_folder);
}

}  // namespace

void sweep_cache_root() {
  const wchar_t* root = g_parent.cache.root;
  ULONGLONG now = system_time();
  for_each_folder(root, target_folder_name::kSweepPattern, sweep_staging_folder, &now);

  const std::vector<OtherKey> keys = other_keys(root, onefile_cache_key);
  std::vector<uint64_t> last_used;
  for (const OtherKey& key : keys) last_used.push_back(key.last_used);
  size_t others = keys.size();
  for (const size_t i : cache_keep::sweep_order(last_used)) {
    if (!cache_keep::should_remove(last_used[i], now, others)) continue;
    wchar_t path[kPathCapacity];
    bounded_join(path, kPathCapacity, root, keys[i].name);
    // A folder a run holds: its record does not open without sharing. It
    // counts as used now, so the next least recently used goes instead.
    if (carries_mark(path, 0) && remove_marked_folder(root, path)) --others;
  }
}
