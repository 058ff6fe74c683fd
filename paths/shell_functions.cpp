#include "paths/shell_functions.h"

#include "diag/system_library.h"

namespace {

HMODULE shell32() {
  static HMODULE library = load_system_library(L"shell32.dll");
  return library;
}

}  // namespace

CommandLineToArgvFn command_line_to_argv() {
  return system_function<CommandLineToArgvFn>(shell32(), "CommandLineToArgvW");
}

GetFolderPathFn get_folder_path() { return system_function<GetFolderPathFn>(shell32(), "SHGetFolderPathW"); }
