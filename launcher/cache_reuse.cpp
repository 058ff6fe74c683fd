// An update's first start: files whose name, size and digest equal those of
// the most recently used other key folder of the root (whose record has
// digests) become hard links to its files instead of being written. The
// record's digests are the packer's; the launcher hashes nothing. Only files
// the listing shows there, of their size, as plain files below no link, are
// taken, and the other folder's record is held meanwhile, so that no sweep
// removes the folder. The payload is still decoded whole, so its checksum
// is checked before the app runs.
//
// The links are made by a thread of their own while the main thread
// decodes on: under Wine a link costs a few round trips to the server, about
// as much as decoding the file's share of the payload. Where a link cannot
// be made (a file system without them), the file is copied from the other
// folder once decoding is done.
#include "launcher/cache_reuse.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

#include "diag/fail.h"
#include "launcher/cache_check.h"
#include "launcher/cache_keys.h"
#include "launcher/run_state.h"
#include "paths/build_texts.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

namespace {

using cache_record::ListedFile;

// A link to make: the other folder's file and its place in the staging folder.
struct Link {
  std::wstring from, to;
  bool made = false;
};

struct ReuseSource {
  wchar_t folder[kPathCapacity];  // empty: none
  HANDLE record = INVALID_HANDLE_VALUE;
  std::vector<ListedFile> files;  // sorted by sort_listed_files
  std::vector<bool> present;

  // The links, appended by the main thread and made in order by the
  // worker; `lock` guards the vector's growth, `next` and `done`.
  std::vector<Link> links;
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
  size_t next = 0;
  bool done = false;  // no more links will come, or the run is ending
  HANDLE worker = nullptr;
  void (*stop_before)() = nullptr;  // the fatal-stop hook the worker's stop comes before
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

DWORD WINAPI make_links(void*) {
  AcquireSRWLockExclusive(&g_source.lock);
  for (;;) {
    while (g_source.next == g_source.links.size() && !g_source.done)
      SleepConditionVariableSRW(&g_source.wake, &g_source.lock, INFINITE, 0);
    // An ending run (an interruption deletes the staging folder) makes no more.
    if (g_source.next == g_source.links.size() || g_parent.interrupted) break;
    Link& link = g_source.links[g_source.next];
    const std::wstring from = link.from, to = link.to;
    ReleaseSRWLockExclusive(&g_source.lock);
    const bool made = CreateHardLinkW(to.c_str(), from.c_str(), nullptr) != 0;
    AcquireSRWLockExclusive(&g_source.lock);
    g_source.links[g_source.next++].made = made;
  }
  ReleaseSRWLockExclusive(&g_source.lock);
  return 0;
}

// Tells the worker that no more links come and waits until it has ended.
void stop_worker() {
  if (!g_source.worker) return;
  AcquireSRWLockExclusive(&g_source.lock);
  g_source.done = true;
  ReleaseSRWLockExclusive(&g_source.lock);
  WakeConditionVariable(&g_source.wake);
  WaitForSingleObject(g_source.worker, INFINITE);
  CloseHandle(g_source.worker);
  g_source.worker = nullptr;
}

// A fatal stop deletes the staging folder: no link may come into it after.
void stop_worker_before_fatal_stop() {
  stop_worker();
  if (g_source.stop_before) g_source.stop_before();
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
  if (!g_source.worker) {
    g_source.worker = CreateThread(nullptr, 64 * 1024, make_links, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!g_source.worker) return false;
    g_source.stop_before = g_before_fatal_stop;
    g_before_fatal_stop = stop_worker_before_fatal_stop;
  }
  // Folders are made here: the list of known folders is the main thread's.
  create_parent_directories(path);
  wchar_t from[kPathCapacity];
  bounded_join(from, kPathCapacity, g_source.folder, name);
  AcquireSRWLockExclusive(&g_source.lock);
  g_source.links.push_back({from, path, false});
  ReleaseSRWLockExclusive(&g_source.lock);
  WakeConditionVariable(&g_source.wake);
  return true;
}

bool reuse_source_in_use() { return !g_source.links.empty(); }

void finish_links() {
  if (!g_source.worker) return;
  stop_worker();
  g_before_fatal_stop = g_source.stop_before;
  // A link that could not be made is a copy of the same file.
  for (const Link& link : g_source.links)
    if (!link.made && !CopyFileW(link.from.c_str(), link.to.c_str(), TRUE)) fail_open_for_writing(link.to.c_str());
}

void release_reuse_source() {
  if (g_source.record != INVALID_HANDLE_VALUE) CloseHandle(g_source.record);
  g_source.record = INVALID_HANDLE_VALUE;
  g_source.folder[0] = L'\0';
}
