// Moving a cache folder aside before it is deleted, and deleting folders
// that carry the launcher's mark.
#include "launcher/folder_aside.h"

#include <windows.h>

#include "contract/cache_record.h"
#include "launcher/cache_check.h"
#include "launcher/cache_record_file.h"
#include "launcher/delete_tree.h"
#include "paths/build_texts.h"
#include "paths/fresh_name.h"
#include "paths/wide_path.h"

void delete_marked_folder(const wchar_t* folder) {
  delete_tree_once(folder);
  if (!is_directory(folder)) return;
  cache_record::Encoder mark(onefile_cache_key);
  const auto& bytes = mark.bytes();
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

bool remove_marked_folder(const wchar_t* root, const wchar_t* folder) {
  if (!carries_mark(folder, FILE_SHARE_READ)) return false;
  // A link is removed where it is, never moved: Wine moves what a link to a
  // folder points to instead of the link.
  if (is_link(folder)) return RemoveDirectoryW(folder) != 0;
  wchar_t moved[kPathCapacity];
  make_fresh_folder(moved, root);
  if (!MoveFileExW(folder, moved, 0)) return false;
  delete_marked_folder(moved);
  return true;
}
