// The child's command line: the launcher's own command line split by the
// system's rules and every argument quoted again, so that the child's
// runtime splits it back into the same arguments.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest command line the system takes, 32767 units, and the
// terminator.
inline constexpr size_t kCommandLineCapacity = 32768;

// The appending functions write into a buffer the caller owns: at `end`,
// the terminator of the text so far, in a buffer that ends at `limit` (its
// start plus its capacity). Each keeps the text terminated and returns its
// new end, for the next call. A text that does not fit with its terminator
// aborts: a command line is never cut short.

// Appends `text` as it is.
wchar_t* append_text(wchar_t* end, const wchar_t* limit, const wchar_t* text);

// Appends `argument` quoted so that CommandLineToArgvW gives it back
// unchanged; with `literal_wildcards`, an argument holding * or ? is quoted
// too, so that the child's runtime does not expand it.
wchar_t* append_argument(wchar_t* end, const wchar_t* limit, const wchar_t* argument,
                         bool literal_wildcards = false);

// The text of `command_line` after argument 0 as the C runtime finds its end:
// empty, or starting with the blank that ends argument 0.
const wchar_t* command_line_tail(const wchar_t* command_line);

// One argument of a command line, and whether it held a double quote that
// was not escaped.
struct CommandLineArgument {
  std::wstring text;
  bool quoted = false;
};

// The arguments of `command_line` split by the system's rules (those of
// CommandLineToArgvW, which lives in shell32: loading that would load the
// window system before the child starts); argument 0 is always there.
std::vector<CommandLineArgument> split_command_line(const wchar_t* command_line);

// Writes into `buffer` (`capacity` units) `program` and the arguments after
// argument 0 of `command_line`, separated by one blank; wildcards stay
// literal in the arguments that `command_line` writes with quotes. Returns
// the end of the text.
wchar_t* build_child_command_line(wchar_t* buffer, size_t capacity, const wchar_t* program,
                                  const wchar_t* command_line);
