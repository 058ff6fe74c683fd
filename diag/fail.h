// Fatal reporters. Every failure the launcher detects ends the process through
// one of these, after at most one line on a standard stream; none returns.
// Exit code 2, or the runtime's abort for template failures.
#pragma once

#include <windows.h>

#include "diag/fail_message.h"

// Run by every reporter before it prints, when set: the parent role sets it
// once it has created its target directory, to delete that directory.
extern void (*g_before_fatal_stop)();

// Run by every reporter after it printed, when set: a windowed launcher
// shows the message to the person (diag/message_box.h). `code` is the
// system code the message carries, or null.
extern void (*g_show_fatal_message)(const wchar_t* line, const DWORD* code);

// The SIGABRT handler of both roles (a violated bound, or a template
// failure after its message): the fatal stop's clean-up and, when set,
// g_show_fatal_message with the bound message; the runtime then ends the
// process with its abort status. It does both once only.
void report_abort(int);


// "<text> ([Error <code>] <system text>)" on standard error, then exit code 2.
// `code` is GetLastError's value right after the failed call.
[[noreturn]] void fail_system(const char* text, DWORD code);

// "Error, couldn't runtime expand spec '<template>'." on standard error, then
// abort.
[[noreturn]] void fail_template(const wchar_t* path_template);

// "Error, failed to open '<path>' for writing." on standard error, then exit
// code 2.
[[noreturn]] void fail_open_for_writing(const wchar_t* path);

// Replaces the CR and LF characters that end `text` (of `length` characters)
// by NULs, moving from its end towards its start.
void trim_line_breaks(char* text, DWORD length);
