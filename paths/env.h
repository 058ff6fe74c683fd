// Environment access by narrow names. Names are widened byte by byte (each
// byte alone through mbstowcs) into a buffer of kNameCapacity units, so a
// name has at most 39 characters; values are UTF-16 and read through a
// buffer of kValueCapacity units.
#pragma once

#include <windows.h>

#include <cstddef>

namespace environment {
// A narrow name of at most 39 characters (the names in use have at most 24)
// and its terminator.
inline constexpr size_t kNameCapacity = 40;
// The largest value the system keeps (32767 units) and its terminator.
inline constexpr size_t kValueCapacity = 32768;
}  // namespace environment

// Widens the narrow `text` byte by byte into `out` (capacity in code units,
// terminator included). A byte that does not give exactly one wide character,
// or a text that does not fit, aborts.
void widen_bytes(const char* text, wchar_t* out, size_t capacity);

// A heap copy of the variable's value, or null when it is absent, empty or
// longer than 32767 units. The caller owns the copy (free).
wchar_t* env_get_w(const wchar_t* name);
wchar_t* env_get(const char* name);

// Sets the variable, or removes it when `value` is null. Returns the
// platform's success flag.
BOOL env_set(const char* name, const wchar_t* value);
