#include "diag/system_text.h"

#include <cstdio>
#include <cstring>

void system_text(DWORD code, const wchar_t* insert, char* text, size_t capacity) {
  // The path as the other messages print it (the runtime's conversion); a
  // path it cannot convert leaves the inserts empty.
  static char narrow_insert[kSystemTextCapacity];
  if (!insert || snprintf(narrow_insert, sizeof narrow_insert, "%ls", insert) < 0) narrow_insert[0] = '\0';
  SystemTextInserts inserts(narrow_insert);
  // Allocated by the system: a buffer of the caller's may be refused as too large.
  char* formatted = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, code,
      0x0409, reinterpret_cast<char*>(&formatted), 0, inserts.arguments());
  // No text for the code: an empty text.
  if (length == 0 || !formatted || snprintf(text, capacity, "%s", formatted) < 0) text[0] = '\0';
  // The system's texts end in CR LF; the line must end right after the text.
  else trim_line_breaks(text, strlen(text));
  if (formatted) LocalFree(formatted);
}

