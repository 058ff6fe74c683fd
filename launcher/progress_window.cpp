// The window a windowed launcher shows while a first start unpacks: the
// app's icon, its product name, "Preparing …" (or the packed text) and a
// progress bar; or, when the app was packed with a splash image, that image
// from the start of the run on, with the bar across its bottom while
// unpacking runs.
//
// It runs on a thread of its own that loads user32, comctl32 and gdi32 only
// once a window is due, so a fast start pays for none of them. The thread
// holds nothing of the target folder (the icon and the image come from the
// launcher's own image) and never activates its window, so the app keeps the
// foreground. The main thread only stores a few values; the thread looks at
// them on a timer.
#include "launcher/progress_window.h"

#include <windows.h>
#include <commctrl.h>

#include "contract/data_section.h"
#include "launcher/run_state.h"
#include "launcher/windowed.h"
#include "paths/build_texts.h"
#include "payload/reader.h"
#include "system/system_functions.h"

namespace {

constexpr DWORD kShowAfterMs = 500;
constexpr DWORD kLingerAfterUnpackingMs = 10000;
constexpr UINT kTickMs = 50;
constexpr DWORD kCloseWaitMs = 2000;
constexpr int kBarRange = 10000;
constexpr int kSplashBarHeight = 6;

// What the main thread tells the window's thread. Written by the main
// thread (and `closing` by whoever ends the run), read on each tick.
struct ProgressState {
  bool wanted = false;  // a windowed launcher whose windows are not turned off
  HANDLE thread = nullptr;
  HANDLE changed = nullptr;             // set when a value below changes
  volatile LONG unpack_started_ms = 0;  // tick count when unpacking started, 0: not (yet)
  volatile LONG unpack_ended_ms = 0;    // tick count when unpacking ended, 0: not yet
  volatile DWORD child_pid = 0;
  volatile LONG closing = 0;
  // Held while the thread loads the libraries and makes its window: the
  // child is started only outside it, so that its start never runs beside
  // the loading of user32 (which holds the loader's lock).
  SRWLOCK making = SRWLOCK_INIT;
};
ProgressState g_state;

// The window's own state, on its thread only.
struct Window {
  HWND window = nullptr;
  HWND bar = nullptr;
  HFONT font = nullptr;
  HFONT bold = nullptr;
  int position = 0;  // the bar never goes back
  bool splash = false;
  const BITMAPINFO* image = nullptr;
  const void* pixels = nullptr;
  int width = 0;
  int height = 0;
};
Window g_window;

const wchar_t* status_text() { return onefile_splash_text[0] ? onefile_splash_text : L"Preparing \u2026"; }

// The packed splash image: a BITMAPINFOHEADER for a top-down 32-bit bitmap
// and its pixels right behind it; anything else is no image.
bool find_splash_image(Window& w) {
  if (onefile_splash_image_size < sizeof(BITMAPINFOHEADER)) return false;
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(onefile_splash_image);
  const long long width = header->biWidth, height = -static_cast<long long>(header->biHeight);
  if (header->biSize != sizeof(BITMAPINFOHEADER) || header->biBitCount != 32 || header->biCompression != BI_RGB ||
      width <= 0 || height <= 0 || width > data_section::kMaxSplashSize || height > data_section::kMaxSplashSize ||
      onefile_splash_image_size - sizeof(BITMAPINFOHEADER) < static_cast<unsigned long long>(width * height * 4))
    return false;
  w.image = reinterpret_cast<const BITMAPINFO*>(header);
  w.pixels = onefile_splash_image + sizeof(BITMAPINFOHEADER);
  w.width = static_cast<int>(width);
  w.height = static_cast<int>(height);
  return true;
}

DWORD since(LONG start_ms) { return GetTickCount() - static_cast<DWORD>(start_ms); }

// Whether the child has shown a visible top-level window.
BOOL CALLBACK find_child_window(HWND window, LPARAM found) {
  DWORD owner = 0;
  sys::GetWindowThreadProcessId(window, &owner);
  if (owner != g_state.child_pid || !sys::IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

bool time_to_close() {
  if (g_state.closing || g_parent.interrupted) return true;
  if (!g_state.unpack_ended_ms) return false;
  if (since(g_state.unpack_ended_ms) >= kLingerAfterUnpackingMs) return true;
  bool found = false;
  sys::EnumWindows(find_child_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

void update_bar(Window& w) {
  if (!w.bar) return;
  if (g_state.unpack_ended_ms && w.splash) {
    // On the splash the bar is there while unpacking runs only.
    sys::DestroyWindow(w.bar);
    w.bar = nullptr;
    sys::InvalidateRect(w.window, nullptr, FALSE);
    return;
  }
  unsigned long long done = 0, total = 0;
  payload_progress(&done, &total);
  int position = g_state.unpack_ended_ms ? kBarRange
                 : total                ? static_cast<int>(done * kBarRange / total)
                                        : 0;
  if (position <= w.position) return;
  w.position = position;
  sys::SendMessageW(w.bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void paint(Window& w) {
  PAINTSTRUCT paint = {};
  HDC dc = sys::BeginPaint(w.window, &paint);
  if (w.splash) {
    sys::SetDIBitsToDevice(dc, 0, 0, w.width, w.height, 0, 0, 0, w.height, w.pixels, w.image, DIB_RGB_COLORS);
    if (w.bar) {
      // The text stands above the bar on the image while unpacking runs.
      RECT text = {8, 0, w.width - 8, w.height - kSplashBarHeight - 4};
      sys::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = sys::SelectObject(dc, w.font);
      sys::DrawTextW(dc, status_text(), -1, &text, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
      sys::SelectObject(dc, old);
    }
  }
  sys::EndPaint(w.window, &paint);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Window& w = g_window;
  switch (message) {
    case WM_TIMER:
      if (time_to_close()) {
        sys::DestroyWindow(window);
        return 0;
      }
      update_bar(w);
      return 0;
    case WM_PAINT:
      if (!w.splash) break;
      paint(w);
      return 0;
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ENDSESSION:
      // Log-off or shut-down: the window goes at once.
      if (wparam) sys::DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      return 0;  // Alt+F4 would not stop the start
    case WM_DESTROY:
      sys::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return sys::DefWindowProcW(window, message, wparam, lparam);
}

HWND child(Window& w, const wchar_t* window_class, const wchar_t* text, DWORD style, int x, int y, int width,
           int height, HFONT font) {
  HWND control = sys::CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                      w.window, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (control && font) sys::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

// Makes the window, centred in the primary monitor's work area, shown
// without being activated.
bool create_window(Window& w) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  sys::InitCommonControlsEx(&controls);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (sys::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    w.font = sys::CreateFontIndirectW(&metrics.lfMessageFont);
    metrics.lfMessageFont.lfWeight = FW_BOLD;
    w.bold = sys::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HICON icon = static_cast<HICON>(sys::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = icon;
  // The arrow with the hourglass: working, and still usable.
  window_class.hCursor =
      static_cast<HCURSOR>(sys::LoadImageW(nullptr, IDC_APPSTARTING, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  window_class.hbrBackground = sys::GetSysColorBrush(COLOR_BTNFACE);
  window_class.lpszClassName = w.splash ? kSplashWindowClass : kProgressWindowClass;
  if (!sys::RegisterClassW(&window_class)) return false;

  const DWORD style = w.splash ? WS_POPUP | WS_BORDER : WS_POPUP | WS_CAPTION;
  const DWORD ex_style = WS_EX_APPWINDOW | WS_EX_NOACTIVATE;
  RECT frame = {0, 0, w.splash ? w.width : 380, w.splash ? w.height : 112};
  sys::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  RECT area = {};
  sys::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  w.window = sys::CreateWindowExW(ex_style, window_class.lpszClassName, product_name(), style,
                                  area.left + (area.right - area.left - width) / 2,
                                  area.top + (area.bottom - area.top - height) / 2, width, height, nullptr, nullptr,
                                  instance, nullptr);
  // The app was faster: no window at all.
  if (!w.window || time_to_close()) return false;

  const bool unpacking = !g_state.unpack_ended_ms;
  if (w.splash) {
    if (unpacking)
      w.bar = child(w, PROGRESS_CLASSW, L"", 0, 0, w.height - kSplashBarHeight, w.width, kSplashBarHeight, nullptr);
  } else {
    // The icon control loads icon group 1 of the launcher by its text.
    child(w, L"STATIC", L"#1", SS_ICON, 16, 16, 32, 32, nullptr);
    child(w, L"STATIC", product_name(), SS_NOPREFIX | SS_ENDELLIPSIS, 64, 16, 300, 20, w.bold);
    child(w, L"STATIC", status_text(), SS_NOPREFIX | SS_ENDELLIPSIS, 64, 40, 300, 20, w.font);
    w.bar = child(w, PROGRESS_CLASSW, L"", 0, 16, 76, 348, 18, nullptr);
  }
  if (w.bar) sys::SendMessageW(w.bar, PBM_SETRANGE32, 0, kBarRange);
  update_bar(w);
  sys::SetTimer(w.window, 1, kTickMs, nullptr);
  sys::ShowWindow(w.window, SW_SHOWNOACTIVATE);
  return true;
}

// The window's functions of user32, gdi32 and comctl32, loaded only now
// that a window is due.
bool window_libraries_found() {
  return sys::found(sys::Library::user32) && sys::found(sys::Library::gdi32) && sys::found(sys::Library::comctl32);
}

DWORD WINAPI run_window(void*) {
  Window& w = g_window;
  w.splash = find_splash_image(w);
  // Without an image the window waits until unpacking has run for a while;
  // a fast start or a cache hit shows nothing and loads nothing.
  while (!w.splash) {
    if (g_state.closing || g_state.unpack_ended_ms) return 0;
    DWORD wait = INFINITE;
    if (g_state.unpack_started_ms) {
      const DWORD ran = since(g_state.unpack_started_ms);
      if (ran >= kShowAfterMs) break;
      wait = kShowAfterMs - ran;
    }
    WaitForSingleObject(g_state.changed, wait);
  }
  AcquireSRWLockExclusive(&g_state.making);
  // Unpacking that ended meanwhile needs no window any more.
  const bool made = !g_state.closing && (w.splash || !g_state.unpack_ended_ms) && window_station_interactive() &&
                    window_libraries_found() && create_window(w);
  ReleaseSRWLockExclusive(&g_state.making);
  if (!made) return 0;
  MSG message;
  while (sys::GetMessageW(&message, nullptr, 0, 0) > 0) sys::DispatchMessageW(&message);
  return 0;
}

// A tick count that is never 0, which means "not yet".
LONG tick_now() {
  const DWORD now = GetTickCount();
  return static_cast<LONG>(now ? now : 1);
}

void start_window_thread() {
  g_state.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_state.changed) return;
  g_state.thread = CreateThread(nullptr, 256 * 1024, run_window, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

void tell_window(volatile LONG& value, LONG now) {
  if (!g_state.thread) return;
  InterlockedExchange(&value, now);
  SetEvent(g_state.changed);
}

}  // namespace

void start_progress_window() {
  if (g_state.wanted || !windowed_program() || dialogs_turned_off()) return;
  g_state.wanted = true;
  // A splash shows from the start; the progress window only once unpacking
  // runs, so a cache hit starts no thread before its child.
  if (onefile_splash_image_size > 0) start_window_thread();
}

void progress_unpacking_started() {
  if (g_state.wanted && !g_state.thread) start_window_thread();
  tell_window(g_state.unpack_started_ms, tick_now());
}

void progress_unpacking_ended() {
  if (!g_state.thread) return;
  tell_window(g_state.unpack_ended_ms, tick_now());
  AcquireSRWLockExclusive(&g_state.making);
  ReleaseSRWLockExclusive(&g_state.making);
}

void progress_child_started(DWORD pid) { g_state.child_pid = pid; }

void close_progress_window() {
  if (!g_state.thread) return;
  InterlockedExchange(&g_state.closing, 1);
  SetEvent(g_state.changed);
  // A thread that is gone or ends on its next tick; one that hangs (a
  // library that does not load) is not waited for longer.
  WaitForSingleObject(g_state.thread, kCloseWaitMs);
}
