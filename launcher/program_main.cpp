// A program as the app's main: the parent starts the unpacked program itself
// as its only child, with the user's command line as the launcher received
// it, after the fixed arguments packed with it.
#include "launcher/program_main.h"

#include <windows.h>

#include <cwchar>

#include "diag/fail.h"
#include "launcher/command_line.h"
#include "launcher/run_state.h"
#include "launcher/windowed.h"
#include "paths/build_texts.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"

bool program_main() { return onefile_program_main[0] != L'\0'; }

void program_as_child(ChildStart& child) {
  bounded_join(child.executable, kPathCapacity, g_parent.target_directory, onefile_program_main);
  // {APP_DIR}: the folder the program lies in.
  wchar_t app_directory[kPathCapacity];
  bounded_copy(app_directory, kPathCapacity, child.executable);
  *wcsrchr(app_directory, L'\\') = L'\0';

  const wchar_t* const limit = child.command_line + kCommandLineCapacity;
  wchar_t* end = child.command_line;
  *end = L'\0';
  // Quoted always: argument 0 ends at the closing quote whatever the path holds.
  end = append_text(end, limit, L"\"");
  end = append_text(end, limit, child.executable);
  end = append_text(end, limit, L"\"");
  // An expanded argument longer than a command line could never go into one.
  wchar_t expanded[kCommandLineCapacity];
  const wchar_t* const arguments_end = onefile_arguments + onefile_argument_units;
  for (const wchar_t* argument = onefile_arguments; argument < arguments_end; argument += wcslen(argument) + 1) {
    if (!expand_path_template(expanded, argument, kCommandLineCapacity, app_directory)) fail_template(argument);
    end = append_text(end, limit, L" ");
    // Quoted where it holds a wildcard too: a fixed argument reaches the
    // program as one argument, never expanded by its runtime.
    end = append_argument(end, limit, expanded, true);
  }
  append_text(end, limit, command_line_tail(GetCommandLineW()));
  // A windowed launcher has no console to share: a console program it starts
  // runs without a console window of its own, as the windowed kind promises.
  child.creation_flags = windowed_program() ? DWORD{CREATE_NO_WINDOW} : 0;
}
