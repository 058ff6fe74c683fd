// The entry routine: decide the role, hand the environment over, expand the
// target directory, unpack (parent) or find the main library (child), then
// start the child (parent) or call the app (child).
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "diag/fail.h"
#include "diag/messages.h"
#include "diag/message_box.h"
#include "launcher/launcher.h"
#include "launcher/progress_window.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/own_path.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"
#include "payload/format.h"
#include "payload/reader.h"
#include "payload/stored_payload.h"
#include "payload/unpack.h"

volatile unsigned char g_unpack_started = 0;

namespace {

constexpr size_t kParentImageCapacity = 2048;

// The child role needs VORLAN_ONEFILE_PARENT to name a live process that runs
// this very executable file; anything else means this is the parent.
bool parent_is_running_this_executable() {
  wchar_t* value = env_get("VORLAN_ONEFILE_PARENT");
  if (!value) return false;

  errno = 0;
  wchar_t* end = nullptr;
  long pid = wcstol(value, &end, 10);
  if (errno == ERANGE || end == value || !end || *end != L'\0') return false;

  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
  if (!process) return false;

  static wchar_t parent_image[kParentImageCapacity];
  bool same = false;
  DWORD length = K32GetModuleFileNameExW(process, nullptr, parent_image, kParentImageCapacity);
  if (length != 0) {
    // A name that filled the buffer may be cut off. Compared as it is, it
    // would never match, and every child would start yet another child.
    if (length >= kParentImageCapacity - 1) abort();
    // Both names go through the same resolution, so an 8.3 or a prefixed
    // form of the same file still compares equal.
    resolve_executable_path(parent_image, kParentImageCapacity);
    same = wcscmp(parent_image, get_own_executable_path(true)) == 0;
  }
  CloseHandle(process);
  return same;
}

// A fatal stop of the parent once it has made its target directory: nothing
// of the failed run may stay, so the directory is deleted (one attempt) before
// the message. After Ctrl+C the console handler is deleting it already and
// the system ends the process when it is done: no message, no exit here.
void delete_target_on_fatal_stop() {
  if (g_interrupted) Sleep(INFINITE);
  close_file_being_written();
  delete_target_directory_once();
}

// Whether the process that started this one is the parent that
// VORLAN_ONEFILE_PARENT names, and not the app starting its own executable
// again (an instance that shares the folder with the running app).
bool started_by_parent() {
  wchar_t* value = env_get("VORLAN_ONEFILE_PARENT");
  if (!value) return false;
  const DWORD parent = wcstoul(value, nullptr, 10);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok && !found; ok = Process32NextW(snapshot, &entry))
    found = entry.th32ProcessID == GetCurrentProcessId() && entry.th32ParentProcessID == parent;
  CloseHandle(snapshot);
  return found;
}

// The parent's own child failing before the app runs: the parent's fresh
// folder is used by no one and goes before a box of the child's own waits
// for the person (the parent deletes it again, finding nothing).
void delete_parents_folder_on_fatal_stop() {
  if (started_by_parent()) delete_target_directory_once();
}

DWORD run_child() { return launch_child(program_main() ? program_as_child() : this_executable_as_child()); }

}  // namespace

int launcher_main() {
  // Libraries are never taken from the current directory.
  SetDllDirectoryW(L"");

  // A program main is started by the parent itself: no child role, so an
  // app that starts this executable again gets a run of its own.
  const bool child_role = !program_main() && parent_is_running_this_executable();
  // The runtime's abort (a violated bound) is a fatal stop too.
  signal(SIGABRT, report_abort);
  if (windowed_program()) {
    enable_fatal_dialogs();
    if (!child_role) start_progress_window();
  }
  if (!child_role) {
    // Fresh time and random values for this run; the child inherits them and
    // our process ID, and so expands the same target directory.
    env_set("VORLAN_ONEFILE_START", nullptr);
    env_set("VORLAN_ONEFILE_TIME_US", nullptr);
    env_set("VORLAN_ONEFILE_RANDOM", nullptr);
    env_set("VORLAN_ONEFILE_TARGET", nullptr);
    char pid_text[128];
    snprintf(pid_text, sizeof(pid_text), "%ld", static_cast<long>(GetCurrentProcessId()));
    wchar_t pid_wide[128];
    widen_bytes(pid_text, pid_wide, 128);
    env_set("VORLAN_ONEFILE_PARENT", pid_wide);
  }

  const wchar_t* target_template = target_folder_template();
  // Checked before the full path is taken: a failed expansion leaves an
  // empty or partial text, whose full path may fail and abort without the
  // message.
  if (!expand_path_template(g_target_directory, target_template, kPathCapacity)) fail_template(target_template);
  static wchar_t full_path[kPathCapacity];
  DWORD full_length = GetFullPathNameW(g_target_directory, kPathCapacity, full_path, nullptr);
  if (full_length == 0 || full_length > kPathCapacity - 1) abort();
  bounded_copy(g_target_directory, kPathCapacity, full_path);

  if (!child_role && !SetConsoleCtrlHandler(console_ctrl_handler, TRUE)) fail_message(msg::kRegisterHandler);

  if (onefile_payload_size < payload_format::kHeaderSize ||
      memcmp(onefile_payload, payload_format::kHeader, payload_format::kHeaderSize) != 0) {
    fail_message(msg::kHeader);
  }
  // Cache mode: the cache root was expanded. The child runs from the folder
  // its parent names; a complete key folder leaves the parent nothing to
  // unpack.
  const bool cache = cache_mode();
  bool write_files = !child_role;
  if (cache && child_role) take_folder_from_parent(g_target_directory);
  if (cache && !child_role) {
    write_files = choose_cache_folder(g_target_directory, onefile_cache_key, g_parent_cache);
    bounded_copy(g_target_directory, kPathCapacity, write_files ? g_parent_cache.staging : g_parent_cache.key_folder);
  }
  // A parent whose cache folder is complete reads nothing of the payload:
  // the child finds the main library itself.
  if (!child_role && !write_files) return static_cast<int>(run_child());
  payload_open(onefile_payload, static_cast<size_t>(onefile_payload_size));
  // The parent makes its own, fresh target directory (in cache mode the
  // staging folder); from then on a fatal stop deletes it.
  if (write_files && create_target_directory()) {
    g_before_fatal_stop = delete_target_on_fatal_stop;
  }
  if (child_role && !cache) g_before_fatal_stop = delete_parents_folder_on_fatal_stop;
  if (write_files) {
    g_unpack_started = 1;
    progress_unpacking_started();
  }
  if (cache && write_files) mark_staging_folder(g_parent_cache);

  for (;;) {
    // Interrupted while unpacking: writing on would refill the directory the
    // handler is deleting, and a failure here would end the process in the
    // middle of that deletion. The system ends the process once the handler
    // is done.
    if (g_interrupted) Sleep(INFINITE);
    switch (unpack_next_entry(child_role)) {
      case EntryOutcome::file_written:
        if (cache) note_cached_file(g_entry_name, g_entry_size);
        continue;
      case EntryOutcome::interrupted:
        continue;
      case EntryOutcome::main_library_reached:
        return hand_off_to_main_library();
      case EntryOutcome::end_of_list:
        break;
    }
    break;
  }

  // A payload without any file has no main library for the child to load.
  if (child_role) fail_system(msg::kLoadDll, ERROR_MOD_NOT_FOUND);
  // A damaged frame must not reach the child: its checksum is checked first.
  payload_finish();
  payload_close();
  if (cache) bounded_copy(g_target_directory, kPathCapacity, publish_cache_folder(g_parent_cache));
  return static_cast<int>(run_child());
}
