// The system functions the launcher reaches through one table rather than
// calling them directly, each called as sys::Name(arguments):
//
//  - the functions it looks up at run time, since it imports from kernel32
//    and msvcrt only: those of user32, gdi32 and comctl32, so that a run
//    without a window never loads them (they are loaded from System32 on
//    first use); the registry's RegGetValueW, which kernel32 exports from
//    Windows 7 on and only advapi32 before; the token and SID functions of
//    ntdll; GetFinalPathNameByHandleW, which systems before Vista lack;
//  - the few imported functions whose failures the launcher must survive
//    but a test cannot provoke on demand (a short write, a failed close of
//    a written file, a failed handle duplication): a test replaces them
//    with sys::replace. Every other imported function is called directly.
//
// `if (!sys::Name)` tells whether a function was found (a missing library
// or export); sys::found(library) whether all of a library's were, which
// also loads it.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <winternl.h>

// The table: where each function comes from, its name and its type.
//   imported                imported by the launcher; the entry can be replaced
//   kernel32, ntdll         looked up at each use in a library every process
//                           has loaded: a walk of its exports, nothing loaded
//   kernel32_else_advapi32  looked up once in kernel32, else in advapi32
//                           (loaded then)
//   user32, gdi32, comctl32 looked up once in the library, loaded from
//                           System32 on first use
#define ONEFILE_SYSTEM_FUNCTIONS(X)                                                                                  \
  X(imported, WriteFile, decltype(&::WriteFile))                                                                    \
  X(imported, CloseHandle, decltype(&::CloseHandle))                                                                \
  X(imported, DuplicateHandle, decltype(&::DuplicateHandle))                                                        \
  X(kernel32, GetFinalPathNameByHandleW, DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD))                              \
  X(kernel32_else_advapi32, RegGetValueW, LSTATUS(WINAPI*)(HKEY, LPCWSTR, LPCWSTR, DWORD, LPDWORD, PVOID, LPDWORD)) \
  X(ntdll, NtOpenProcessToken, LONG(NTAPI*)(HANDLE, ACCESS_MASK, PHANDLE))                                          \
  X(ntdll, NtQueryInformationToken, LONG(NTAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, PVOID, ULONG, PULONG))            \
  X(ntdll, NtClose, LONG(NTAPI*)(HANDLE))                                                                           \
  X(ntdll, RtlConvertSidToUnicodeString, LONG(NTAPI*)(PUNICODE_STRING, PSID, BOOLEAN))                              \
  X(user32, AdjustWindowRectEx, decltype(&::AdjustWindowRectEx))                                                    \
  X(user32, BeginPaint, decltype(&::BeginPaint))                                                                    \
  X(user32, CreateWindowExW, decltype(&::CreateWindowExW))                                                          \
  X(user32, DefWindowProcW, decltype(&::DefWindowProcW))                                                            \
  X(user32, DestroyWindow, decltype(&::DestroyWindow))                                                              \
  X(user32, DispatchMessageW, decltype(&::DispatchMessageW))                                                        \
  X(user32, DrawTextW, decltype(&::DrawTextW))                                                                      \
  X(user32, EndPaint, decltype(&::EndPaint))                                                                        \
  X(user32, EnumWindows, decltype(&::EnumWindows))                                                                  \
  X(user32, GetMessageW, decltype(&::GetMessageW))                                                                  \
  X(user32, GetProcessWindowStation, decltype(&::GetProcessWindowStation))                                          \
  X(user32, GetSysColorBrush, decltype(&::GetSysColorBrush))                                                        \
  X(user32, GetUserObjectInformationW, decltype(&::GetUserObjectInformationW))                                      \
  X(user32, GetWindowThreadProcessId, decltype(&::GetWindowThreadProcessId))                                        \
  X(user32, InvalidateRect, decltype(&::InvalidateRect))                                                            \
  X(user32, IsWindowVisible, decltype(&::IsWindowVisible))                                                          \
  X(user32, LoadImageW, decltype(&::LoadImageW))                                                                    \
  X(user32, MessageBoxW, decltype(&::MessageBoxW))                                                                  \
  X(user32, PostQuitMessage, decltype(&::PostQuitMessage))                                                          \
  X(user32, RegisterClassW, decltype(&::RegisterClassW))                                                            \
  X(user32, SendMessageW, decltype(&::SendMessageW))                                                                \
  X(user32, SetTimer, decltype(&::SetTimer))                                                                        \
  X(user32, ShowWindow, decltype(&::ShowWindow))                                                                    \
  X(user32, SystemParametersInfoW, decltype(&::SystemParametersInfoW))                                              \
  X(gdi32, CreateFontIndirectW, decltype(&::CreateFontIndirectW))                                                   \
  X(gdi32, SelectObject, decltype(&::SelectObject))                                                                 \
  X(gdi32, SetBkMode, decltype(&::SetBkMode))                                                                       \
  X(gdi32, SetDIBitsToDevice, decltype(&::SetDIBitsToDevice))                                                       \
  X(comctl32, InitCommonControlsEx, decltype(&::InitCommonControlsEx))

namespace sys {

enum class Library { imported, kernel32, kernel32_else_advapi32, ntdll, user32, gdi32, comctl32 };

enum Index : int {
#define ONEFILE_SYSTEM_INDEX(library, name, type) k##name,
  ONEFILE_SYSTEM_FUNCTIONS(ONEFILE_SYSTEM_INDEX)
#undef ONEFILE_SYSTEM_INDEX
      kFunctionCount
};

// The address of entry `index`: a replacement, when a test set one; else an
// imported function's own; else the export looked up in the entry's
// library. Null when that library or export is missing. Any thread may ask.
void* address(Index index);

// From now on entry `index` is `replacement`.
void replace_address(Index index, void* replacement);

// Whether every entry of `library` is found, looking them up (and loading
// the library) where that has not been done yet.
bool found(Library library);

// One entry, callable as the function itself.
template <Index index, typename Pointer>
class Function;
template <Index index, typename Result, typename... Arguments>
class Function<index, Result(WINAPI*)(Arguments...)> {
 public:
  using Pointer = Result(WINAPI*)(Arguments...);
  Pointer pointer() const { return reinterpret_cast<Pointer>(address(index)); }
  explicit operator bool() const { return pointer() != nullptr; }
  Result operator()(Arguments... arguments) const { return pointer()(arguments...); }
};

// Has entry `function` call `replacement` from now on: the fault-injection
// seam of the tests, which replace an entry by its name.
template <Index index, typename Pointer>
void replace(const Function<index, Pointer>&, typename Function<index, Pointer>::Pointer replacement) {
  replace_address(index, reinterpret_cast<void*>(replacement));
}

#define ONEFILE_SYSTEM_ENTRY(library, name, type) inline constexpr Function<k##name, type> name{};
ONEFILE_SYSTEM_FUNCTIONS(ONEFILE_SYSTEM_ENTRY)
#undef ONEFILE_SYSTEM_ENTRY

}  // namespace sys
