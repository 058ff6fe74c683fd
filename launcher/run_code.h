// For application authors: the export that a packed app's main library must
// provide. The launcher calls it in its child process with the argument count,
// the argument vector (argument 0 is the launcher's own path) and the full
// path of the library itself; its result becomes the launcher's exit code.
//
//   ONEFILE_RUN_CODE {
//     wprintf(L"%d arguments\n", argc);
//     return 0;
//   }
#pragma once

#include <wchar.h>

#ifdef __cplusplus
#define ONEFILE_EXTERN_C extern "C"
#else
#define ONEFILE_EXTERN_C
#endif

typedef int (*onefile_run_code_fn)(int argc, wchar_t** argv, const wchar_t* library_path);

#define ONEFILE_RUN_CODE \
  ONEFILE_EXTERN_C __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* library_path)
