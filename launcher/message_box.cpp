#include "launcher/message_box.h"

#include <cwchar>

#include "diag/system_text.h"
#include "launcher/windowed.h"
#include "system/system_functions.h"

namespace {

constexpr size_t kBoxTextCapacity = 8192;

// A file, a pipe or a console; not a missing handle, a closed one, or one of
// a type the system does not know.
bool standard_stream_usable(DWORD stream) {
  HANDLE handle = GetStdHandle(stream);
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

bool message_box_wanted(DWORD stream) {
  if (standard_stream_usable(stream) || dialogs_turned_off()) return false;
  return window_station_interactive();
}

void message_box_text(const wchar_t* line, const DWORD* code, const wchar_t* insert, wchar_t* text,
                      size_t capacity) {
  int length = swprintf(text, capacity, L"%ls", line);
  if (length < 0) {
    text[capacity - 1] = L'\0';
    return;
  }
  if (!code) return;
  wchar_t* system_text = nullptr;
  // Its inserts hold the same path as the line on the stream.
  SystemTextInserts inserts(insert ? insert : L"");
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, *code, 0,
      reinterpret_cast<wchar_t*>(&system_text), 0, inserts.arguments());
  const size_t kept = units > 0 ? trim_line_breaks(system_text, units) : 0;
  swprintf(text + length, capacity - length, L"\n[Error %lu] %ls", static_cast<unsigned long>(*code),
           kept > 0 ? system_text : L"");
  text[capacity - 1] = L'\0';
  if (system_text) LocalFree(system_text);
}

void show_message_box(const FatalMessage& message) {
  if (!message_box_wanted(message.stream) || !sys::MessageBoxW) return;
  static wchar_t text[kBoxTextCapacity];
  message_box_text(message.line, message.code, message.insert, text, kBoxTextCapacity);
  sys::MessageBoxW(nullptr, text, product_name(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
