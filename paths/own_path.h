// The launcher's own executable path, and the resolved form used to compare
// executable paths (final path, no long-path prefix, short directory part).
#pragma once

#include <cstddef>

#include "paths/wide_path.h"

// The capacity of a buffer that holds the launcher's own path: a module
// file name of kPathCapacity units and its terminator.
inline constexpr size_t kOwnPathCapacity = kPathCapacity + 1;

// The cached resolved form (true) or plain module file name (false); computed
// at the first request, later requests make no system call.
const wchar_t* get_own_executable_path(bool resolved);

// Replaces the path in `path` (capacity in code units) by its resolved form.
void resolve_executable_path(wchar_t* path, size_t capacity);

// Removes the long-path prefix of a final path: "\\?\C:\x" becomes "C:\x" and
// "\\?\UNC\srv\x" becomes "\\srv\x"; a volume path keeps its prefix.
void strip_long_path_prefix(wchar_t* path);

// Replaces the directory part of `path` by its short (8.3) form; the last
// component keeps its form.
void shorten_directory_part(wchar_t* path, size_t capacity);
