// The temp directory, as {TEMP} gives it and the stale-folder sweep looks
// into it.
#pragma once

#include <cstddef>

// The system's temp directory without its trailing backslashes, into
// `directory` (`capacity` units). False, `directory` left empty, when the
// system gives none or it does not fit: an empty value would put a folder
// in the root of the current drive.
bool temp_directory(wchar_t* directory, size_t capacity);
