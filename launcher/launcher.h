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

// Deletes one directory tree once, without retries (a directory in use
// stays); links inside it are removed, never followed.
void delete_tree_once(const wchar_t* directory);

// child_process.cpp: waits for (up to 5 s), terminates and closes a running child; deletes the
// target directory if unpacking has started.
void cleanup();

// console_handler.cpp: runs cleanup for console events that end the run.
BOOL WINAPI console_ctrl_handler(DWORD event);

// cache_folder.cpp: cache mode, when the launcher carries a cache key.
bool cache_mode();

// The target folder's template: the one packed with the launcher, or the
// default "{TEMP}\onefile_{PID}_{TIME_US}_{RANDOM}".
const wchar_t* target_folder_template();

// Cache mode, with the expanded cache root in g_target_directory: points
// g_target_directory at the folder to use. The child takes its parent's
// staging folder if that still exists, else the cache folder. The parent
// takes a cache folder that passes the cheap check (false: nothing to
// unpack), or creates a fresh staging folder to unpack into (true).
bool choose_cache_folder(bool child_role);

// Adds an unpacked file to the completion record.
void note_cached_file(const wchar_t* name, unsigned long long size);

// After unpacking into the staging folder: writes the completion record and
// renames the folder into place (or takes the winner's of a concurrent first
// start); g_target_directory then names the folder the child runs from.
void publish_cache_folder();

// Removes, silently and as far as possible, staging folders of killed first
// starts and folders of other keys in the cache root that no run uses.
void sweep_cache_root();

// The entry routine's body, also called by tests.
int launcher_main();
