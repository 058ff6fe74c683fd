// Cache mode (onefile-pack --cache): the payload is unpacked once into
// <root>\<key> and reused while the key is the same. A root keeps the
// folders of several keys (contract/cache_keep.h says which).
//
// A first start unpacks into a staging folder beside it, named like a fresh
// target folder ("onefile_<parent PID>_<TIME_US>_<RANDOM>"), whose first
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

#include <vector>

#include "contract/cache_record.h"
#include "payload/unpack.h"

// What a cached run does with its key folder.
enum class CacheStart {
  use,     // it passed the check; its record is held
  unpack,  // unpack into the staging folder (linking unchanged files), then put it in place
  repair,  // write the failing files into the staging folder, then rename them over the key folder's
};

// The folders of a parent's cached run.
struct CacheFolders {
  wchar_t root[kPathCapacity];        // the expanded cache root
  wchar_t key_folder[kPathCapacity];  // root\key
  wchar_t staging[kPathCapacity];     // root\onefile_<PID>_<TIME_US>_<RANDOM>, for a first start or a repair
  // The record of the folder the run uses, held open from the check on
  // (shared for reading); during a repair the key folder's, held alone.
  HANDLE record_in_use = INVALID_HANDLE_VALUE;
  CacheStart start = CacheStart::unpack;
};

// cache_folder.cpp: cache mode, when the launcher carries a cache key.
bool cache_mode();

// The target folder's template: the one packed with the launcher, or the
// default "{TEMP}\onefile_{PID}_{TIME_US}_{RANDOM}".
const wchar_t* target_folder_template();

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

// Writes the mark, the record without files, as the staging folder's first file.
void mark_staging_folder(const CacheFolders& folders);

// One pass of the entry loop into folders.staging: the entry is linked from
// the folder of another key, skipped (a repair whose key folder holds it),
// or written; every entry goes into the record.
EntryOutcome unpack_next_cached_entry(CacheFolders& folders, const volatile LONG& stop);

// After unpacking into the staging folder (the payload's checksum checked):
// writes the full record and renames the folder into place (or takes the
// winner's of a concurrent first start), or renames a repair's files into
// the key folder. Returns the folder the child runs from, and tells the
// child; when that is the key folder, the run no longer owns a folder to
// delete.
const wchar_t* publish_cache_folder(CacheFolders& folders);

// cache_sweep.cpp: removes, silently and as far as possible, what the
// launcher left in the parent's cache root (g_parent.cache.root): staging
// folders of killed runs, and folders of other keys that the keep rule lets
// go and no run holds. Only folders that carry the mark are touched.
void sweep_cache_root();

// cache_keys.cpp: the folders of other keys than `own_key` in `root` that
// carry a record, with their last use (the record's last-write time).
struct OtherKey {
  wchar_t name[33];
  ULONGLONG last_used;
};
std::vector<OtherKey> other_keys(const wchar_t* root, const wchar_t* own_key);

// Whether `name` is a key: 32 lower-case hexadecimal digits.
bool is_key_name(const wchar_t* name);

// cache_reuse.cpp: picks the folder of the most recently used other key of
// the root whose record has digests, holds its record and lists its files;
// none when the launcher carries no digests.
void find_reuse_source(const CacheFolders& folders);

// When the reuse source holds the file `name` with `size` and `digest`:
// makes its folders and has `path` made a hard link to it (by the linking
// thread), and returns true; the caller skips the content. False when it
// does not: the caller writes the file.
bool link_from_reuse_source(const wchar_t* name, unsigned long long size, const unsigned char* digest,
                            const wchar_t* path);

// Whether files are linked: a file written afterwards must not write into one.
bool reuse_source_in_use();

// Once the payload is decoded: waits for the links, and copies each file
// that could not be linked (a file system without links). A copy that fails
// is the write error.
void finish_links();

// Lets the reuse source go.
void release_reuse_source();

// cache_repair.cpp: for a repair, holds the key folder's record alone
// (no other run holds the folder); false when it carries no mark, is a
// link, or is held.
bool hold_for_repair(CacheFolders& folders);

// Whether the key folder's file `name` fails the check (missing, of another
// size, a link or a folder); such a file is written and renamed over it.
bool needs_repair(const CacheFolders& folders, const wchar_t* name, unsigned long long size);

// Renames the written files over the key folder's and writes `record` as
// its record; false, leaving the rest alone, when a file cannot be replaced
// (in use) or would be renamed through a link. Lets the held record go
// either way; on success the record is held for reading.
bool finish_repair(CacheFolders& folders, const std::vector<unsigned char>& record);

// cache_check.cpp: the record of `folder`, opened for reading (and to set
// its time) and shared for reading only (held open, that is the in-use
// mark); INVALID_HANDLE_VALUE when it cannot be.
HANDLE open_record(const wchar_t* folder);

// The whole of the open `file`; false when it cannot be read.
bool read_whole_file(HANDLE file, std::vector<unsigned char>& data);

// The cheap check: the record names `key` and lists at least the main
// library, and every file it lists is there with its size. Contents are not
// read. With `keep`, a complete folder's record stays open in *keep.
bool folder_is_complete(const wchar_t* folder, const wchar_t* key, HANDLE* keep);

// Sorts `files` as present_files lists them, by folder, then by name.
void sort_listed_files(std::vector<cache_record::ListedFile>& files);

// The index of `name` in `files` sorted as above, or files.size().
size_t find_listed_file(const std::vector<cache_record::ListedFile>& files, const wchar_t* name);

// For `files` (sorted), whether each is in `folder` as a plain file (no
// link) of its size, with no link on the way to it; one listing per folder.
std::vector<bool> present_files(const wchar_t* folder, const std::vector<cache_record::ListedFile>& files);

// Whether a folder between `folder` and its file `name` (folder itself
// excluded) is a link.
bool crosses_link(const wchar_t* folder, const wchar_t* name);

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

// Sets the held `record`'s last-write time to now: the key's last use. One
// small write, silent when it fails.
void note_last_use(HANDLE record);

// folder_aside.cpp: a fresh name of the target folder's shape for this
// process, joined to `root` in `out` (kPathCapacity units).
void make_fresh_folder(wchar_t* out, const wchar_t* root);

// Deletes a folder of the launcher's once; one that stays (something in it
// is in use) gets its mark again, so that a later sweep can finish it.
void delete_marked_folder(const wchar_t* folder);

// Moves `folder` of `root` aside under a fresh name and deletes it (a link
// is removed where it is); false when it carries no mark or cannot be moved
// (in use).
bool remove_marked_folder(const wchar_t* root, const wchar_t* folder);
