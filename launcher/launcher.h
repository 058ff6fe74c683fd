// The launcher core: the entry routine and role decision, the child-role
// hand-off to the main library, and the parent's start and supervision of
// the child. The state the roles share with their handlers: run_state.h.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/cache.h"
#include "payload/unpack.h"

// child_entry.cpp: child role: loads the main library (g_child) and returns
// the result of its run_code.
int hand_off_to_main_library();

// What the parent role starts as its only child: this executable again (a
// DLL main) or the app's program. `command_line` stays writable, since
// CreateProcessW may write into it.
struct ChildStart {
  const wchar_t* executable;
  wchar_t* command_line;
  DWORD creation_flags;  // added to the suspended start
};

// child_supervision.cpp: parent role: starts the child and runs it to its
// end: supervises and waits for it, deletes the target directory (unless
// processes the app started still run) and returns the child's exit code.
DWORD run_child_to_end(const ChildStart& child);

// child_supervision.cpp: this executable as the child, with the launcher's
// arguments re-quoted and argument 0 its module path.
ChildStart this_executable_as_child();

// program_main.cpp: whether the main is a program (the launcher never takes
// the child role then).
bool program_main();

// program_main.cpp: the unpacked program in g_parent.target_directory as the
// child: its quoted full path, the fixed arguments (each expanded, {APP_DIR}
// being its folder, and quoted as one argument), then the rest of the
// launcher's command line as it was received. A fixed argument that cannot
// be expanded is fatal (fail_template).
ChildStart program_as_child();

// command_line.cpp: appends one argument to the child command line, quoted
// so that CommandLineToArgvW gives it back unchanged; with
// `literal_wildcards`, an argument holding * or ? is quoted too, so that the
// child's runtime does not expand it.
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

// delete_tree.cpp: deletes `directory` (the target directory) with
// everything in it, retrying for about two seconds while a file in it is
// still in use.
void delete_tree_with_retries(const wchar_t* directory);

// Deletes one directory tree once, without retries (a directory in use
// stays); a link, at the top or inside it, is removed, never followed.
void delete_tree_once(const wchar_t* directory);

// child_supervision.cpp: deletes the parent's target directory if this
// process owns it (g_parent.owns_folder).
void delete_folder_if_owned();

// How long an ending run gives a running child before terminating it. An
// interruption: 5 s. The end of the console or of the session: 3 s, so that
// with the deletion's retries (about 2 s) the run is over within the 5 s the
// system allows before it ends the process itself.
inline constexpr DWORD kInterruptionGraceMs = 5000;
inline constexpr DWORD kSessionEndGraceMs = 3000;

// child_supervision.cpp: ends the run on an interruption or an ending session:
// gives a running child up to `grace_ms`, terminates it if still running,
// cleans up and ends the process with the child's exit code, or
// STATUS_CONTROL_C_EXIT when the child had to be terminated or was not
// running yet. Called once the main thread has taken the child's exit code,
// it waits for the main thread to end the process instead.
void end_interrupted_run(DWORD grace_ms);

// Whether the child has been resumed, so that the app runs.
bool child_has_started();

// console_handler.cpp: the parent's console handler. Ctrl+C and Ctrl+Break
// of a console launcher whose app runs are the app's (see
// interruption_is_the_apps); every other event ends the run.
BOOL WINAPI console_ctrl_handler(DWORD event);

// session_end_window.cpp: starts a thread with a hidden top-level window
// that ends the run on WM_ENDSESSION, which a process without console
// events (or with user32 loaded) gets at log-off and shut-down. A failure
// leaves the app running without it.
void start_session_end_window();

// child_job.cpp: puts the child into a kill-on-close job that only this
// process holds and returns the job; null without a job (not allowed here),
// and the child runs all the same.
HANDLE put_child_in_job(HANDLE process);

// Once the child (process ID `child_id`) has ended by itself: when processes
// it started still run in `job`, lifts kill-on-close so that they outlive the
// launcher (breakaway stays allowed), and returns true: the target directory
// must then stay, as they may still use it. False for no job, or no helper.
bool release_helpers(HANDLE job, DWORD child_id);

// stale_folder_sweep.cpp: starts a thread that deletes target directories
// left in the temp directory by parents that were killed, and returns it
// (null if it could not start). Silent.
HANDLE start_stale_folder_sweep();

// A folder found directly in a folder being swept: its path (in a buffer of
// kFolderPathCapacity units) and what the search found.
inline constexpr size_t kFolderPathCapacity = kPathCapacity + 2 * MAX_PATH;
using FolderVisitor = void (*)(const wchar_t* path, const WIN32_FIND_DATAW& found, void* context);

// Calls `visit` for each folder directly in `parent` (less than kPathCapacity units)
// whose name matches `pattern`; links to folders are left out, and "." and
// "..".
void for_each_folder(const wchar_t* parent, const wchar_t* pattern, FolderVisitor visit, void* context);

// Whether `name` has the target folder's shape (contract/target_folder_name.h)
// and names as its owner another process that no longer runs, or one created
// after the folder (`folder_created`), which only reuses the ID. One that
// exists but may not be looked at counts as running.
bool owner_is_gone(const wchar_t* name, const FILETIME& folder_created);

// The system time in 100 ns units since 1601.
ULONGLONG current_time();

// Deletes the folder at `path` with `remove` if it is stale at `now` (older
// than a minute, its owner gone) and can be renamed (the test that nothing
// in it is in use).
void sweep_stale_folder(const wchar_t* path, const WIN32_FIND_DATAW& found, ULONGLONG now,
                        void (*remove)(const wchar_t*));

// The entry routine's body, also called by tests.
int launcher_main();
