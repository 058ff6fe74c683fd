// Cache mode (onefile-pack --cache): the payload is unpacked once into
// <root>\<key> and reused while the key is the same. A root keeps the
// folders of several keys (contract/cache_keep.h says which).
//
// A first start unpacks into a staging folder beside it, with a fresh name
// of the target folder's shape (contract/target_folder_name.h), whose first
// file is a record without files: the mark that the folder is the
// launcher's. Files whose name, size and digest equal those of the key
// folder used last in the root are hard links to its files instead of
// being written. It writes the full record last and renames the staging
// folder into place in one step. The loser of two such renames deletes its
// own staging folder and uses the winner's. Later starts check the record:
// the key, at least one file (the main library), and every file it lists
// present with its size. A marked folder that fails the check and that no
// other run holds is repaired: the files that fail are written into a
// staging folder and, once the payload's checksum holds, renamed over
// theirs; nothing else in the folder is touched. Where that cannot be
// done, the run uses its staging folder and leaves the key folder alone.
// The parent names the folder the child runs from in VORLAN_ONEFILE_TARGET.
//
// A running parent keeps the record open without delete sharing: that marks
// the folder as in use for the sweep of other keys and for a repair. Each
// start sets the record's last-write time through that handle: the key's
// last use, which the sweep and the choice of the folder to link from read.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "contract/cache_record.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

// What a cached run does with its key folder.
enum class CacheStart {
  use,     // it passed the check; its record is held
  unpack,  // unpack into the staging folder (linking unchanged files), then put it in place
  repair,  // write the failing files into the staging folder, then rename them over the key folder's
};

// The folders of a parent's cached run, and what it builds while it unpacks.
struct CacheFolders {
  wchar_t root[kPathCapacity];        // the expanded cache root
  wchar_t key_folder[kPathCapacity];  // root\key
  wchar_t staging[kPathCapacity];     // a fresh folder's name in root, for a first start or a repair
  // The record of the folder the run uses, held open from the check on
  // (shared for reading); during a repair the key folder's, held alone.
  HANDLE record_in_use = INVALID_HANDLE_VALUE;
  CacheStart start = CacheStart::unpack;
  // The record of the staging folder: from the mark on, every entry
  // unpacked is added.
  std::unique_ptr<cache_record::Encoder> record;
  // The names of the files written for a repair, in payload order.
  std::vector<std::wstring> repaired;
};

// Cache mode, when the launcher carries a cache key.
bool cache_mode();

// Parent, with the expanded cache `root` and the launcher's `key`: fills
// `folders` and returns what the run does. For CacheStart::use the key
// folder passed the cheap check, its record is held and its use noted; for
// the others the run unpacks into folders.staging (which the caller
// creates fresh, then marks).
CacheStart choose_cache_folder(const wchar_t* root, const wchar_t* key, CacheFolders& folders);

// Child: the folder its parent named in VORLAN_ONEFILE_TARGET, into `folder`
// (kPathCapacity units). A child without it was not started by a parent of
// this build: that is an impossible state, and aborts.
void take_folder_from_parent(wchar_t* folder);

// The parent names `folder` as the one its child runs from.
void tell_child_folder(const wchar_t* folder);

// Writes the mark, the record without files, as the staging folder's first
// file, and starts folders.record.
void mark_staging_folder(CacheFolders& folders);

// One pass of the entry loop into folders.staging, reading into `entry`:
// the entry is linked from the folder of another key, skipped (a repair
// whose key folder holds it), or written; every entry goes into the record.
EntryOutcome unpack_next_cached_entry(CacheFolders& folders, const volatile LONG& stop, Entry& entry);

// After unpacking into the staging folder (the payload's checksum checked):
// writes the full record and renames the folder into place (or takes the
// winner's of a concurrent first start), or renames a repair's files into
// the key folder. Returns the folder the child runs from, and tells the
// child; when that is the key folder, the run no longer owns a folder to
// delete.
const wchar_t* publish_cache_folder(CacheFolders& folders);
