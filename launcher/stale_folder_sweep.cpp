// Sweeping stale target directories: a parent that was killed could not
// delete its directory, so any later parent removes such leftovers while its
// own child runs. Only directories directly in the temp directory whose name
// has the target directory's exact shape, whose owner no longer runs, that
// are older than a minute and that can be renamed (a directory holding a file
// in use cannot) are deleted; links are never followed.
#include "launcher/stale_folder_sweep.h"

#include <windows.h>

#include <cwchar>

#include "contract/target_folder_name.h"
#include "launcher/delete_tree.h"
#include "paths/temp_directory.h"
#include "paths/wide_path.h"
#include "system/system_time.h"

namespace {

constexpr ULONGLONG kMinimumAge = 60ull * 10000000;  // one minute, in 100 ns units
// A process created this much later than a folder did not make it. The
// margin covers a clock set back a little between the two.
constexpr ULONGLONG kCreationMargin = 2ull * 10000000;

// Whether process `pid` runs and may have made a folder created at
// `folder_created`: a process created after it has only reused the ID. One
// that exists but may not be looked at counts as running.
bool owner_runs(DWORD pid, ULONGLONG folder_created) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  FILETIME created, exited, kernel, user;
  bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  if (runs && GetProcessTimes(process, &created, &exited, &kernel, &user))
    runs = ticks(created) <= folder_created + kCreationMargin;
  CloseHandle(process);
  return runs;
}

// Whether `name` has the target folder's shape and names as its owner
// another process that no longer runs, or one created after the folder
// (`folder_created`), which only reuses the ID. One that exists but may not
// be looked at counts as running.
bool owner_is_gone(const wchar_t* name, const FILETIME& folder_created) {
  const DWORD owner = target_folder_name::owner(name);
  return owner != 0 && owner != GetCurrentProcessId() && !owner_runs(owner, ticks(folder_created));
}

void sweep_entry(const wchar_t* path, const WIN32_FIND_DATAW& found, void* now) {
  sweep_stale_folder(path, found, *static_cast<ULONGLONG*>(now), delete_tree_once);
}

DWORD WINAPI sweep(void*) {
  wchar_t temp[kPathCapacity];
  if (!temp_directory(temp, kPathCapacity)) return 0;
  ULONGLONG now = system_time();
  for_each_folder(temp, target_folder_name::kSweepPattern, sweep_entry, &now);
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

void sweep_stale_folder(const wchar_t* path, const WIN32_FIND_DATAW& found, ULONGLONG now,
                        void (*remove)(const wchar_t*)) {
  if (now < ticks(found.ftCreationTime) + kMinimumAge || !owner_is_gone(found.cFileName, found.ftCreationTime)) return;
  wchar_t moved[kFolderPathCapacity];
  bounded_copy(moved, kFolderPathCapacity, path);
  bounded_append(moved, kFolderPathCapacity, L".sweeping");
  // The rename is the test that nothing in it is in use. Renamed back, the
  // directory keeps its shape, so a sweep cut short is finished by the next.
  if (!MoveFileExW(path, moved, 0)) return;
  if (!MoveFileExW(moved, path, 0)) {
    remove(moved);
    return;
  }
  remove(path);
}

HANDLE start_stale_folder_sweep() {
  // A small stack: the sweep keeps a few paths, the walk's buffer is on the heap.
  return CreateThread(nullptr, 128 * 1024, sweep, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}
