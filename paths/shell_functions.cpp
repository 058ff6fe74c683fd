#include "paths/shell_functions.h"

namespace {

FARPROC shell32_function(const char* name) {
  static HMODULE shell32 = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return shell32 ? GetProcAddress(shell32, name) : nullptr;
}

}  // namespace

CommandLineToArgvFn command_line_to_argv() {
  return reinterpret_cast<CommandLineToArgvFn>(reinterpret_cast<void*>(shell32_function("CommandLineToArgvW")));
}

GetFolderPathFn get_folder_path() {
  return reinterpret_cast<GetFolderPathFn>(reinterpret_cast<void*>(shell32_function("SHGetFolderPathW")));
}
