// A main library that imports from dependency.dll.
#include "launcher/run_code.h"

extern "C" __declspec(dllimport) int dependency_value(void);

ONEFILE_RUN_CODE {
  (void)argc;
  (void)argv;
  (void)library_path;
  return dependency_value();
}
