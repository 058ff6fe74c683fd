// Sweeping stale target directories: a parent that was killed could not
// delete its directory, so any later parent removes such leftovers while its
// own child runs. Only directories directly in the temp directory whose name
// has the target directory's exact shape, whose parent no longer runs, that
// are older than a minute and that can be renamed (a directory holding a file
// in use cannot) are deleted; links are never followed.
#include <windows.h>

#include <cwchar>

#include "launcher/launcher.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

namespace {

constexpr ULONGLONG kMinimumAge = 60ull * 10000000;  // one minute, in 100 ns units
constexpr wchar_t kPrefix[] = L"onefile_";
constexpr size_t kPrefixLength = sizeof(kPrefix) / sizeof(wchar_t) - 1;

ULONGLONG ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool is_url_safe(wchar_t c) {
  return is_digit(c) || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'-' || c == L'_';
}

bool process_runs(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

void sweep_entry(const wchar_t* path, const WIN32_FIND_DATAW& found, void* now) {
  if (*static_cast<ULONGLONG*>(now) < ticks(found.ftCreationTime) + kMinimumAge || !owner_is_gone(found.cFileName))
    return;

  wchar_t moved[kFolderPathCapacity];
  bounded_copy(moved, kFolderPathCapacity, path);
  bounded_append(moved, kFolderPathCapacity, L".sweeping");
  // The rename is the test that nothing in it is in use. Renamed back, the
  // directory keeps its shape, so a sweep cut short is finished by the next.
  if (!MoveFileExW(path, moved, 0)) return;
  if (!MoveFileExW(moved, path, 0)) {
    delete_tree_once(moved);
    return;
  }
  delete_tree_once(path);
}

DWORD WINAPI sweep(void*) {
  wchar_t temp[kPathCapacity];
  const DWORD length = GetTempPathW(kPathCapacity, temp);
  if (length == 0 || length >= kPathCapacity) return 0;
  while (wchar_t* end = wcsrchr(temp, L'\\')) {
    if (end[1] != L'\0') break;
    *end = L'\0';
  }
  FILETIME now_time;
  GetSystemTimeAsFileTime(&now_time);
  ULONGLONG now = ticks(now_time);
  for_each_folder(temp, L"onefile_*", sweep_entry, &now);
  return 0;
}

}  // namespace

void for_each_folder(const wchar_t* parent, const wchar_t* pattern, FolderVisitor visit, void* context) {
  wchar_t path[kFolderPathCapacity];
  bounded_join(path, kFolderPathCapacity, parent, pattern);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(path, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
      continue;
    bounded_join(path, kFolderPathCapacity, parent, found.cFileName);
    visit(path, found, context);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool owner_is_gone(const wchar_t* name) {
  const DWORD owner = target_directory_owner(name);
  return owner != 0 && owner != GetCurrentProcessId() && !process_runs(owner);
}

DWORD target_directory_owner(const wchar_t* name) {
  if (wcsncmp(name, kPrefix, kPrefixLength) != 0) return 0;
  const wchar_t* p = name + kPrefixLength;
  ULONGLONG pid = 0;
  const wchar_t* digits = p;
  while (is_digit(*p) && p - digits < 10) pid = pid * 10 + static_cast<ULONGLONG>(*p++ - L'0');
  if (p == digits || *p++ != L'_' || pid == 0 || pid > 0xFFFFFFFFull) return 0;
  for (int i = 0; i < 6; ++i)
    if (!is_digit(*p++)) return 0;
  if (*p++ != L'_') return 0;
  for (int i = 0; i < 11; ++i)
    if (!is_url_safe(*p++)) return 0;
  return *p == L'\0' ? static_cast<DWORD>(pid) : 0;
}

HANDLE start_stale_folder_sweep() {
  // A small stack: the sweep keeps a few paths, the walk's buffer is on the heap.
  return CreateThread(nullptr, 128 * 1024, sweep, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}
