// The parent's side of the child: start it (this executable again, or the
// app's program), supervise it, wait for it, delete the target directory
// (unless processes the app started still run), and pass its exit code on;
// or end the run early on an interruption or an ending session.
#include "launcher/child_supervision.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/cache_folder.h"
#include "launcher/cache_sweep.h"
#include "launcher/child_job.h"
#include "launcher/command_line.h"
#include "launcher/delete_tree.h"
#include "launcher/progress_window.h"
#include "launcher/run_state.h"
#include "launcher/session_end_window.h"
#include "launcher/stale_folder_sweep.h"
#include "paths/env.h"
#include "paths/own_path.h"
#include "paths/wide_path.h"
#include "system/system_functions.h"

namespace {

// How long a run that has ended waits for the sweep of stale directories to
// finish: a sweep cut short leaves a half-deleted directory to the next one.
constexpr DWORD kSweepWaitMs = 30000;

// How long the child runs before the hidden log-off window is made.
constexpr ULONGLONG kSessionEndWindowDelayMs = 1000;

bool claim_ending() { return InterlockedCompareExchange(&g_parent.ending_claimed, 1, 0) == 0; }

// run_child_to_end keeps its own handle of the child for its wait and hands
// a duplicate to the handler in g_parent.child_handle.
void give_child_handle(HANDLE handle) {
  InterlockedExchangePointer(const_cast<PVOID volatile*>(&g_parent.child_handle), handle);
}

HANDLE take_child_handle() {
  return static_cast<HANDLE>(InterlockedExchangePointer(const_cast<PVOID volatile*>(&g_parent.child_handle), nullptr));
}

// Waits for the child, resumed at tick `resumed`, to end. The hidden log-off
// window comes only once the child has run for a second: loading user32,
// which holds the loader's lock, then no longer shares the machine with the
// child's start, and a shorter run (as most of a command-line tool's are)
// never loads it. A session that ends within that second ends the launcher
// as the system ends any program without a window (a console launcher hears
// of it through its console handler).
void wait_for_child(HANDLE child, ULONGLONG resumed) {
  const ULONGLONG ran = GetTickCount64() - resumed;
  const DWORD left = ran < kSessionEndWindowDelayMs ? static_cast<DWORD>(kSessionEndWindowDelayMs - ran) : 0;
  if (WaitForSingleObject(child, left) != WAIT_TIMEOUT) return;
  // A run that is being ended needs no window; nor could user32 load while
  // the console handler that ends it runs (see end_interrupted_run).
  if (!g_parent.interrupted) start_session_end_window();
  WaitForSingleObject(child, INFINITE);
}

}  // namespace

void this_executable_as_child(ChildStart& child) {
  if (GetModuleFileNameW(nullptr, child.executable, kPathCapacity) == 0) abort();
  build_child_command_line(child.command_line, kCommandLineCapacity, child.executable, GetCommandLineW());
  child.creation_flags = 0;
}

DWORD run_child_to_end(ChildStart& child) {
  // The child learns where the launcher lies, and what the user typed as
  // argument 0 (its own argument 0 is the path of what it runs).
  wchar_t launcher_directory[kOwnPathCapacity];
  bounded_copy(launcher_directory, kOwnPathCapacity, get_own_executable_path(false));
  if (wchar_t* last = wcsrchr(launcher_directory, L'\\')) *last = L'\0';
  env_set("VORLAN_ONEFILE_DIRECTORY", launcher_directory);
  env_set("VORLAN_ORIGINAL_ARGV0", __wargv[0]);

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.cb = sizeof(startup);

  progress_unpacking_ended();
  // Interrupted after unpacking: the handler is deleting the directory.
  if (g_parent.interrupted) wait_for_the_ending();
  // Started suspended: it runs only once the console handler holds a handle
  // of it (so Ctrl+C can never delete the directory under a running child)
  // and once it is in the job (so it cannot start anything outside it).
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(child.executable, child.command_line, nullptr, nullptr, TRUE,
                      NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | child.creation_flags, nullptr, nullptr, &startup,
                      &process)) {
    fail_system(msg::kLaunchChild, GetLastError(), child.executable);
  }

  // Handed to the handler before it runs: a handler that takes it while the
  // child is still suspended terminates it after the grace time.
  HANDLE for_handler = nullptr;
  if (!sys::DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &for_handler, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
    const DWORD error = GetLastError();
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    fail_system(msg::kLaunchChild, error, child.executable);
  }
  give_child_handle(for_handler);
  HANDLE job = put_child_in_job(process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  InterlockedExchange(&g_parent.child_resumed, 1);
  progress_child_started(process.dwProcessId);
  const ULONGLONG resumed = GetTickCount64();

  DWORD exit_code = 0;
  HANDLE sweep = start_stale_folder_sweep();
  // While the child starts: leftovers of the cache root go.
  if (cache_mode()) sweep_cache_root();
  wait_for_child(process.hProcess, resumed);
  close_progress_window();
  if (!claim_ending()) wait_for_the_ending();
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 1;
  // Processes the app started and left running may still read from the
  // folder: they outlive the launcher, which ends at once and leaves the
  // folder to a later run's sweep.
  const bool helpers_run = release_helpers(job, process.dwProcessId);
  CloseHandle(process.hProcess);
  if (HANDLE left = take_child_handle()) CloseHandle(left);

  if (!helpers_run) delete_folder_if_owned();
  if (sweep) {
    WaitForSingleObject(sweep, kSweepWaitMs);
    CloseHandle(sweep);
  }
  return exit_code;
}

void delete_folder_if_owned() {
  if (g_parent.owns_folder) delete_tree_with_retries(g_parent.target_directory);
}

bool child_has_started() { return InterlockedCompareExchange(&g_parent.child_resumed, 0, 0) != 0; }

void end_interrupted_run(DWORD grace_ms) {
  // The child has ended by itself and the main thread is ending the run
  // with its exit code.
  if (!claim_ending()) wait_for_the_ending();
  InterlockedExchange(&g_parent.interrupted, 1);
  DWORD exit_code = STATUS_CONTROL_C_EXIT;
  if (HANDLE child = take_child_handle()) {
    // An app that handles the event and ends within its grace time decides
    // the exit code itself.
    if (WaitForSingleObject(child, grace_ms) != WAIT_OBJECT_0 || !GetExitCodeProcess(child, &exit_code)) {
      TerminateProcess(child, STATUS_CONTROL_C_EXIT);
      exit_code = STATUS_CONTROL_C_EXIT;
    }
    CloseHandle(child);
  }
  delete_folder_if_owned();
  // Ended without the libraries' detach code, which ExitProcess runs under
  // the loader's lock: another thread may hold that lock while it loads
  // user32 (the log-off window), and the load waits for the console's
  // handler lock, which this thread holds while it runs the console
  // handler. Seen under Wine as a launcher that never ended after Ctrl+C.
  TerminateProcess(GetCurrentProcess(), exit_code);
}
