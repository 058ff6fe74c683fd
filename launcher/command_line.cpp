// The child's command line: every argument of the launcher's own command line,
// quoted so that the child's runtime splits it back into the same arguments.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "launcher/launcher.h"

namespace {

constexpr size_t kCommandLineCapacity = 32768;

wchar_t g_child_command_line[kCommandLineCapacity];

// Appends `count` units of `text`; the command line must keep room for its
// terminating 0.
void append_units(const wchar_t* text, size_t count) {
  size_t length = wcslen(g_child_command_line);
  if (count > kCommandLineCapacity - 1 - length) abort();
  wmemcpy(g_child_command_line + length, text, count);
  g_child_command_line[length + count] = L'\0';
}

void append_repeated(wchar_t c, size_t count) {
  for (size_t i = 0; i < count; ++i) append_units(&c, 1);
}

}  // namespace

wchar_t* child_command_line() { return g_child_command_line; }
void reset_child_command_line() { g_child_command_line[0] = L'\0'; }

// Quotes so that CommandLineToArgvW, which takes backslashes literally except
// before a double quote, gives the argument back:
//
//   abc        ->  abc
//   C:\dir\    ->  C:\dir\            (no blank or quote: left alone)
//   a b        ->  "a b"
//   a"b        ->  "a\"b"
//   C:\x y\    ->  "C:\x y\\"         (backslashes before the closing quote doubled)
//   a\\"b c    ->  "a\\\\\"b c"
//   a\b c      ->  "a\b c"
//   (empty)    ->  ""                 (so the child still receives it)
//   *.txt      ->  "*.txt"            (the child's runtime expands only unquoted wildcards,
//                                      and the parent's has expanded them already)
void append_argument(const wchar_t* argument) {
  if (argument[0] == L'\0') {
    append_units(L"\"\"", 2);
    return;
  }
  if (!wcspbrk(argument, L" \t\n\v\"*?")) {
    append_units(argument, wcslen(argument));
    return;
  }
  append_units(L"\"", 1);
  for (const wchar_t* p = argument;;) {
    size_t backslashes = 0;
    while (*p == L'\\') {
      ++backslashes;
      ++p;
    }
    if (*p == L'\0') {
      append_repeated(L'\\', 2 * backslashes);
      break;
    }
    if (*p == L'"') {
      append_repeated(L'\\', 2 * backslashes + 1);
    } else {
      append_repeated(L'\\', backslashes);
    }
    append_units(p, 1);
    ++p;
  }
  append_units(L"\"", 1);
}

void build_child_command_line(wchar_t** arguments, int count) {
  reset_child_command_line();
  for (int i = 0; i < count; ++i) {
    if (i > 0) append_units(L" ", 1);
    append_argument(arguments[i]);
  }
}
