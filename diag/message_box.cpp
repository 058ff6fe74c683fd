#include "diag/message_box.h"

#include <cwchar>

#include "diag/fail.h"
#include "diag/system_library.h"
#include "paths/build_texts.h"
#include "paths/env.h"

namespace {

constexpr size_t kBoxTextCapacity = 8192;

using GetProcessWindowStationFn = HWINSTA(WINAPI*)();
using GetUserObjectInformationFn = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);
using MessageBoxFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

// A file, a pipe or a console; not a missing handle, a closed one, or one of
// a type the system does not know.
bool standard_stream_usable(DWORD stream) {
  HANDLE handle = GetStdHandle(stream);
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

// A service or a task without a desktop runs in a window station no one
// sees: a box there would wait for ever.
bool window_station_interactive() {
  HMODULE user32 = load_system_library(L"user32.dll");
  auto station = system_function<GetProcessWindowStationFn>(user32, "GetProcessWindowStation");
  auto information = system_function<GetUserObjectInformationFn>(user32, "GetUserObjectInformationW");
  if (!station || !information) return false;
  USEROBJECTFLAGS flags = {};
  HWINSTA handle = station();
  return handle && information(handle, UOI_FLAGS, &flags, sizeof flags, nullptr) && (flags.dwFlags & WSF_VISIBLE);
}

const wchar_t* product_name() { return onefile_product[0] ? onefile_product : L"Vorlan Onefile"; }

bool dialogs_turned_off() {
  wchar_t* value = env_get("VORLAN_ONEFILE_NO_DIALOGS");
  return value && value[0];
}

bool windowed_program() {
  const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

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
  DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, *code, 0,
      reinterpret_cast<wchar_t*>(&system_text), 0, inserts.arguments());
  // The system's texts end in CR LF.
  while (units > 0 && (system_text[units - 1] == L'\r' || system_text[units - 1] == L'\n')) system_text[--units] = 0;
  swprintf(text + length, capacity - length, L"\n[Error %lu] %ls", static_cast<unsigned long>(*code),
           units > 0 ? system_text : L"");
  text[capacity - 1] = L'\0';
  if (system_text) LocalFree(system_text);
}

void show_message_box(const FatalMessage& message) {
  if (!message_box_wanted(message.stream)) return;
  auto message_box = system_function<MessageBoxFn>(load_system_library(L"user32.dll"), "MessageBoxW");
  if (!message_box) return;
  static wchar_t text[kBoxTextCapacity];
  message_box_text(message.line, message.code, message.insert, text, kBoxTextCapacity);
  message_box(nullptr, text, product_name(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}
