// Parent role after unpacking: start this executable again as the child, wait
// for it, delete the target directory, and pass the child's exit code on. The
// console control handler runs the same clean-up when the user interrupts.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>

#include "diag/fail.h"
#include "diag/messages.h"
#include "launcher/launcher.h"
#include "paths/env.h"
#include "paths/own_path.h"
#include "paths/wide_path.h"
#include "payload/unpack.h"

namespace {

constexpr size_t kCommandLineCapacity = 32768;
constexpr DWORD kChildGraceMs = 5000;
constexpr int kDeleteRetries = 20;
constexpr DWORD kDeletePauseMs = 100;
constexpr size_t kExtendedPathCapacity = 32768;

wchar_t g_child_executable[kPathCapacity];
wchar_t g_child_command_line[kCommandLineCapacity];
wchar_t g_launcher_directory[4097];

// The handle the console handler may take. launch_child keeps its own handle
// for its wait and puts a duplicate here; whoever takes the duplicate out with
// the exchange is the only one to wait on, terminate and close it.
HANDLE volatile g_child_handle = nullptr;

HANDLE take_child_handle() {
  return static_cast<HANDLE>(InterlockedExchangePointer(const_cast<PVOID volatile*>(&g_child_handle), nullptr));
}

void fill_child_executable_path() {
  if (g_child_executable[0]) return;
  if (GetModuleFileNameW(nullptr, g_child_executable, kPathCapacity) == 0) abort();
}

// Appends `count` units of `text`; the command line must keep room for its
// terminating 0.
void append_units(const wchar_t* text, size_t count) {
  size_t length = wcslen(g_child_command_line);
  if (count > kCommandLineCapacity - 1 - length) abort();
  wmemcpy(g_child_command_line + length, text, count);
  g_child_command_line[length + count] = L'\0';
}

void append_repeated(wchar_t c, size_t count) {
  for (size_t i = 0; i < count; ++i) append_units(&c, 1);
}

// Deletes everything below the directory named by `path` (extended-length
// form, `length` units, in a buffer of kExtendedPathCapacity). Links inside
// the tree are removed themselves and never followed, so nothing outside the
// tree is touched.
void delete_below(wchar_t* path, size_t length) {
  if (length + 3 > kExtendedPathCapacity) return;
  wmemcpy(path + length, L"\\*", 3);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  path[length] = L'\0';
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const wchar_t* name = found.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    size_t name_length = wcslen(name);
    if (length + 1 + name_length + 1 > kExtendedPathCapacity) continue;
    path[length] = L'\\';
    wmemcpy(path + length + 1, name, name_length + 1);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) delete_below(path, length + 1 + name_length);
      RemoveDirectoryW(path);
    } else {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path);
    }
    path[length] = L'\0';
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// Deletes the target directory with everything in it. Paths in the tree may
// pass MAX_PATH, which the shell's file operation cannot handle (under Wine it
// then even deletes files of the current directory), so the walk uses
// extended-length paths. Whatever cannot be deleted yet stays; the caller
// retries. Both threads may run this at once: the buffer is per call.
void delete_target_directory() {
  wchar_t* path = static_cast<wchar_t*>(malloc(kExtendedPathCapacity * sizeof(wchar_t)));
  if (!path) return;
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = g_target_directory;
  if (wcsncmp(g_target_directory, L"\\\\?\\", 4) == 0) {
    prefix = L"";
  } else if (wcsncmp(g_target_directory, L"\\\\", 2) == 0) {
    prefix = L"\\\\?\\UNC\\";
    rest = g_target_directory + 2;
  }
  path[0] = L'\0';
  bounded_append(path, kExtendedPathCapacity, prefix);
  bounded_append(path, kExtendedPathCapacity, rest);
  delete_below(path, wcslen(path));
  RemoveDirectoryW(path);
  free(path);
}

}  // namespace

const wchar_t* child_command_line() { return g_child_command_line; }
void reset_child_command_line() { g_child_command_line[0] = L'\0'; }

// Quotes so that CommandLineToArgvW, which takes backslashes literally except
// before a double quote, gives the argument back:
//
//   abc        ->  abc
//   C:\dir\    ->  C:\dir\            (no blank or quote: left alone)
//   a b        ->  "a b"
//   a"b        ->  "a\"b"
//   C:\x y\    ->  "C:\x y\\"         (backslashes before the closing quote doubled)
//   a\\"b c    ->  "a\\\\\"b c"
//   a\b c      ->  "a\b c"
//   (empty)    ->  ""                 (so the child still receives it)
void append_argument(const wchar_t* argument) {
  if (argument[0] == L'\0') {
    append_units(L"\"\"", 2);
    return;
  }
  if (!wcspbrk(argument, L" \t\n\v\"")) {
    append_units(argument, wcslen(argument));
    return;
  }
  append_units(L"\"", 1);
  for (const wchar_t* p = argument;;) {
    size_t backslashes = 0;
    while (*p == L'\\') {
      ++backslashes;
      ++p;
    }
    if (*p == L'\0') {
      append_repeated(L'\\', 2 * backslashes);
      break;
    }
    if (*p == L'"') {
      append_repeated(L'\\', 2 * backslashes + 1);
    } else {
      append_repeated(L'\\', backslashes);
    }
    append_units(p, 1);
    ++p;
  }
  append_units(L"\"", 1);
}

DWORD launch_child() {
  // The child learns where the launcher lies, and what the user typed as
  // argument 0 (its own argument 0 is the launcher's module path).
  bounded_copy(g_launcher_directory, 4097, get_own_executable_path(false));
  if (wchar_t* last = wcsrchr(g_launcher_directory, L'\\')) *last = L'\0';
  env_set("VORLAN_ONEFILE_DIRECTORY", g_launcher_directory);
  env_set("VORLAN_ORIGINAL_ARGV0", __wargv[0]);

  fill_child_executable_path();

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.cb = sizeof(startup);

  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments) fail_system(msg::kLaunchChild, GetLastError());
  reset_child_command_line();
  fill_child_executable_path();
  arguments[0] = g_child_executable;
  for (int i = 0; i < count; ++i) {
    if (i > 0) append_units(L" ", 1);
    append_argument(arguments[i]);
  }

  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(g_child_executable, g_child_command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                      nullptr, nullptr, &startup, &process)) {
    fail_system(msg::kLaunchChild, GetLastError());
  }
  CloseHandle(process.hThread);

  DWORD exit_code = 0;
  HANDLE for_handler = nullptr;
  DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &for_handler, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  InterlockedExchangePointer(const_cast<PVOID volatile*>(&g_child_handle), for_handler);
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 1;
  CloseHandle(process.hProcess);
  if (HANDLE left = take_child_handle()) CloseHandle(left);

  cleanup();
  return exit_code;
}

void cleanup() {
  if (HANDLE child = take_child_handle()) {
    if (WaitForSingleObject(child, kChildGraceMs) != WAIT_OBJECT_0) TerminateProcess(child, 0);
    CloseHandle(child);
  }
  if (!g_unpack_started) return;

  // The deletion fails while a file in the tree is still open (the child may
  // take a moment to release its files): retry for about two seconds.
  delete_target_directory();
  for (int attempt = 0; attempt < kDeleteRetries; ++attempt) {
    DWORD attributes = GetFileAttributesW(g_target_directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    Sleep(kDeletePauseMs);
    delete_target_directory();
  }
}

BOOL WINAPI console_ctrl_handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_interrupted = 1;
      cleanup();
      break;
    default:
      break;
  }
  // Let the next handler (by default the one that ends the process) run.
  return FALSE;
}
