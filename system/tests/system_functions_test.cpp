// The table of system functions: every name in it is an export of its
// library (a name that is not would leave a window unmade, silently), and
// a test's replacement takes the place of an imported function.
#include <gtest/gtest.h>

#include "system/system_functions.h"

namespace {

BOOL WINAPI refused_close(HANDLE) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

}  // namespace

TEST(SystemFunctions, EveryEntryIsFoundInItsLibrary) {
  for (sys::Library library : {sys::Library::imported, sys::Library::kernel32, sys::Library::kernel32_else_advapi32,
                               sys::Library::ntdll, sys::Library::user32, sys::Library::gdi32,
                               sys::Library::comctl32})
    EXPECT_TRUE(sys::found(library)) << static_cast<int>(library);
  // The address is the library's own export of that name.
  EXPECT_EQ(reinterpret_cast<void*>(sys::MessageBoxW.pointer()),
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxW")));
  EXPECT_EQ(reinterpret_cast<void*>(sys::NtClose.pointer()),
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtClose")));
  // Called through the table, it is that function.
  EXPECT_EQ(sys::GetWindowThreadProcessId(nullptr, nullptr), 0u);
}

TEST(SystemFunctions, AnImportedEntryIsItsImportUntilATestReplacesIt) {
  EXPECT_EQ(sys::CloseHandle.pointer(), &::CloseHandle);
  EXPECT_EQ(sys::WriteFile.pointer(), &::WriteFile);
  sys::replace(sys::CloseHandle, refused_close);
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_FALSE(sys::CloseHandle(event));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // The other entries stay as they were.
  EXPECT_EQ(sys::WriteFile.pointer(), &::WriteFile);
  sys::replace(sys::CloseHandle, &::CloseHandle);
  EXPECT_TRUE(sys::CloseHandle(event));
}
