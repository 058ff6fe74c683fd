#include "payload/unpack.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "contract/entry_names.h"
#include "contract/format.h"
#include "contract/little_endian.h"
#include "diag/fail.h"
#include "diag/messages.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"
#include "payload/reader.h"
#include "system/system_functions.h"

namespace {

unsigned char g_write_buffer[kWriteChunk];
HANDLE g_file_being_written = INVALID_HANDLE_VALUE;

// Heap copies of directories known to exist, with the home directory once a
// directory had to be made. Never emptied; once full, later directories are
// created but not remembered.
wchar_t* g_known_directories[kKnownDirectorySlots];
size_t g_known_directory_count = 0;
bool g_home_known = false;

void remember_directory(const wchar_t* path) {
  if (g_known_directory_count >= kKnownDirectorySlots) return;
  // Without memory for the copy the directory just stays unremembered.
  wchar_t* copy = _wcsdup(path);
  if (copy) g_known_directories[g_known_directory_count++] = copy;
}

// Reads the next name into `name`, one little-endian unit at a time. A
// name that does not end within the buffer lies outside the format: the
// stream cannot be right.
void read_entry_name(wchar_t (&name)[payload_format::kNameBufferUnits]) {
  for (size_t i = 0;; ++i) {
    unsigned char bytes[2];
    payload_read(bytes, 2);
    const auto unit = static_cast<wchar_t>(little_endian::read(bytes, 2));
    if (i == payload_format::kNameBufferUnits - 1 && unit != 0) fail_message(msg::kDecode);
    name[i] = unit;
    if (unit == 0) return;
  }
}

}  // namespace

bool read_next_entry(const wchar_t* target_directory, Entry& entry) {
  read_entry_name(entry.name);
  entry.size = 0;
  if (entry.name[0] == 0) return false;
  // A damaged or crafted payload must not write outside the directory.
  if (!payload_names::is_plain_relative_name(entry.name, wcslen(entry.name))) fail_message(msg::kDecode);
  bounded_join(entry.path, kPathCapacity, target_directory, entry.name);
  return true;
}

EntryOutcome unpack_next_entry(const wchar_t* target_directory, const volatile LONG& stop, Entry& entry) {
  if (!read_next_entry(target_directory, entry)) return EntryOutcome::end_of_list;
  read_entry_size(entry);
  return write_entry_file(entry.path, entry.size, stop) ? EntryOutcome::file_written : EntryOutcome::interrupted;
}

bool read_first_entry_path(const wchar_t* target_directory, wchar_t* main_library_path) {
  Entry entry;
  if (!read_next_entry(target_directory, entry)) return false;
  bounded_copy(main_library_path, kPathCapacity, entry.path);
  return true;
}

void close_file_being_written() {
  if (g_file_being_written == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_file_being_written);
  g_file_being_written = INVALID_HANDLE_VALUE;
}

void read_entry_size(Entry& entry) {
  unsigned char size_bytes[8];
  payload_read(size_bytes, sizeof(size_bytes));
  entry.size = little_endian::read(size_bytes, sizeof(size_bytes));
}

void skip_entry_content(unsigned long long size) {
  for (uint64_t remaining = size; remaining > 0;) {
    const size_t n = remaining < kWriteChunk ? static_cast<size_t>(remaining) : kWriteChunk;
    payload_read(g_write_buffer, n);
    remaining -= n;
  }
}

bool write_entry_file(const wchar_t* entry_path, unsigned long long size, const volatile LONG& stop) {
  uint64_t remaining = size;
  create_parent_directories(entry_path);
  HANDLE file = CreateFileW(entry_path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
  // Stopped: the thread that stopped unpacking may already be deleting the
  // directory, so a failed open is no failure of ours. A fatal stop closes the file
  // before the directory is deleted.
  g_file_being_written = file;
  if (file == INVALID_HANDLE_VALUE && !stop) fail_open_for_writing(entry_path);

  while (remaining > 0) {
    // Checked between chunks, so that a large file is closed at once and the
    // stopping thread's deletion can remove it.
    if (stop) {
      close_file_being_written();
      return false;
    }
    DWORD n = remaining < kWriteChunk ? static_cast<DWORD>(remaining) : static_cast<DWORD>(kWriteChunk);
    payload_read(g_write_buffer, n);
    DWORD written = 0;
    if (!sys::WriteFile(file, g_write_buffer, n, &written, nullptr))
      fail_system(msg::kWrite, GetLastError(), entry_path);
    // A synchronous write to a file stops short only when the disk is full.
    if (written != n) fail_system(msg::kWrite, ERROR_DISK_FULL);
    remaining -= n;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  g_file_being_written = INVALID_HANDLE_VALUE;
  // A close can report data that never reached the disk.
  if (!sys::CloseHandle(file)) fail_system(msg::kWrite, GetLastError(), entry_path);
  return true;
}

bool create_target_directory(const wchar_t* target_directory) {
  create_parent_directories(target_directory);
  if (!CreateDirectoryW(target_directory, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) fail_system(msg::kWrite, error, target_directory);
    return false;
  }
  remember_directory(target_directory);
  return true;
}

bool ensure_directory(const wchar_t* path) {
  for (size_t i = 0; i < g_known_directory_count; ++i)
    if (wcscmp(g_known_directories[i], path) == 0) return true;

  // A bare drive such as "C:" cannot be created; take it as existing.
  if (path[0] != 0 && path[1] == L':' && path[2] == 0) return true;

  // An existing directory needs nothing more.
  if (is_directory(path)) {
    remember_directory(path);
    return true;
  }
  // The home directory always exists and must never be created. It is
  // looked up only now, when a directory is missing: a start that creates
  // none (the temp folder is there, a cache hit) never pays for the lookup.
  if (!g_home_known) {
    g_home_known = true;
    wchar_t home[kPathCapacity];
    if (!expand_path_template(home, kHomeTemplate, kPathCapacity)) fail_template(kHomeTemplate);
    remember_directory(home);
    if (wcscmp(home, path) == 0) return true;
  }

  if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  remember_directory(path);
  return true;
}

namespace {

// One level of the walk over `path`, whose text ends at `end`: cuts it at its
// last backslash that is not the first unit, makes sure that parent exists,
// and puts the backslash back for the caller. All levels share the caller's
// buffer, so a name of 512 levels costs a few bytes of stack per level, not a
// path buffer each.
void ensure_parents(wchar_t* path, size_t end) {
  size_t cut = end;
  while (cut > 1 && path[cut - 1] != L'\\') --cut;
  if (cut <= 1) return;
  path[cut - 1] = 0;

  if (!ensure_directory(path)) {
    // Creation failed, most likely because the level above is missing too:
    // make the ones above first, then try this one once more. A directory
    // that still cannot be made shows up when the file's open fails.
    ensure_parents(path, cut - 1);
    ensure_directory(path);
  }
  path[cut - 1] = L'\\';
}

}  // namespace

void create_parent_directories(const wchar_t* path) {
  wchar_t parent[kPathCapacity];
  bounded_copy(parent, kPathCapacity, path);
  ensure_parents(parent, wcslen(parent));
}
