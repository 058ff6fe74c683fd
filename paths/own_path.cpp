#include "paths/own_path.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "paths/wide_path.h"
#include "system/system_functions.h"

namespace {
// All zero at start: an empty cache has not been computed yet. Never
// refreshed.
wchar_t resolved_path_cache[kOwnPathCapacity];
wchar_t plain_path_cache[kOwnPathCapacity];
}  // namespace

const wchar_t* get_own_executable_path(bool resolved) {
  if (resolved) {
    if (resolved_path_cache[0] == L'\0') {
      GetModuleFileNameW(nullptr, resolved_path_cache, static_cast<DWORD>(kOwnPathCapacity));
      resolve_executable_path(resolved_path_cache, kOwnPathCapacity);
    }
    return resolved_path_cache;
  }
  if (plain_path_cache[0] == L'\0') {
    GetModuleFileNameW(nullptr, plain_path_cache, static_cast<DWORD>(kOwnPathCapacity));
    bounded_length(plain_path_cache, kOwnPathCapacity);
  }
  return plain_path_cache;
}

// Two paths name the same file when their resolved forms are equal: the final
// path folds links and other spellings into one, and the short directory part
// makes the text independent of how the directories were written.
void resolve_executable_path(wchar_t* path, size_t capacity) {
  bounded_length(path, capacity);
  HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    // Looked up each time: systems before Vista lack it, and then the path
    // goes on as it is.
    if (const auto get_final_path = sys::GetFinalPathNameByHandleW.pointer()) {
      // 0 (failure) leaves the path as it was; a larger size than the buffer
      // means the final path does not fit.
      DWORD length = get_final_path(file, path, static_cast<DWORD>(capacity), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      CloseHandle(file);
      if (length > capacity - 1) abort();
    } else {
      CloseHandle(file);
    }
    strip_long_path_prefix(path);
  }
  shorten_directory_part(path, capacity);
}

void strip_long_path_prefix(wchar_t* path) {
  if (wcsncmp(path, L"\\\\?\\", 4) == 0 && path[4] != L'\0' && path[5] == L':')
    memmove(path, path + 4, (wcslen(path + 4) + 1) * sizeof(wchar_t));
  if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
    memmove(path, path + 6, (wcslen(path + 6) + 1) * sizeof(wchar_t));
    path[0] = L'\\';
  }
}

void shorten_directory_part(wchar_t* path, size_t capacity) {
  bounded_length(path, capacity);
  wchar_t* component = nullptr;
  DWORD needed;
  wchar_t* last = wcsrchr(path, L'\\');
  if (last != nullptr) {
    component = _wcsdup(last + 1);
    if (component == nullptr) abort();
    *last = L'\0';
    needed = GetShortPathNameW(path, nullptr, 0);
  } else {
    needed = GetShortPathNameW(path, nullptr, 0);
    if (needed == 0) return;
  }
  // A directory that does not exist (needed 0) keeps its text.
  if (needed != 0) {
    wchar_t* short_form = static_cast<wchar_t*>(malloc((static_cast<size_t>(needed) + 1) * sizeof(wchar_t)));
    if (short_form == nullptr) abort();
    DWORD written = GetShortPathNameW(path, short_form, needed);
    if (written > needed) abort();
    // The directory may vanish between the two calls: keep the text then.
    if (written != 0) bounded_copy(path, capacity, short_form);
    free(short_form);
  }
  if (component != nullptr) {
    bounded_append(path, capacity, L"\\");
    bounded_append(path, capacity, component);
    free(component);
  }
}
