// The launcher core: the entry routine and role decision, the child-role
// hand-off to the main library, and the child's launch and supervision.
#pragma once

#include <windows.h>

// Set to 1 right before the first entry is read; cleanup deletes the target
// directory only when it is set.
extern volatile unsigned char g_unpack_started;

// Child role: loads the main library and returns the result of its run_code.
int hand_off_to_main_library();

// child_process.cpp: parent role: starts the child, waits, cleans up, returns its exit code.
DWORD launch_child();

// command_line.cpp: appends one argument to the child command line, quoted
// so that CommandLineToArgvW gives it back unchanged; with
// `literal_wildcards`, an argument holding * or ? is quoted too, so that the
// child's runtime does not expand it.
void append_argument(const wchar_t* argument, bool literal_wildcards = false);

// The child command line being built (32768 units); it stays writable, since
// CreateProcessW may write into it.
wchar_t* child_command_line();
void reset_child_command_line();

// Empties the child command line and appends the arguments (`command_line`
// split by CommandLineToArgvW), separated by one blank; wildcards stay
// literal in the arguments that `command_line` writes with quotes.
void build_child_command_line(wchar_t** arguments, int count, const wchar_t* command_line);

// delete_tree.cpp: deletes the target directory with everything in it,
// retrying for about two seconds while a file in it is still in use.
void delete_target_directory();

// One attempt of that deletion, without retries.
void delete_target_directory_once();

// child_process.cpp: waits for (up to 5 s), terminates and closes a running child; deletes the
// target directory if unpacking has started.
void cleanup();

// console_handler.cpp: runs cleanup for console events that end the run.
BOOL WINAPI console_ctrl_handler(DWORD event);

// The entry routine's body, also called by tests.
int launcher_main();
