// The entry routine: decides the role once, then runs the parent's path
// (hand the environment over, expand the target directory, unpack or find
// the cache folder, run the child to its end) or the child's (expand the same
// target directory, find the main library, call the app).
#include "launcher/main_sequence.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "contract/format.h"
#include "contract/target_folder_name.h"
#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/cache_folder.h"
#include "launcher/child_entry.h"
#include "launcher/child_supervision.h"
#include "launcher/console_handler.h"
#include "launcher/delete_tree.h"
#include "launcher/fatal_dialog.h"
#include "launcher/program_main.h"
#include "launcher/progress_window.h"
#include "launcher/run_state.h"
#include "launcher/windowed.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/own_path.h"
#include "paths/path_template.h"
#include "paths/wide_path.h"
#include "payload/reader.h"
#include "payload/stored_payload.h"
#include "payload/unpack.h"

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

  wchar_t parent_image[kParentImageCapacity];
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
  if (g_parent.interrupted) wait_for_the_ending();
  close_file_being_written();
  delete_tree_once(g_parent.target_directory);
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
  if (started_by_parent()) delete_tree_once(g_child.target_directory);
}

// The target folder's template: the one packed with the launcher, or the
// default one.
const wchar_t* target_folder_template() {
  return onefile_target_template[0] ? onefile_target_template : target_folder_name::kDefaultTemplateWide;
}

// Expands the target folder's template into `directory` (kPathCapacity
// units), fully qualified. Both roles expand the same text: the child
// inherits the parent's process ID, time and random values.
void expand_target_directory(wchar_t* directory) {
  const wchar_t* target_template = target_folder_template();
  // Checked before the full path is taken: a failed expansion leaves an
  // empty or partial text, whose full path may fail and abort without the
  // message.
  if (!expand_path_template(directory, target_template, kPathCapacity)) fail_template(target_template);
  wchar_t full_path[kPathCapacity];
  const DWORD full_length = GetFullPathNameW(directory, kPathCapacity, full_path, nullptr);
  if (full_length == 0 || full_length > kPathCapacity - 1) abort();
  bounded_copy(directory, kPathCapacity, full_path);
}

void check_payload_header() {
  if (onefile_payload_size < payload_format::kHeaderSize ||
      memcmp(onefile_payload, payload_format::kHeader, payload_format::kHeaderSize) != 0) {
    fail_message(msg::kHeader);
  }
}

void open_payload() { payload_open(onefile_payload, static_cast<size_t>(onefile_payload_size)); }

// The values a parent stores for its child role besides its process ID
// (VORLAN_ONEFILE_PARENT): those of {TIME}, {TIME_US} and {RANDOM}, and a
// cached run's folder.
constexpr const char* kHandOverVariables[] = {"VORLAN_ONEFILE_START", "VORLAN_ONEFILE_TIME_US",
                                              "VORLAN_ONEFILE_RANDOM", "VORLAN_ONEFILE_TARGET"};

// Fresh time and random values for this run; the child inherits them and
// our process ID, and so expands the same target directory.
void hand_environment_to_child() {
  for (const char* name : kHandOverVariables) env_set(name, nullptr);
  char pid_text[16];
  snprintf(pid_text, sizeof pid_text, "%ld", static_cast<long>(GetCurrentProcessId()));
  wchar_t pid_wide[sizeof pid_text];
  widen_bytes(pid_text, pid_wide, sizeof pid_text);
  env_set("VORLAN_ONEFILE_PARENT", pid_wide);
}

// Writes every entry into the parent's target directory; a cached run's
// entries go through the cache, which links, skips or writes each and
// notes it in the record.
void unpack_all_entries(bool cache) {
  Entry entry;
  for (;;) {
    // Interrupted while unpacking: writing on would refill the directory the
    // handler is deleting, and a failure here would end the process in the
    // middle of that deletion. The system ends the process once the handler
    // is done.
    if (g_parent.interrupted) wait_for_the_ending();
    const EntryOutcome outcome = cache ? unpack_next_cached_entry(g_parent.cache, g_parent.interrupted, entry)
                                       : unpack_next_entry(g_parent.target_directory, g_parent.interrupted, entry);
    if (outcome == EntryOutcome::end_of_list) return;
  }
}

int run_child() {
  ChildStart child;
  if (!program_main()) {
    this_executable_as_child(child);
    return static_cast<int>(run_child_to_end(child));
  }
  // A program has no child role: the hand-over means nothing to it nor to
  // what it starts, which sees the user's environment (once the fixed
  // arguments, which may name {PID}, {TIME_US} or {RANDOM}, are expanded).
  program_as_child(child);
  env_set("VORLAN_ONEFILE_PARENT", nullptr);
  for (const char* name : kHandOverVariables) env_set(name, nullptr);
  return static_cast<int>(run_child_to_end(child));
}

int run_as_parent() {
  if (windowed_program()) {
    enable_fatal_dialogs();
    start_progress_window();
  }
  hand_environment_to_child();
  expand_target_directory(g_parent.target_directory);
  if (!SetConsoleCtrlHandler(console_ctrl_handler, TRUE)) fail_message(msg::kRegisterHandler);
  check_payload_header();

  // Cache mode: the expanded template is the cache root. A complete key
  // folder leaves nothing to unpack, and nothing of the payload is read: the
  // child finds the main library itself. A first start or a repair unpacks
  // into a staging folder.
  const bool cache = cache_mode();
  if (cache) {
    const bool use = choose_cache_folder(g_parent.target_directory, onefile_cache_key, g_parent.cache) ==
                     CacheStart::use;
    bounded_copy(g_parent.target_directory, kPathCapacity, use ? g_parent.cache.key_folder : g_parent.cache.staging);
    if (use) return run_child();
  }
  open_payload();
  // The parent makes its own, fresh target directory (in cache mode the
  // staging folder); from then on a fatal stop deletes it.
  if (create_target_directory(g_parent.target_directory)) g_before_fatal_stop = delete_target_on_fatal_stop;
  InterlockedExchange(&g_parent.owns_folder, 1);
  progress_unpacking_started();
  if (cache) mark_staging_folder(g_parent.cache);
  unpack_all_entries(cache);

  // A damaged frame must not reach the child: its checksum is checked first.
  payload_finish();
  payload_close();
  if (cache) bounded_copy(g_parent.target_directory, kPathCapacity, publish_cache_folder(g_parent.cache));
  return run_child();
}

int run_as_child() {
  if (windowed_program()) enable_fatal_dialogs();
  // A cached run's child runs from the folder its parent names; it needs no
  // expansion of the cache root (whose folder lookup would load the shell).
  const bool cache = cache_mode();
  if (cache) take_folder_from_parent(g_child.target_directory);
  else expand_target_directory(g_child.target_directory);
  check_payload_header();
  open_payload();
  if (!cache) g_before_fatal_stop = delete_parents_folder_on_fatal_stop;
  // A payload without any file has no main library to load.
  if (!read_first_entry_path(g_child.target_directory, g_child.main_library_path))
    fail_system(msg::kLoadDll, ERROR_MOD_NOT_FOUND);
  return hand_off_to_main_library();
}

}  // namespace

int launcher_main() {
  // Libraries are never taken from the current directory.
  SetDllDirectoryW(L"");
  // A program main is started by the parent itself: no child role, so an
  // app that starts this executable again gets a run of its own.
  const bool child_role = !program_main() && parent_is_running_this_executable();
  // The runtime's abort (a violated bound) is a fatal stop too.
  signal(SIGABRT, report_abort);
  return child_role ? run_as_child() : run_as_parent();
}
