// The few system calls whose failures the launcher must survive but a test
// cannot provoke on demand (a short write, a failed close, a failed handle
// duplication). They are called through this table, which a test may point
// at its own functions; every other system call is made directly.
#pragma once

#include <windows.h>

struct SystemCalls {
  decltype(&WriteFile) write_file;
  decltype(&CloseHandle) close_handle;  // of a file that was written
  decltype(&DuplicateHandle) duplicate_handle;
};

extern SystemCalls g_system_calls;
