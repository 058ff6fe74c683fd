// Cache mode (onefile-pack --cache): the payload is unpacked once into
// <root>\<key> and reused while the key is the same.
//
// A first start unpacks into a staging folder beside it, named like a fresh
// target folder ("onefile_<parent PID>_<TIME_US>_<RANDOM>", the child derives
// the same name from the inherited variables), writes the completion record
// last and renames the staging folder into place in one step. The loser of
// two such renames deletes its own staging folder and uses the winner's.
// Later starts check the record: the key, and every file it lists present
// with its size. A folder that fails the check is replaced by a new one; if
// it is in use and cannot be moved away, the run uses its staging folder and
// leaves the damaged one for later.
//
// A running parent keeps the record open without delete sharing: that marks
// the folder as in use for the removal of older keys.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/launcher.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"
#include "payload/cache_record.h"
#include "payload/unpack.h"

namespace {

constexpr size_t kKeyUnits = 32;
constexpr wchar_t kStagingTemplate[] = L"\\onefile_{PID}_{TIME_US}_{RANDOM}";

wchar_t g_cache_root[kPathCapacity];
wchar_t g_cache_folder[kPathCapacity];
wchar_t g_staging_folder[kPathCapacity];

// The record being built while unpacking: a heap buffer that grows.
unsigned char* g_record = nullptr;
size_t g_record_size = 0;
size_t g_record_capacity = 0;
size_t g_record_count_at = 0;
uint32_t g_record_files = 0;

void record_bytes(const void* data, size_t size) {
  if (g_record_size + size > g_record_capacity) {
    size_t capacity = g_record_capacity ? g_record_capacity * 2 : 65536;
    while (capacity < g_record_size + size) capacity *= 2;
    auto* grown = static_cast<unsigned char*>(realloc(g_record, capacity));
    if (!grown) fail_message(msg::kAllocate);
    g_record = grown;
    g_record_capacity = capacity;
  }
  memcpy(g_record + g_record_size, data, size);
  g_record_size += size;
}

// The record's numbers and text units are little-endian, `bytes` wide.
void put_le(unsigned char* p, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t read_le(const unsigned char* p, int bytes) {
  uint64_t value = 0;
  for (int i = bytes; i-- > 0;) value = (value << 8) | p[i];
  return value;
}

void record_le(uint64_t value, int bytes) {
  unsigned char buffer[8];
  put_le(buffer, value, bytes);
  record_bytes(buffer, static_cast<size_t>(bytes));
}

void record_text(const wchar_t* text, size_t units) {
  for (size_t i = 0; i < units; ++i) record_le(static_cast<uint16_t>(text[i]), 2);
}

// `folder`, a backslash and `name` in `out` (kPathCapacity units).
void join(wchar_t* out, const wchar_t* folder, const wchar_t* name) { bounded_join(out, kPathCapacity, folder, name); }

// The record's file name, widened once.
const wchar_t* record_name() {
  static wchar_t name[sizeof cache_record::kName];
  if (!name[0]) widen_bytes(cache_record::kName, name, sizeof cache_record::kName);
  return name;
}

void record_path(wchar_t* out, const wchar_t* folder) { join(out, folder, record_name()); }

// The whole of the open `file` into a heap buffer; null when it cannot be read.
unsigned char* read_whole_file(HANDLE file, size_t& size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length) || length.QuadPart > 0x7fffffff) return nullptr;
  size = static_cast<size_t>(length.QuadPart);
  auto* data = static_cast<unsigned char*>(malloc(size ? size : 1));
  DWORD read = 0;
  if (data && (!ReadFile(file, data, static_cast<DWORD>(size), &read, nullptr) || read != size)) {
    free(data);
    return nullptr;
  }
  return data;
}

// One file the record lists: its name (directory part first, then the file
// name at `file`) and its size.
struct ListedFile {
  const wchar_t* name;
  size_t file;
  uint64_t size;
};

// Orders files by directory, then by name, so that each directory's files
// form one run that its listing can be matched against.
int compare_listed(const void* a, const void* b) {
  const auto& x = *static_cast<const ListedFile*>(a);
  const auto& y = *static_cast<const ListedFile*>(b);
  const int directories = wmemcmp(x.name, y.name, x.file < y.file ? x.file : y.file);
  if (directories != 0) return directories;
  if (x.file != y.file) return x.file < y.file ? -1 : 1;
  return wcscmp(x.name + x.file, y.name + y.file);
}

