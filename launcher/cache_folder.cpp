// Choosing the folder of a cached run, unpacking into its staging folder,
// and making that the cache folder; its header tells how cache mode works.
#include "launcher/cache_folder.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <memory>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/cache_check.h"
#include "launcher/cache_record_file.h"
#include "launcher/cache_repair.h"
#include "launcher/cache_reuse.h"
#include "launcher/folder_aside.h"
#include "launcher/run_state.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/fresh_name.h"
#include "paths/wide_path.h"
#include "payload/reader.h"
#include "payload/stored_payload.h"

namespace {

constexpr char kTargetVariable[] = "VORLAN_ONEFILE_TARGET";

// The digest the launcher carries for entry `index`; null when it carries
// none for it.
const unsigned char* entry_digest(size_t index) {
  const unsigned long long end = (index + 1) * cache_record::kDigestSize;
  return end <= onefile_file_digests_size ? onefile_file_digests + index * cache_record::kDigestSize : nullptr;
}

// The run goes on in the key folder, which no ending deletes, neither a
// fatal stop nor an interruption.
const wchar_t* use_key_folder(CacheFolders& folders) {
  g_before_fatal_stop = nullptr;
  InterlockedExchange(&g_parent.owns_folder, 0);
  // A folder this run has just renamed into place needs no check.
  if (folders.record_in_use == INVALID_HANDLE_VALUE) folders.record_in_use = open_record(folders.key_folder);
  note_last_use(folders.record_in_use);
  tell_child_folder(folders.key_folder);
  return folders.key_folder;
}

// A repair that could not be finished: the run unpacks the whole payload
// into its staging folder after all and runs from there, deleting it at its
// end; the key folder stays as it is.
const wchar_t* unpack_whole_payload(CacheFolders& folders) {
  folders.start = CacheStart::unpack;
  folders.record = std::make_unique<cache_record::Encoder>(onefile_cache_key);
  payload_open(onefile_payload, static_cast<size_t>(onefile_payload_size));
  Entry entry;
  for (;;) {
    if (g_parent.interrupted) wait_for_the_ending();
    if (unpack_next_cached_entry(folders, g_parent.interrupted, entry) == EntryOutcome::end_of_list) break;
  }
  payload_finish();
  payload_close();
  tell_child_folder(folders.staging);
  return folders.staging;
}

}  // namespace

bool cache_mode() { return onefile_cache_key[0] != L'\0'; }

CacheStart choose_cache_folder(const wchar_t* root, const wchar_t* key, CacheFolders& folders) {
  bounded_copy(folders.root, kPathCapacity, root);
  bounded_join(folders.key_folder, kPathCapacity, root, key);
  if (folder_is_complete(folders.key_folder, key, &folders.record_in_use)) {
    note_last_use(folders.record_in_use);
    tell_child_folder(folders.key_folder);
    return folders.start = CacheStart::use;
  }
  make_fresh_folder(folders.staging, root);
  if (hold_for_repair(folders)) return folders.start = CacheStart::repair;
  find_reuse_source(folders);
  return folders.start = CacheStart::unpack;
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

void mark_staging_folder(CacheFolders& folders) {
  folders.record = std::make_unique<cache_record::Encoder>(onefile_cache_key);
  const auto& mark = folders.record->bytes();
  write_record(folders.staging, mark.data(), mark.size(), true);
}

EntryOutcome unpack_next_cached_entry(CacheFolders& folders, const volatile LONG& stop, Entry& entry) {
  if (!read_next_entry(folders.staging, entry)) return EntryOutcome::end_of_list;
  // The record's own name is no file of the app: a payload holding it is
  // not one the packer wrote (and the file could not have been written).
  if (_wcsicmp(entry.name, record_name()) == 0) fail_message(msg::kDecode);
  read_entry_size(entry);
  const unsigned char* digest = entry_digest(folders.record->files());
  folders.record->add(entry.name, wcslen(entry.name), entry.size, digest);
  const bool taken = folders.start == CacheStart::repair
                         ? !needs_repair(folders, entry.name, entry.size)
                         : link_from_reuse_source(entry.name, entry.size, digest, entry.path);
  if (taken) {
    skip_entry_content(entry.size);
    return EntryOutcome::file_written;
  }
  // A name met twice (no payload of the packer's) must not write into a
  // file linked for the first.
  if (reuse_source_in_use()) DeleteFileW(entry.path);
  return write_entry_file(entry.path, entry.size, stop) ? EntryOutcome::file_written : EntryOutcome::interrupted;
}

const wchar_t* publish_cache_folder(CacheFolders& folders) {
  finish_links();
  release_reuse_source();
  // Digests that are not one per file are not this payload's.
  if (folders.record->files() * cache_record::kDigestSize != onefile_file_digests_size) folders.record->drop_digests();
  const auto& record = folders.record->bytes();

  if (folders.start == CacheStart::repair) {
    if (!finish_repair(folders, record)) return unpack_whole_payload(folders);
    // What stays of the staging folder is its mark and empty folders.
    delete_marked_folder(folders.staging);
    return use_key_folder(folders);
  }

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
  // A marked link in the key folder's place is removed (the link alone) and
  // ours put in. A damaged folder that was not repaired (another run holds
  // it, or it is not the launcher's) stays as it is, with the app's files:
  // this run uses its staging folder.
  if (is_link(folders.key_folder) && remove_marked_folder(folders.root, folders.key_folder) &&
      MoveFileExW(folders.staging, folders.key_folder, 0))
    return use_key_folder(folders);
  tell_child_folder(folders.staging);
  return folders.staging;
}
