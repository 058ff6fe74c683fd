// Cache mode (onefile-pack --cache): the payload is unpacked once into
// <root>\<key> and reused while the key is the same.
//
// A first start unpacks into a staging folder beside it, named like a fresh
// target folder ("onefile_<parent PID>_<TIME_US>_<RANDOM>"), whose first
// file is a record without files: the mark that the folder is the
// launcher's. It writes the full record last and renames the staging folder
// into place in one step. The loser of two such renames deletes its own
// staging folder and uses the winner's. Later starts check the record: the
// key, at least one file (the main library), and every file it lists present
// with its size. A folder that fails the check is replaced by a new one if
// it carries the mark; if it is in use and cannot be moved away, or is not
// the launcher's, the run uses its staging folder and leaves it alone.
// The parent names the folder the child runs from in VORLAN_ONEFILE_TARGET.
//
// A running parent keeps the record open without delete sharing: that marks
// the folder as in use for the removal of older keys.
#pragma once

#include <windows.h>

#include "payload/cache_record.h"
#include "payload/unpack.h"

// The folders of a parent's cached run.
struct CacheFolders {
  wchar_t root[kPathCapacity];        // the expanded cache root
  wchar_t key_folder[kPathCapacity];  // root\key
  wchar_t staging[kPathCapacity];     // root\onefile_<PID>_<TIME_US>_<RANDOM>, for a first start
  // The record of the folder the run uses, held open from the check on.
  HANDLE record_in_use = INVALID_HANDLE_VALUE;
};

// cache_folder.cpp: cache mode, when the launcher carries a cache key.
bool cache_mode();

// The target folder's template: the one packed with the launcher, or the
// default "{TEMP}\onefile_{PID}_{TIME_US}_{RANDOM}".
const wchar_t* target_folder_template();

// Parent, with the expanded cache `root` and the launcher's `key`: fills
// `folders`. True when the run must unpack into folders.staging (which the
// caller creates fresh, then marks); false when folders.key_folder passed
// the cheap check, and its record is held.
bool choose_cache_folder(const wchar_t* root, const wchar_t* key, CacheFolders& folders);

// Child: the folder its parent named in VORLAN_ONEFILE_TARGET, into `folder`
// (kPathCapacity units). A child without it was not started by a parent of
// this build: that is an impossible state, and aborts.
void take_folder_from_parent(wchar_t* folder);

// The parent names `folder` as the one its child runs from.
void tell_child_folder(const wchar_t* folder);

// Writes the mark, the record without files, as the staging folder's first file.
void mark_staging_folder(const CacheFolders& folders);

// Adds an unpacked file to the record.
void note_cached_file(const wchar_t* name, unsigned long long size);

// After unpacking into the staging folder: writes the full record and
// renames the folder into place (or takes the winner's of a concurrent first
// start). Returns the folder the child runs from, and tells the child; when
// that is the key folder, the run no longer owns a folder to delete.
const wchar_t* publish_cache_folder(CacheFolders& folders);

// cache_sweep.cpp: removes, silently and as far as possible, what the
// launcher left in the parent's cache root (g_parent.cache.root): staging folders of killed first
// starts and folders of other keys that no run uses. Only folders that carry
// the mark are touched.
void sweep_cache_root();

// cache_check.cpp: the record of `folder`, opened for reading and shared for
// reading only (held open, that is the in-use mark); INVALID_HANDLE_VALUE when
// it cannot be.
HANDLE open_record(const wchar_t* folder);

// The cheap check: the record names `key` and lists at least the main
// library, and every file it lists is there with its size. Contents are not
// read. With `keep`, a complete folder's record stays open in *keep.
bool folder_is_complete(const wchar_t* folder, const wchar_t* key, HANDLE* keep);

// Whether `folder` carries the mark (a record that starts with the magic),
// read with `share` as the record's sharing: 0 also tells that no run holds it.
bool carries_mark(const wchar_t* folder, DWORD share);

// cache_record_file.cpp: the record's file name.
const wchar_t* record_name();

// The record's path in `folder`, in `out` (kPathCapacity units).
void record_path(wchar_t* out, const wchar_t* folder);

// Writes `size` bytes of record at the start of the record file of `folder`,
// creating it (`create`) or over the mark that is there. Fails the run with
// a message when it cannot.
void write_record(const wchar_t* folder, const unsigned char* data, size_t size, bool create);

// folder_aside.cpp: a fresh name of the target folder's shape for this
// process, joined to `root` in `out` (kPathCapacity units).
void make_fresh_folder(wchar_t* out, const wchar_t* root);

// Deletes a folder of the launcher's once; one that stays (something in it
// is in use) gets its mark again, so that a later sweep can finish it.
void delete_marked_folder(const wchar_t* folder);

// Moves `folder` of `root` aside under a fresh name and deletes it; false
// when it carries no mark or cannot be moved (in use).
bool remove_marked_folder(const wchar_t* root, const wchar_t* folder);
