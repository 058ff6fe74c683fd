#include "paths/env.h"

#include <cstdlib>
#include <cwchar>

using environment::kNameCapacity;
using environment::kValueCapacity;

// Each byte is widened alone, so a multi-byte sequence never becomes one
// character: a name's length in units is its length in bytes.
void widen_bytes(const char* text, wchar_t* out, size_t capacity) {
  if (capacity == 0) abort();
  size_t length = 0;
  out[0] = L'\0';
  for (const char* p = text; *p != '\0'; ++p) {
    const char one[2] = {*p, '\0'};
    wchar_t wide[2];
    if (mbstowcs(wide, one, 2) != 1) abort();
    if (length + 2 > capacity) abort();
    out[length++] = wide[0];
    out[length] = L'\0';
  }
}

wchar_t* env_get_w(const wchar_t* name) {
  wchar_t value[kValueCapacity];
  value[0] = L'\0';
  DWORD r = GetEnvironmentVariableW(name, value, static_cast<DWORD>(kValueCapacity));
  // 0: absent or empty; above the size: the value does not fit.
  if (r == 0 || r > kValueCapacity) return nullptr;
  return _wcsdup(value);
}

wchar_t* env_get(const char* name) {
  wchar_t wide_name[kNameCapacity];
  widen_bytes(name, wide_name, kNameCapacity);
  return env_get_w(wide_name);
}

BOOL env_set(const char* name, const wchar_t* value) {
  wchar_t wide_name[kNameCapacity];
  widen_bytes(name, wide_name, kNameCapacity);
  return SetEnvironmentVariableW(wide_name, value);
}
