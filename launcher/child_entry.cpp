// Child role: load the app's main library from the target directory and hand
// the process over to its run_code.
#include "launcher/child_entry.h"

#include <windows.h>

#include <cstdlib>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/run_code.h"
#include "launcher/run_state.h"

int hand_off_to_main_library() {
  // The app's own DLLs lie in the target directory; with the search flags
  // below they are found there, beside the main library and in System32 only.
  AddDllDirectory(g_child.target_directory);
  HMODULE library = LoadLibraryExW(g_child.main_library_path, nullptr,
                                   LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                                       LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) fail_system(msg::kLoadDll, GetLastError(), g_child.main_library_path);
  auto run_code = reinterpret_cast<onefile_run_code_fn>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
  if (!run_code) {
    // Loaded, the library would keep its folder from being deleted.
    FreeLibrary(library);
    fail_message(msg::kEntryPoint);
  }
  return run_code(__argc, __wargv, g_child.main_library_path);
}
