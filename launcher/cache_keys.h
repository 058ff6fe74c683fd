// The other keys of a cache root and their last use.
#pragma once

#include <windows.h>

#include <vector>

// A key folder of the root: its name (32 lower-case hexadecimal digits) and
// its last use (the record's last-write time).
struct OtherKey {
  wchar_t name[33];
  ULONGLONG last_used;
};

// The folders of other keys than `own_key` in `root` that carry a record.
std::vector<OtherKey> other_keys(const wchar_t* root, const wchar_t* own_key);
