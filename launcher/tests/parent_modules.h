// What the launcher has loaded once its app runs: the test app (a main
// library) and the report program (a program main) list their parent's
// modules for the tests that check that a launcher loads neither the shell
// nor the window system before its app starts.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>
#include <string>

namespace parent_modules {

// The process ID of this process's parent; 0 when it cannot be found.
inline DWORD parent_process_id() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD self = GetCurrentProcessId(), parent = 0;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent;
}

// One "parent_module=NAME" line (the name in lower case) for each module the
// parent has loaded at this moment; "parent_modules=unknown" when its
// modules cannot be read.
inline std::wstring lines() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, parent_process_id());
  if (snapshot == INVALID_HANDLE_VALUE) return L"parent_modules=unknown\n";
  std::wstring out;
  MODULEENTRY32W module = {};
  module.dwSize = sizeof(module);
  for (BOOL ok = Module32FirstW(snapshot, &module); ok; ok = Module32NextW(snapshot, &module)) {
    std::wstring name = module.szModule;
    for (wchar_t& c : name) c = towlower(c);
    out += L"parent_module=" + name + L"\n";
  }
  CloseHandle(snapshot);
  return out.empty() ? L"parent_modules=unknown\n" : out;
}

}  // namespace parent_modules
