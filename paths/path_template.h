// Expansion of path templates such as "{TEMP}\onefile_{PID}_{TIME_US}_{RANDOM}".
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/target_folder_name.h"

// The target directory's template and the known-directory seed.
inline constexpr const wchar_t* kTargetDirectoryTemplate = target_folder_name::kDefaultTemplateWide;
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

// The 11-character random text for `seed` (the xorshift bytes in URL-safe
// base64), written with a terminator into `out`.
void random_text_from_seed(uint32_t seed, wchar_t out[12]);

// The TIME_US text for a system time in 100 ns units since 1601: the
// microsecond within the second, always six digits ("%06ld").
void time_us_text(int64_t system_time, wchar_t out[8]);
