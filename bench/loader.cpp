// The start-up baseline: a plain executable that loads a main library and
// calls its run_code, as the launcher's child does, without any payload.
//   loader.exe LIBRARY [arguments for run_code...]
#include <windows.h>

#include <cstdio>

#include "launcher/run_code.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: loader.exe LIBRARY [arguments...]\n");
    return 64;
  }
  HMODULE library = LoadLibraryExW(argv[1], nullptr,
                                   LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return 65;
  auto run_code = reinterpret_cast<onefile_run_code_fn>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
  if (!run_code) return 66;
  // run_code sees argument 0 as the program and the rest as its arguments.
  const wchar_t* library_path = argv[1];
  argv[1] = argv[0];
  return run_code(argc - 1, argv + 1, library_path);
}
