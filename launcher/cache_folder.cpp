// Choosing the folder of a cached run, and making a first start's folder the
// cache folder (see launcher/cache.h).
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/cache.h"
#include "launcher/launcher.h"
#include "launcher/run_state.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/target_folder_name.h"
#include "paths/wide_path.h"

namespace {

constexpr char kTargetVariable[] = "VORLAN_ONEFILE_TARGET";

// The record being built while unpacking.
cache_record::Encoder* g_record = nullptr;

// The run goes on in the key folder, which no ending deletes, neither a
// fatal stop nor an interruption.
const wchar_t* use_key_folder(CacheFolders& folders) {
  g_before_fatal_stop = nullptr;
  InterlockedExchange(&g_parent.owns_folder, 0);
  // A folder this run has just renamed into place needs no check.
  if (folders.record_in_use == INVALID_HANDLE_VALUE) folders.record_in_use = open_record(folders.key_folder);
  tell_child_folder(folders.key_folder);
  return folders.key_folder;
}

}  // namespace

bool cache_mode() { return onefile_cache_key[0] != L'\0'; }

const wchar_t* target_folder_template() {
  return onefile_target_template[0] ? onefile_target_template : target_folder_name::kDefaultTemplateWide;
}

bool choose_cache_folder(const wchar_t* root, const wchar_t* key, CacheFolders& folders) {
  bounded_copy(folders.root, kPathCapacity, root);
  bounded_join(folders.key_folder, kPathCapacity, root, key);
  if (folder_is_complete(folders.key_folder, key, &folders.record_in_use)) {
    tell_child_folder(folders.key_folder);
    return false;
  }
  make_fresh_folder(folders.staging, root);
  return true;
}

void take_folder_from_parent(wchar_t* folder) {
  wchar_t* named = env_get(kTargetVariable);
  if (!named) abort();
  bounded_copy(folder, kPathCapacity, named);
  free(named);
}

void tell_child_folder(const wchar_t* folder) {
  if (!env_set(kTargetVariable, folder)) fail_system(msg::kLaunchChild, GetLastError());
}

void mark_staging_folder(const CacheFolders& folders) {
  static cache_record::Encoder record(onefile_cache_key);
  g_record = &record;
  const auto& mark = record.bytes();
  write_record(folders.staging, mark.data(), mark.size(), true);
}

void note_cached_file(const wchar_t* name, unsigned long long size) {
  // The record's own name is no file of the app: a payload holding it is
  // not one the packer wrote (and the file could not have been written).
  if (_wcsicmp(name, record_name()) == 0) fail_message(msg::kDecode);
  g_record->add(name, wcslen(name), size);
}

const wchar_t* publish_cache_folder(CacheFolders& folders) {
  const auto& record = g_record->bytes();
  write_record(folders.staging, record.data(), record.size(), false);

  // From here on the staging folder is complete: no ending deletes it.
  if (MoveFileExW(folders.staging, folders.key_folder, 0)) return use_key_folder(folders);
  // Another first start won the rename: use its folder. What a scanner
  // holds of ours stays, marked, for a later sweep; the child is told where
  // to run, so it never looks at the remnant.
  if (folder_is_complete(folders.key_folder, onefile_cache_key, &folders.record_in_use)) {
    delete_marked_folder(folders.staging);
    return use_key_folder(folders);
  }
  // The folder in place is damaged: move it away and ours in. One in use or
  // without the mark cannot be moved; this run then uses the staging folder.
  if (remove_marked_folder(folders.root, folders.key_folder) && MoveFileExW(folders.staging, folders.key_folder, 0))
    return use_key_folder(folders);
  if (folder_is_complete(folders.key_folder, onefile_cache_key, &folders.record_in_use)) {
    delete_marked_folder(folders.staging);
    return use_key_folder(folders);
  }
  tell_child_folder(folders.staging);
  return folders.staging;
}
