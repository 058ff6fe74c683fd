// Fatal reporters. Every failure the launcher detects ends the process through
// one of these, after at most one line on a standard stream; none returns.
// Exit code 2, or the runtime's abort for template failures.
#pragma once

#include <windows.h>

#include "diag/fail_message.h"

// Run by every reporter before it prints, when set: the parent role sets it
// once it has created its target directory, to delete that directory.
extern void (*g_before_fatal_stop)();

// What a reporter printed, for a windowed launcher's box.
struct FatalMessage {
  const wchar_t* line;    // the message, without its newline
  const DWORD* code;      // the system code it carries, or null
  const wchar_t* insert;  // what the code's text names (its %1): the path the failed call had, or null
  DWORD stream;           // where the line went: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
};

// Run by every reporter after it printed, when set: a windowed launcher
// shows the message to the person (launcher/message_box.h).
extern void (*g_show_fatal_message)(const FatalMessage& message);

// The SIGABRT handler of both roles (a violated bound, or a template
// failure after its message): the fatal stop's clean-up, the bound message
// on standard error and, when set, g_show_fatal_message with it; the runtime
// then ends the process with its abort status (3). It does all this once only.
void report_abort(int);


// "<text> ([Error <code>] <system text>)" on standard error, then exit code 2.
// `code` is GetLastError's value right after the failed call; `insert`, the
// path that call was given, fills the system text's inserts (%1 ...), which
// are left empty without one.
[[noreturn]] void fail_system(const char* text, DWORD code, const wchar_t* insert = nullptr);

// "Error, couldn't runtime expand spec '<template>'." on standard error, then
// abort.
[[noreturn]] void fail_template(const wchar_t* path_template);

// "Error, failed to open '<path>' for writing." on standard error, then exit
// code 2.
[[noreturn]] void fail_open_for_writing(const wchar_t* path);