// The files of one directory, `first` to `end`, sorted by name: true when
// its listing holds each of them as a file of its size. One listing per
// directory instead of one query per file: a listing does not open the files,
// which on Windows every scanner would inspect.
bool directory_holds(const wchar_t* folder, const ListedFile* first, const ListedFile* end) {
  wchar_t pattern[kPathCapacity];
  join(pattern, folder, first->name);
  pattern[wcslen(folder) + 1 + first->file] = L'\0';
  bounded_append(pattern, kPathCapacity, L"*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return false;
  size_t matched = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const ListedFile* low = first;
    const ListedFile* high = end;
    while (low < high) {
      const ListedFile* middle = low + (high - low) / 2;
      const int order = wcscmp(middle->name + middle->file, found.cFileName);
      if (order == 0) {
        matched += ((uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow) == middle->size;
        break;
      }
      if (order < 0) low = middle + 1;
      else high = middle;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return matched == static_cast<size_t>(end - first);
}

// Whether every file of the record's list (`data`, `size` bytes from the
// count on) is in `folder` with its size.
bool files_are_present(const wchar_t* folder, const unsigned char* data, size_t size) {
  if (size < 4) return false;
  const uint64_t count = read_le(data, 4);
  // Each file takes at least 12 bytes: a count beyond that is damage.
  if (count > (size - 4) / 12) return false;
  auto* files = static_cast<ListedFile*>(malloc((count ? count : 1) * sizeof(ListedFile)));
  // The names, each with a terminator, take no more units than the record
  // has bytes.
  auto* names = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
  bool complete = files && names;
  size_t at = 4, used = 0;
  for (uint64_t i = 0; complete && i < count; ++i) {
    const size_t units = size - at >= 2 ? static_cast<size_t>(read_le(data + at, 2)) : 0;
    at += 2;
    complete = units > 0 && size - at >= units * 2 + 8;
    if (!complete) break;
    ListedFile& file = files[i];
    file.name = names + used;
    file.file = 0;
    for (size_t u = 0; u < units; ++u) {
      names[used] = static_cast<wchar_t>(read_le(data + at + 2 * u, 2));
      if (names[used++] == L'\\') file.file = u + 1;
    }
    names[used++] = L'\0';
    at += units * 2;
    file.size = read_le(data + at, 8);
    at += 8;
  }
  complete = complete && at == size;
  if (complete) qsort(files, static_cast<size_t>(count), sizeof(ListedFile), compare_listed);
  for (size_t first = 0; complete && first < count;) {
    size_t end = first + 1;
    while (end < count && files[end].file == files[first].file &&
           wmemcmp(files[end].name, files[first].name, files[first].file) == 0)
      ++end;
    complete = directory_holds(folder, files + first, files + end);
    first = end;
  }
  free(names);
  free(files);
  return complete;
}

// The record of `folder`, opened for reading without delete sharing (held
// open, that is the in-use mark); INVALID_HANDLE_VALUE when it cannot be.
HANDLE open_record(const wchar_t* folder) {
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  // Another start's sweep may hold the record for a moment to see whether
  // it is in use: that is no damage.
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION && attempt < 100;
       ++attempt) {
    Sleep(10);
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  return file;
}

// The cheap check: the record names our key, and every file it lists is
// there with its size. Contents are not read. With `keep`, a complete
// folder's record stays open (the in-use mark) in *keep.
bool folder_is_complete(const wchar_t* folder, HANDLE* keep) {
  HANDLE file = open_record(folder);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t size = 0;
  unsigned char* data = read_whole_file(file, size);
  bool complete = data && size >= 12 && memcmp(data, cache_record::kMagic, 8) == 0;
  size_t at = 8;
  if (complete) {
    const uint64_t key_units = read_le(data + at, 4);
    at += 4;
    complete = key_units == wcslen(onefile_cache_key) && size - at >= key_units * 2;
    for (size_t i = 0; complete && i < key_units; ++i)
      complete = read_le(data + at + 2 * i, 2) == static_cast<uint64_t>(onefile_cache_key[i]);
    at += static_cast<size_t>(key_units) * 2;
  }
  complete = complete && files_are_present(folder, data + at, size - at);
  free(data);
  if (complete && keep) *keep = file;
  else CloseHandle(file);
  return complete;
}

// A fresh folder name of the staging shape for this process, for moving a
// folder out of the way before it is deleted.
void make_moved_away_name(wchar_t* out) {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  wchar_t random[12];
  random_text_from_seed(static_cast<uint32_t>(counter.QuadPart ^ (counter.QuadPart >> 32)) | 1, random);
  wchar_t name[64];
  swprintf(name, 64, L"onefile_%lu_%06lu_%ls", GetCurrentProcessId(),
           static_cast<unsigned long>((counter.QuadPart / 10) % 1000000), random);
  join(out, g_cache_root, name);
}

// Moves `folder` aside and deletes it; false when it cannot be moved (in use).
bool remove_folder(const wchar_t* folder) {
  wchar_t moved[kPathCapacity];
  make_moved_away_name(moved);
  if (!MoveFileExW(folder, moved, 0)) return false;
  delete_tree_once(moved);
  return true;
}

HANDLE g_record_in_use = INVALID_HANDLE_VALUE;

// The run goes on in the cache folder, which no ending deletes, neither a
// fatal stop nor an interruption.
void use_cache_folder() {
  g_before_fatal_stop = nullptr;
  g_unpack_started = 0;
  bounded_copy(g_target_directory, kPathCapacity, g_cache_folder);
  // A folder this run has just renamed into place needs no check.
  if (g_record_in_use == INVALID_HANDLE_VALUE) g_record_in_use = open_record(g_cache_folder);
}

bool is_hex_key(const wchar_t* name) {
  size_t n = 0;
  for (; name[n]; ++n)
    if (!((name[n] >= L'0' && name[n] <= L'9') || (name[n] >= L'a' && name[n] <= L'f'))) return false;
  return n == kKeyUnits;
}

// An older key's folder that no parent holds: its record opens without
// sharing. One without a record is taken as unused once it can be moved.
bool key_folder_unused(const wchar_t* folder) {
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

// One folder in the cache root, after the child has started.
void sweep_cache_entry(const wchar_t* path, const WIN32_FIND_DATAW& found, void*) {
  // Staging folders of first starts that were killed. They have the shape
  // of a target folder, so the temp folder's sweep, should a cache root be
  // the temp folder, treats them alike: removed only once their owner is
  // gone. A key folder never has that shape.
  if (owner_is_gone(found.cFileName)) delete_tree_once(path);
  // Folders of older keys that no run uses.
  if (is_hex_key(found.cFileName) && wcscmp(found.cFileName, onefile_cache_key) != 0 && key_folder_unused(path))
    remove_folder(path);
}

}  // namespace

bool cache_mode() { return onefile_cache_key[0] != L'\0'; }

const wchar_t* target_folder_template() {
  return onefile_target_template[0] ? onefile_target_template : kTargetDirectoryTemplate;
}

bool choose_cache_folder(bool child_role) {
  bounded_copy(g_cache_root, kPathCapacity, g_target_directory);
  join(g_cache_folder, g_cache_root, onefile_cache_key);
  bounded_copy(g_staging_folder, kPathCapacity, g_cache_root);
  const size_t root_length = wcslen(g_cache_root);
  if (!expand_path_template(g_staging_folder + root_length, kStagingTemplate, kPathCapacity - root_length))
    fail_template(kStagingTemplate);
  if (child_role) {
    // The parent's staging folder still exists only when it could not
    // replace a damaged folder in use.
    bounded_copy(g_target_directory, kPathCapacity,
                 is_directory(g_staging_folder) ? g_staging_folder : g_cache_folder);
    return false;
  }
  if (folder_is_complete(g_cache_folder, &g_record_in_use)) {
    bounded_copy(g_target_directory, kPathCapacity, g_cache_folder);
    return false;
  }
  // The caller creates it fresh, as every target folder.
  bounded_copy(g_target_directory, kPathCapacity, g_staging_folder);
  record_bytes(cache_record::kMagic, sizeof cache_record::kMagic);
  record_le(wcslen(onefile_cache_key), 4);
  record_text(onefile_cache_key, wcslen(onefile_cache_key));
  g_record_count_at = g_record_size;
  record_le(0, 4);
  return true;
}

void note_cached_file(const wchar_t* name, unsigned long long size) {
  // The record's own name is no file of the app: a payload holding it is
  // not one the packer wrote.
  if (_wcsicmp(name, record_name()) == 0) fail_message(msg::kDecode);
  const size_t units = wcslen(name);
  record_le(units, 2);
  record_text(name, units);
  record_le(size, 8);
  ++g_record_files;
}

void publish_cache_folder() {
  put_le(g_record + g_record_count_at, g_record_files, 4);
  wchar_t path[kPathCapacity];
  record_path(path, g_staging_folder);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) fail_open_for_writing(path);
  DWORD written = 0;
  if (!WriteFile(file, g_record, static_cast<DWORD>(g_record_size), &written, nullptr))
    fail_system(msg::kWrite, GetLastError());
  if (written != g_record_size) fail_system(msg::kWrite, ERROR_DISK_FULL);
  if (!CloseHandle(file)) fail_system(msg::kWrite, GetLastError());
  free(g_record);
  g_record = nullptr;

  // From here on the staging folder is complete: no ending deletes it.
  if (MoveFileExW(g_staging_folder, g_cache_folder, 0)) return use_cache_folder();
  // Another first start won the rename: use its folder.
  if (folder_is_complete(g_cache_folder, &g_record_in_use)) {
    delete_tree_once(g_staging_folder);
    return use_cache_folder();
  }
  // The folder in place is damaged: move it away and ours in. One in use
  // cannot be moved; this run then uses the staging folder.
  if (remove_folder(g_cache_folder) && MoveFileExW(g_staging_folder, g_cache_folder, 0)) return use_cache_folder();
  if (folder_is_complete(g_cache_folder, &g_record_in_use)) {
    delete_tree_once(g_staging_folder);
    return use_cache_folder();
  }
}

void sweep_cache_root() {
  for_each_folder(g_cache_root, L"*", sweep_cache_entry, nullptr);
}
