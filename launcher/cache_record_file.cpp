// The cache record's file: where it lies in a folder, and writing it.
#include "launcher/cache_record_file.h"

#include <windows.h>

#include "contract/cache_record.h"
#include "diag/fail.h"
#include "diag/messages.h"
#include "paths/env.h"
#include "paths/wide_path.h"

const wchar_t* record_name() {
  // Widened once.
  static wchar_t name[sizeof cache_record::kName];
  if (!name[0]) widen_bytes(cache_record::kName, name, sizeof cache_record::kName);
  return name;
}

void record_path(wchar_t* out, const wchar_t* folder) { bounded_join(out, kPathCapacity, folder, record_name()); }

void write_record(const wchar_t* folder, const unsigned char* data, size_t size, bool create) {
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  // Over the mark, the full record starts with the same bytes: the file
  // carries the magic at every moment, even if the run dies while writing.
  const DWORD disposition = create ? CREATE_NEW : OPEN_EXISTING;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
  // A scanner may look at the mark for a moment.
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION && attempt < 100;
       ++attempt) {
    Sleep(10);
    file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) fail_open_for_writing(path);
  DWORD written = 0;
  if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)) fail_system(msg::kWrite, GetLastError());
  if (written != size) fail_system(msg::kWrite, ERROR_DISK_FULL);
  if (!CloseHandle(file)) fail_system(msg::kWrite, GetLastError());
}

void note_last_use(HANDLE record) {
  if (record == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(record, nullptr, nullptr, &now);
}
