// What the test app (a main library) and the report program (a program main)
// do for ctrl_c_test.sh: both print "ready <folder>" and then wait for Ctrl+C,
// which reaches them through the console they share with the launcher.
#pragma once

#include <windows.h>

#include <string>

namespace ctrl_c_actions {

using Print = void (*)(const std::wstring& text);

// No handler of its own: Ctrl+C ends the process by the system's default
// handling (STATUS_CONTROL_C_EXIT on Windows); 98 if it never comes.
inline int wait_without_handler(Print print, const std::wstring& folder) {
  print(L"ready " + folder + L"\n");
  Sleep(60000);
  return 98;
}

// Handles Ctrl+C and goes on, as a REPL does: after `milliseconds` it
// returns `code` if Ctrl+C reached it, else 98.
inline int go_on_after_ctrl_c(Print print, const std::wstring& folder, DWORD milliseconds, int code) {
  static LONG volatile caught = 0;
  SetConsoleCtrlHandler(
      [](DWORD event) -> BOOL {
        if (event != CTRL_C_EVENT) return FALSE;
        InterlockedExchange(&caught, 1);
        return TRUE;
      },
      TRUE);
  print(L"ready " + folder + L"\n");
  Sleep(milliseconds);
  if (!caught) return 98;
  print(L"caught Ctrl+C and went on\n");
  return code;
}

}  // namespace ctrl_c_actions
