// The parent role's child: its start, its supervision and the end of the
// run, whether the child ends by itself or an interruption or the end of
// the session ends it.
#pragma once

#include <windows.h>

#include "launcher/command_line.h"
#include "paths/wide_path.h"

// What the parent role starts as its only child: this executable again (a
// DLL main) or the app's program. The caller owns it (it is large: keep it
// off small stacks); `command_line` stays writable, since CreateProcessW may
// write into it.
struct ChildStart {
  wchar_t executable[kPathCapacity];
  wchar_t command_line[kCommandLineCapacity];
  DWORD creation_flags;  // added to the suspended start
};

// Fills `child` with this executable, the launcher's arguments re-quoted
// and argument 0 its module path.
void this_executable_as_child(ChildStart& child);

// Starts the child and runs it to its end: supervises and waits for it,
// deletes the target directory (unless processes the app started still
// run) and returns the child's exit code.
DWORD run_child_to_end(ChildStart& child);

// Deletes the parent's target directory if this process owns it
// (g_parent.owns_folder).
void delete_folder_if_owned();

// How long an ending run gives a running child before terminating it. An
// interruption: 5 s. The end of the console or of the session: 3 s, so that
// with the deletion's retries (about 2 s) the run is over within the 5 s the
// system allows before it ends the process itself.
inline constexpr DWORD kInterruptionGraceMs = 5000;
inline constexpr DWORD kSessionEndGraceMs = 3000;

// Ends the run on an interruption or an ending session: gives a running
// child up to `grace_ms`, terminates it if still running, cleans up and ends
// the process with the child's exit code, or STATUS_CONTROL_C_EXIT when the
// child had to be terminated or was not running yet. Called once the main
// thread has taken the child's exit code, it waits for the main thread to
// end the process instead.
void end_interrupted_run(DWORD grace_ms);

// Whether the child has been resumed, so that the app runs.
bool child_has_started();
