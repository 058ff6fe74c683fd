#include "paths/wide_path.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

size_t bounded_length(const wchar_t* text, size_t capacity) {
  for (size_t i = 0; i < capacity; ++i)
    if (text[i] == L'\0') return i;
  abort();
}

void bounded_copy(wchar_t* dst, size_t capacity, const wchar_t* src) {
  size_t length = wcslen(src);
  if (length >= capacity) abort();
  memmove(dst, src, (length + 1) * sizeof(wchar_t));
}

void bounded_append(wchar_t* dst, size_t capacity, const wchar_t* src) {
  size_t used = bounded_length(dst, capacity);
  bounded_copy(dst + used, capacity - used, src);
}

void bounded_join(wchar_t* dst, size_t capacity, const wchar_t* folder, const wchar_t* name) {
  bounded_copy(dst, capacity, folder);
  bounded_append(dst, capacity, L"\\");
  bounded_append(dst, capacity, name);
}

bool is_link(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool is_directory(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
