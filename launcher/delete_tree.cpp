// Deleting a folder tree (the target directory) with everything in it,
// retried while files in it are still in use.
#include "launcher/delete_tree.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "paths/wide_path.h"

namespace {

constexpr int kDeleteRetries = 20;
constexpr DWORD kDeletePauseMs = 100;
constexpr size_t kExtendedPathCapacity = 32768;
// The deepest walk possible: every level adds at least two units to the path.
constexpr size_t kMaxLevels = kExtendedPathCapacity / 2;

// One open folder of the walk: its search, and the length of its path.
struct Level {
  HANDLE search;
  size_t length;
  bool entry_pending;  // `found` holds this level's next entry already
};

// Opens the search of the folder named by `path` (`length` units), leaving
// its first entry in `found`; the path's text is restored.
HANDLE open_search(wchar_t* path, size_t length, WIN32_FIND_DATAW& found) {
  if (length + 3 > kExtendedPathCapacity) return INVALID_HANDLE_VALUE;
  wmemcpy(path + length, L"\\*", 3);
  HANDLE search = FindFirstFileW(path, &found);
  path[length] = L'\0';
  return search;
}

// Deletes everything below the directory named by `path` (extended-length
// form, `length` units, in a buffer of kExtendedPathCapacity). Links inside
// the tree are removed themselves and never followed, so nothing outside the
// tree is touched. The walk keeps its folders in a list on the heap rather
// than on the stack: the app may have built a tree thousands of levels deep.
void delete_below(wchar_t* path, size_t length) {
  Level* levels = static_cast<Level*>(malloc(kMaxLevels * sizeof(Level)));
  if (!levels) return;
  WIN32_FIND_DATAW found;
  size_t depth = 0;
  HANDLE search = open_search(path, length, found);
  if (search != INVALID_HANDLE_VALUE) levels[depth++] = {search, length, true};
  while (depth > 0) {
    Level& level = levels[depth - 1];
    path[level.length] = L'\0';
    if (!level.entry_pending && !FindNextFileW(level.search, &found)) {
      // The folder has been walked: it goes too, unless it is the top.
      FindClose(level.search);
      if (--depth > 0) RemoveDirectoryW(path);
      continue;
    }
    level.entry_pending = false;
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    size_t name_length = wcslen(name);
    if (level.length + 1 + name_length + 1 > kExtendedPathCapacity) continue;
    path[level.length] = L'\\';
    wmemcpy(path + level.length + 1, name, name_length + 1);
    const size_t entry_length = level.length + 1 + name_length;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < kMaxLevels) {
        search = open_search(path, entry_length, found);
        if (search != INVALID_HANDLE_VALUE) {
          levels[depth++] = {search, entry_length, true};
          continue;
        }
      }
      RemoveDirectoryW(path);
    } else {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path);
    }
  }
  path[length] = L'\0';
  free(levels);
}

// `directory` in extended-length form, in a buffer of kExtendedPathCapacity
// units; null without memory.
wchar_t* extended_path(const wchar_t* directory) {
  wchar_t* path = static_cast<wchar_t*>(malloc(kExtendedPathCapacity * sizeof(wchar_t)));
  if (!path) return nullptr;
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
  return path;
}

// Deletes the directory `path` names with everything in it; a link, here or
// below, is removed and never followed. Paths in the tree may pass MAX_PATH,
// which the shell's file operation cannot handle (under Wine it then even
// deletes files of the current directory), so the walk uses extended-length
// paths. Whatever cannot be deleted yet stays; the caller retries.
void delete_tree(wchar_t* path) {
  // A link at the top is removed itself: what it points to is not ours.
  if (is_link(path)) {
    RemoveDirectoryW(path);
    return;
  }
  delete_below(path, wcslen(path));
  RemoveDirectoryW(path);
}

}  // namespace

// Both threads may run this at once: the buffer is per call.
void delete_tree_once(const wchar_t* directory) {
  wchar_t* path = extended_path(directory);
  if (!path) return;
  delete_tree(path);
  free(path);
}

void delete_tree_with_retries(const wchar_t* directory) {
  wchar_t* path = extended_path(directory);
  if (!path) return;
  // The deletion fails while a file in the tree is still open (the child may
  // take a moment to release its files): retry for about two seconds. The
  // presence is checked through the same extended path, which works where the
  // plain one is too long.
  delete_tree(path);
  for (int attempt = 0; attempt < kDeleteRetries && is_directory(path); ++attempt) {
    Sleep(kDeletePauseMs);
    delete_tree(path);
  }
  free(path);
}
