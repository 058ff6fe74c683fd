// Repairing a key folder in place: only the files that fail the check
// (missing, of another size, a link or a folder in a file's place) are
// written, into the run's staging folder, and once the whole payload has
// been decoded and its checksum holds, each is renamed over its place in
// the key folder: the file is replaced, never written into (it may be a
// link shared with another key's folder). Every other file stays as it is,
// the app's own (a log, its settings) included. The repair holds the key
// folder's record alone, so no other run uses the folder meanwhile; a
// folder that another run holds is not repaired.
#include "launcher/cache_repair.h"

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/cache_check.h"
#include "launcher/cache_record_file.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

namespace {

constexpr int kHoldAttempts = 10;

}  // namespace

bool hold_for_repair(CacheFolders& folders) {
  if (!is_directory(folders.key_folder) || is_link(folders.key_folder)) return false;
  wchar_t path[kPathCapacity];
  record_path(path, folders.key_folder);
  HANDLE record = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  // A sweep or a scanner may look at it for a moment; a run holds it longer.
  for (int attempt = 0; record == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION &&
                        attempt < kHoldAttempts;
       ++attempt) {
    Sleep(10);
    record = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  if (record == INVALID_HANDLE_VALUE) return false;
  unsigned char magic[sizeof cache_record::kMagic];
  DWORD read = 0;
  // Without the mark the folder is not the launcher's to repair.
  if (!ReadFile(record, magic, sizeof magic, &read, nullptr) || !cache_record::has_magic(magic, read)) {
    CloseHandle(record);
    return false;
  }
  folders.record_in_use = record;
  return true;
}

bool needs_repair(CacheFolders& folders, const wchar_t* name, unsigned long long size) {
  wchar_t path[kPathCapacity];
  bounded_join(path, kPathCapacity, folders.key_folder, name);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(path, GetFileExInfoStandard, &data) &&
      !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
      ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) == size)
    return false;
  folders.repaired.emplace_back(name);
  return true;
}

bool finish_repair(CacheFolders& folders, const std::vector<unsigned char>& record) {
  HANDLE held = folders.record_in_use;
  folders.record_in_use = INVALID_HANDLE_VALUE;
  bool done = true;
  for (const std::wstring& name : folders.repaired) {
    // A folder on the way that is a link would take the file elsewhere.
    if (crosses_link(folders.key_folder, name.c_str())) {
      done = false;
      break;
    }
    wchar_t from[kPathCapacity], to[kPathCapacity];
    bounded_join(from, kPathCapacity, folders.staging, name.c_str());
    bounded_join(to, kPathCapacity, folders.key_folder, name.c_str());
    create_parent_directories(to);
    // Fails for a file in use (a running program, an open file without
    // delete sharing) and for a folder in its place: both stay.
    if (!MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)) {
      done = false;
      break;
    }
  }
  // The record lists every file again (it may have been the damage). It
  // starts with the magic, as the one it replaces.
  LARGE_INTEGER start = {};
  DWORD written = 0;
  done = done && SetFilePointerEx(held, start, nullptr, FILE_BEGIN) &&
         WriteFile(held, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
         written == record.size() && SetEndOfFile(held);
  CloseHandle(held);
  if (done) folders.record_in_use = open_record(folders.key_folder);
  return done;
}
