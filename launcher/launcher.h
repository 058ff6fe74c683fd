// The launcher core: the entry routine and role decision, the child-role
// hand-off to the main library, and the child's launch and supervision.
#pragma once

#include <windows.h>

// Set to 1 right before the first entry is read; cleanup deletes the target
// directory only when it is set.
extern volatile unsigned char g_unpack_started;

// Set by the console handler before its clean-up deletes the target
// directory; the entry loop then stops writing and leaves the end of the
// process to the system.
extern volatile unsigned char g_interrupted;

// Child role: loads the main library and returns the result of its run_code.
int hand_off_to_main_library();

// Parent role: starts the child, waits, cleans up, returns its exit code.
DWORD launch_child();

// Appends one argument to the child command line, quoted so that
// CommandLineToArgvW gives it back unchanged.
void append_argument(const wchar_t* argument);

// The child command line being built (32768 units).
const wchar_t* child_command_line();
void reset_child_command_line();

// Waits for (up to 5 s), terminates and closes a running child; deletes the
// target directory if unpacking has started.
void cleanup();

BOOL WINAPI console_ctrl_handler(DWORD event);

// The entry routine's body, also called by tests.
int launcher_main();
