// The system's text for an error code, as the fatal reporters print it and
// the windowed launcher's box shows it.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

// The capacity in bytes of a system text and of the narrow path in it: a
// path of a path buffer's 4096 units, each of which may take several bytes.
inline constexpr size_t kSystemTextCapacity = 32768;

// FormatMessage's argument array (FORMAT_MESSAGE_ARGUMENT_ARRAY) that fills
// every insert a system text may hold, %1 to %99, with one text: a narrow
// one for FormatMessageA, a wide one for FormatMessageW.
struct SystemTextInserts {
  DWORD_PTR values[99];
  explicit SystemTextInserts(const void* text) {
    for (DWORD_PTR& value : values) value = reinterpret_cast<DWORD_PTR>(text);
  }
  va_list* arguments() { return reinterpret_cast<va_list*>(values); }
};

// Cuts the CR and LF characters that end `text` (of `length` units), moving
// from its end towards its start, and returns the length left. The system's
// texts end in CR LF; a line must end right after the text.
template <typename Unit>
size_t trim_line_breaks(Unit* text, size_t length) {
  while (length > 0 && (text[length - 1] == Unit('\r') || text[length - 1] == Unit('\n'))) text[--length] = Unit('\0');
  return length;
}

// The system's text for `code` in US English with its inserts filled with
// `insert` (or left empty) and its closing line breaks removed, in `text`
// (`capacity` bytes); empty when the system has none.
void system_text(DWORD code, const wchar_t* insert, char* text, size_t capacity);
