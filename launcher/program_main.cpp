// A program as the app's main: the parent starts the unpacked program itself
// as its only child, with the user's command line as the launcher received
// it, after the fixed arguments packed with it.
#include "launcher/program_main.h"

#include <windows.h>

#include <cwchar>

#include "diag/fail.h"
#include "diag/message_box.h"
#include "launcher/command_line.h"
#include "launcher/run_state.h"
#include "paths/build_texts.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"

namespace {

constexpr size_t kArgumentCapacity = 32768;

wchar_t g_program_path[kPathCapacity];

}  // namespace

bool program_main() { return onefile_program_main[0] != L'\0'; }

ChildStart program_as_child() {
  bounded_join(g_program_path, kPathCapacity, g_parent.target_directory, onefile_program_main);
  // {APP_DIR}: the folder the program lies in.
  static wchar_t app_directory[kPathCapacity];
  bounded_copy(app_directory, kPathCapacity, g_program_path);
  *wcsrchr(app_directory, L'\\') = L'\0';

  reset_child_command_line();
  // Quoted always: argument 0 ends at the closing quote whatever the path holds.
  append_text(L"\"");
  append_text(g_program_path);
  append_text(L"\"");
  static wchar_t expanded[kArgumentCapacity];
  const wchar_t* const end = onefile_arguments + onefile_argument_units;
  for (const wchar_t* argument = onefile_arguments; argument < end; argument += wcslen(argument) + 1) {
    if (!expand_path_template(expanded, argument, kArgumentCapacity, app_directory)) fail_template(argument);
    append_text(L" ");
    // Quoted where it holds a wildcard too: a fixed argument reaches the
    // program as one argument, never expanded by its runtime.
    append_argument(expanded, true);
  }
  append_text(command_line_tail(GetCommandLineW()));
  // A windowed launcher has no console to share: a console program it starts
  // runs without a console window of its own, as the windowed kind promises.
  return {g_program_path, child_command_line(), windowed_program() ? DWORD{CREATE_NO_WINDOW} : 0};
}
