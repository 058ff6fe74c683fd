// Removing target directories that parents which were killed left behind:
// in the temp directory, and (with the same checks) a cache root's staging
// folders.
#pragma once

#include <windows.h>

#include "paths/wide_path.h"

// Starts a thread that deletes target directories left in the temp
// directory by parents that were killed, and returns it (null if it could
// not start). Silent.
HANDLE start_stale_folder_sweep();

// A folder found directly in a folder being swept: its path (in a buffer of
// kFolderPathCapacity units) and what the search found.
inline constexpr size_t kFolderPathCapacity = kPathCapacity + 2 * MAX_PATH;
using FolderVisitor = void (*)(const wchar_t* path, const WIN32_FIND_DATAW& found, void* context);

// Calls `visit` for each folder directly in `parent` (less than
// kPathCapacity units) whose name matches `pattern`; links to folders are
// left out, and "." and "..".
void for_each_folder(const wchar_t* parent, const wchar_t* pattern, FolderVisitor visit, void* context);

// Deletes the folder at `path` with `remove` if it is stale at `now`: older
// than a minute, its name of the target folder's shape naming an owner
// that no longer runs (or a process created after the folder, which only
// reuses the ID), and it can be renamed (the test that nothing in it is in
// use).
void sweep_stale_folder(const wchar_t* path, const WIN32_FIND_DATAW& found, ULONGLONG now,
                        void (*remove)(const wchar_t*));
