// Deleting the target directory with everything in it, retried while files in
// it are still in use.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "launcher/launcher.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

namespace {

constexpr int kDeleteRetries = 20;
constexpr DWORD kDeletePauseMs = 100;
constexpr size_t kExtendedPathCapacity = 32768;

// Deletes everything below the directory named by `path` (extended-length
// form, `length` units, in a buffer of kExtendedPathCapacity). Links inside
// the tree are removed themselves and never followed, so nothing outside the
// tree is touched.
void delete_below(wchar_t* path, size_t length) {
  if (length + 3 > kExtendedPathCapacity) return;
  wmemcpy(path + length, L"\\*", 3);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  path[length] = L'\0';
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    size_t name_length = wcslen(name);
    if (length + 1 + name_length + 1 > kExtendedPathCapacity) continue;
    path[length] = L'\\';
    wmemcpy(path + length + 1, name, name_length + 1);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) delete_below(path, length + 1 + name_length);
      RemoveDirectoryW(path);
    } else {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path);
    }
    path[length] = L'\0';
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

// Deletes `directory` with everything in it. Paths in the tree may pass
// MAX_PATH, which the shell's file operation cannot handle (under Wine it
// then even deletes files of the current directory), so the walk uses
// extended-length paths. Whatever cannot be deleted yet stays; the caller
// retries. Both threads may run this at once: the buffer is per call.
void delete_tree_once(const wchar_t* directory) {
  wchar_t* path = static_cast<wchar_t*>(malloc(kExtendedPathCapacity * sizeof(wchar_t)));
  if (!path) return;
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = directory;
  if (wcsncmp(directory, L"\\\\?\\", 4) == 0) {
    prefix = L"";
  } else if (wcsncmp(directory, L"\\\\", 2) == 0) {
    prefix = L"\\\\?\\UNC\\";
    rest = directory + 2;
  }
  path[0] = L'\0';
  bounded_append(path, kExtendedPathCapacity, prefix);
  bounded_append(path, kExtendedPathCapacity, rest);
  delete_below(path, wcslen(path));
  RemoveDirectoryW(path);
  free(path);
}

void delete_target_directory() {
  // The deletion fails while a file in the tree is still open (the child may
  // take a moment to release its files): retry for about two seconds.
  delete_tree_once(g_target_directory);
  for (int attempt = 0; attempt < kDeleteRetries; ++attempt) {
    DWORD attributes = GetFileAttributesW(g_target_directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    Sleep(kDeletePauseMs);
    delete_tree_once(g_target_directory);
  }
}
