// The hidden window that brings log-off and shut-down to a parent that gets
// no console events: a windowed launcher has no console, and a console
// program with user32 loaded is sent no log-off or shut-down event either.
// The system asks every top-level window (not message-only windows, which
// receive no broadcasts) with WM_QUERYENDSESSION and WM_ENDSESSION; on the
// latter the run ends as on a console event.
//
// The parent makes it once its child has run for a second (see
// wait_for_child in child_supervision.cpp), on a thread of its own that also
// loads user32: the launcher does not import it, so neither the child, nor
// the parent before its child runs, nor a short run pays for loading it.
#include "launcher/session_end_window.h"

#include <windows.h>

#include "launcher/child_supervision.h"
#include "system/system_functions.h"

namespace {

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam) end_interrupted_run(kSessionEndGraceMs);
      return 0;
    default:
      return sys::DefWindowProcW(window, message, wparam, lparam);
  }
}

DWORD WINAPI run_window(void*) {
  if (!sys::found(sys::Library::user32)) return 0;

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"VorlanOnefileSessionEnd";
  if (!sys::RegisterClassW(&window_class)) return 0;
  // Never shown: no WS_VISIBLE, no size, no taskbar entry.
  if (!sys::CreateWindowExW(WS_EX_TOOLWINDOW, window_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            window_class.hInstance, nullptr))
    return 0;
  MSG message;
  while (sys::GetMessageW(&message, nullptr, 0, 0) > 0) sys::DispatchMessageW(&message);
  return 0;
}

}  // namespace

void start_session_end_window() {
  HANDLE thread = CreateThread(nullptr, 64 * 1024, run_window, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread) CloseHandle(thread);
}
