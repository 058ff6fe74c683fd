// Expansion of path templates such as "{TEMP}\onefile_{PID}_{TIME_US}_{RANDOM}".
#pragma once

#include <cstddef>

// The home folder, which unpacking never creates.
inline constexpr wchar_t kHomeTemplate[] = L"{HOME}";

// Expands `path_template` into `output` (capacity in code units, at least 1).
// {APP_DIR} gives `app_directory` (a program main's folder, for its fixed
// arguments); without one it is unknown. Without one, the result is a folder
// path: separators at its end are dropped, but for a root's ("C:\").
// False: an unknown or empty placeholder, a failed folder lookup, or a literal
// character that does not fit; `output` then holds the text produced so far.
// A value that does not fit or a non-digit in a present
// VORLAN_ONEFILE_PARENT abort the process. {PROGRAM}, {PROGRAM_BASE} and
// {PROGRAM_DIR} come from the launcher's full module path, not argument 0.
bool expand_path_template(wchar_t* output, const wchar_t* path_template, size_t capacity,
                          const wchar_t* app_directory = nullptr);
