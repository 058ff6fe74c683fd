// The child's command line: every argument of the launcher's own command line,
// quoted so that the child's runtime splits it back into the same arguments.
#include "launcher/command_line.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

namespace {

// Appends `count` units of `text`, keeping room for the terminator.
wchar_t* append_units(wchar_t* end, const wchar_t* limit, const wchar_t* text, size_t count) {
  if (end >= limit || count > static_cast<size_t>(limit - end) - 1) abort();
  wmemcpy(end, text, count);
  end[count] = L'\0';
  return end + count;
}

wchar_t* append_repeated(wchar_t* end, const wchar_t* limit, wchar_t c, size_t count) {
  for (size_t i = 0; i < count; ++i) end = append_units(end, limit, &c, 1);
  return end;
}

}  // namespace

wchar_t* append_text(wchar_t* end, const wchar_t* limit, const wchar_t* text) {
  return append_units(end, limit, text, wcslen(text));
}

// Argument 0 as the C runtime reads the program name: up to the first blank
// or tab outside double quotes, each quote toggling, backslashes taken as
// they are. (CommandLineToArgvW ends a quoted name at its closing quote; the
// program's runtime, not the shell's parser, is what reads the rest.)
//
//   app.exe a b          ->  " a b"
//   "C:\x y\app.exe" a   ->  " a"
//   "C:\x y"\app.exe  a  ->  "  a"
//   app.exe              ->  ""
const wchar_t* command_line_tail(const wchar_t* command_line) {
  bool in_quotes = false;
  const wchar_t* p = command_line;
  for (; *p && (in_quotes || (*p != L' ' && *p != L'\t')); ++p)
    if (*p == L'"') in_quotes = !in_quotes;
  return p;
}

// Quotes so that CommandLineToArgvW, which takes backslashes literally except
// before a double quote, gives the argument back; the table is what each
// argument appends:
//
//   abc        ->  abc
//   C:\dir\    ->  C:\dir\            (no blank or quote: left alone)
//   a b        ->  "a b"
//   a"b        ->  "a\"b"
//   C:\x y\    ->  "C:\x y\\"         (backslashes before the closing quote doubled)
//   a\\"b c    ->  "a\\\\\"b c"
//   a\b c      ->  "a\b c"
//   (empty)    ->  ""                 (so the child still receives it)
//   *.txt      ->  *.txt              (written without quotes: the child's runtime expands it)
//   *.txt      ->  "*.txt"            (written in quotes: `literal_wildcards`, so it stays as it is)
wchar_t* append_argument(wchar_t* end, const wchar_t* limit, const wchar_t* argument, bool literal_wildcards) {
  if (argument[0] == L'\0') return append_units(end, limit, L"\"\"", 2);
  if (!wcspbrk(argument, L" \t\n\v\"") && !(literal_wildcards && wcspbrk(argument, L"*?")))
    return append_units(end, limit, argument, wcslen(argument));
  end = append_units(end, limit, L"\"", 1);
  for (const wchar_t* p = argument;;) {
    size_t backslashes = 0;
    while (*p == L'\\') {
      ++backslashes;
      ++p;
    }
    if (*p == L'\0') {
      end = append_repeated(end, limit, L'\\', 2 * backslashes);
      break;
    }
    end = append_repeated(end, limit, L'\\', *p == L'"' ? 2 * backslashes + 1 : backslashes);
    end = append_units(end, limit, p, 1);
    ++p;
  }
  return append_units(end, limit, L"\"", 1);
}

// The arguments of `command_line` as CommandLineToArgvW splits it:
//
//   prog a  b           ->  prog | a | b
//   "C:\x y\p.exe" a    ->  C:\x y\p.exe | a    argument 0 ends at its closing
//   "C:\x y"\p.exe      ->  C:\x y | \p.exe     quote, and has no escapes
//   p a\\b              ->  p | a\\b            backslashes are literal...
//   p a\\"b c"          ->  p | a\b c           ...but halved before a quote,
//   p a\"b              ->  p | a"b             and an odd count escapes it
//   p "a ""b"           ->  p | a "b            "" inside quotes: one quote,
//                                               and the quotes end there
//   p """a"""           ->  p | "a"             three quotes: one literal quote
//   p "" x              ->  p | (empty) | x
//
// `quoted` tells whether the argument held a double quote that was not
// escaped.
std::vector<CommandLineArgument> split_command_line(const wchar_t* command_line) {
  std::vector<CommandLineArgument> arguments(1);
  const wchar_t* p = command_line;
  CommandLineArgument& program = arguments[0];
  if (*p == L'"') {
    program.quoted = true;
    for (++p; *p && *p != L'"'; ++p) program.text += *p;
    if (*p) ++p;
  } else {
    for (; *p && *p != L' ' && *p != L'\t'; ++p) program.text += *p;
  }
  for (;;) {
    while (*p == L' ' || *p == L'\t') ++p;
    if (!*p) return arguments;
    CommandLineArgument& argument = arguments.emplace_back();
    // Quote count: 0 outside quotes, 1 inside; a run of quotes counts on, and
    // every third one of it is a literal quote.
    int quotes = 0;
    size_t backslashes = 0;
    while (*p && (quotes != 0 || (*p != L' ' && *p != L'\t'))) {
      if (*p == L'\\') {
        argument.text += *p++;
        ++backslashes;
        continue;
      }
      if (*p != L'"') {
        argument.text += *p++;
        backslashes = 0;
        continue;
      }
      // Backslashes before a quote: half of them stay; an odd one escapes it.
      argument.text.resize(argument.text.size() - (backslashes + 1) / 2);
      if (backslashes % 2 == 1) {
        argument.text += L'"';
      } else {
        argument.quoted = true;
        ++quotes;
      }
      backslashes = 0;
      for (++p; *p == L'"'; ++p) {
        argument.quoted = true;
        if (++quotes == 3) {
          argument.text += L'"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    }
  }
}

wchar_t* build_child_command_line(wchar_t* buffer, size_t capacity, const wchar_t* program,
                                  const wchar_t* command_line) {
  const wchar_t* const limit = buffer + capacity;
  wchar_t* end = buffer;
  *end = L'\0';
  // An argument with wildcards reaches the child as the parent received it:
  // the runtime expands it there only when it was written without quotes.
  const std::vector<CommandLineArgument> arguments = split_command_line(command_line);
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) end = append_units(end, limit, L" ", 1);
    end = append_argument(end, limit, i == 0 ? program : arguments[i].text.c_str(), arguments[i].quoted);
  }
  return end;
}
