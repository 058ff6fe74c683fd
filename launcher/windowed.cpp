#include "launcher/windowed.h"

#include <windows.h>

#include "paths/build_texts.h"
#include "paths/env.h"
#include "system/system_functions.h"

bool windowed_program() {
  const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

const wchar_t* product_name() { return onefile_product[0] ? onefile_product : L"Vorlan Onefile"; }

bool dialogs_turned_off() {
  wchar_t* value = env_get("VORLAN_ONEFILE_NO_DIALOGS");
  return value && value[0];
}

// A service or a task without a desktop runs in a window station no one
// sees: a box there would wait for ever.
bool window_station_interactive() {
  if (!sys::GetProcessWindowStation || !sys::GetUserObjectInformationW) return false;
  USEROBJECTFLAGS flags = {};
  HWINSTA station = sys::GetProcessWindowStation();
  return station && sys::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE);
}
