// The child's command line: the launcher's own command line split by the
// system's rules and every argument quoted again, so that the child's
// runtime splits it back into the same arguments.
#pragma once

#include <string>
#include <vector>

// Appends one argument to the child command line, quoted so that
// CommandLineToArgvW gives it back unchanged; with `literal_wildcards`, an
// argument holding * or ? is quoted too, so that the child's runtime does
// not expand it.
void append_argument(const wchar_t* argument, bool literal_wildcards = false);

// The child command line being built (32768 units); it stays writable, since
// CreateProcessW may write into it.
wchar_t* child_command_line();
void reset_child_command_line();
// Appends `text` as it is.
void append_text(const wchar_t* text);

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

// Empties the child command line and appends `program` and the arguments
// after argument 0 of `command_line`, separated by one blank; wildcards stay
// literal in the arguments that `command_line` writes with quotes.
void build_child_command_line(const wchar_t* program, const wchar_t* command_line);
