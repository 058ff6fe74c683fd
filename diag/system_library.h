// Functions of system libraries the launcher does not import: user32,
// comctl32 and gdi32, loaded from System32 only when a window is wanted, so
// that a run without one never pays for loading them; and the few functions
// of kernel32 and ntdll that are looked up by name (paths/user_folders.cpp).
#pragma once

#include <windows.h>

// The library from System32, or null.
inline HMODULE load_system_library(const wchar_t* name) {
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The export `name` of `library` as a pointer of type Fn, or null.
template <typename Fn>
Fn system_function(HMODULE library, const char* name) {
  return library ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}
