// The main library of the packed test apps. argv[1] picks what it does, so
// one library serves every end-to-end test.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "launcher/run_code.h"
#include "launcher/tests/ctrl_c_actions.h"
#include "launcher/tests/parent_modules.h"

namespace {

void out(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);
}

std::wstring env(const wchar_t* name) {
  static wchar_t value[32768];
  DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n ? std::wstring(value, n) : L"<unset>";
}

std::wstring directory_of(const wchar_t* path) {
  std::wstring p = path;
  return p.substr(0, p.rfind(L'\\'));
}

void copy_tree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) copy_tree(from + L"\\" + name, to + L"\\" + name);
    else CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

// Counts the directories in the temp directory whose name starts with `prefix`.
int count_temp_dirs(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((std::wstring(temp) + prefix + L"*").c_str(), &fd);
  int count = 0;
  if (h == INVALID_HANDLE_VALUE) return 0;
  do count += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return count;
}

int run(int argc, wchar_t** argv, const wchar_t* library_path) {
  std::wstring action = argc > 1 ? argv[1] : L"";
  if (action == L"exit") return static_cast<int>(wcstoul(argv[2], nullptr, 0));
  if (action == L"args") {
    out(L"argc=" + std::to_wstring(argc) + L"\n");
    for (int i = 0; i < argc; ++i) out(L"argv[" + std::to_wstring(i) + L"]=" + argv[i] + L"\n");
    out(L"VORLAN_ORIGINAL_ARGV0=" + env(L"VORLAN_ORIGINAL_ARGV0") + L"\n");
    return 0;
  }
  if (action == L"parent-modules") {
    out(parent_modules::lines());
    return 0;
  }
  if (action == L"command-line") {
    out(GetCommandLineW());
    return 0;
  }
  if (action == L"env") {
    for (const wchar_t* name : {L"VORLAN_ONEFILE_PARENT", L"VORLAN_ONEFILE_DIRECTORY", L"VORLAN_ONEFILE_START",
                                L"VORLAN_ONEFILE_TIME_US", L"VORLAN_ONEFILE_RANDOM"})
      out(std::wstring(name) + L"=" + env(name) + L"\n");
    out(L"parent_pid=" + std::to_wstring(parent_modules::parent_process_id()) + L"\n");
    out(L"library=" + std::wstring(library_path) + L"\n");
    return 0;
  }
  if (action == L"write-own-files") {
    // What many portable apps do in their own folder: a log and a settings
    // file of their own, and a shipped file changed (it grows).
    const std::wstring folder = directory_of(library_path);
    CreateDirectoryW((folder + L"\\settings").c_str(), nullptr);
    for (const wchar_t* name : {L"\\app.log", L"\\settings\\user.ini", L"\\data\\nested\\deep\\text.txt"}) {
      HANDLE file = CreateFileW((folder + name).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
      if (file == INVALID_HANDLE_VALUE) return 90;
      DWORD written = 0;
      WriteFile(file, "written by the app\n", 19, &written, nullptr);
      CloseHandle(file);
    }
    return 0;
  }
  if (action == L"copy-tree") {
    copy_tree(directory_of(library_path), argv[2]);
    return 0;
  }
  if (action == L"wait") {
    out(L"ready " + directory_of(library_path) + L"\n");
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 0)));
    return 5;
  }
  if (action == L"stdin") {
    // Echoes standard input, for the console launcher's shared streams.
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), stdin)) > 0;) text.append(buffer, n);
    fputs(("read: " + text).c_str(), stdout);
    fflush(stdout);
    return 0;
  }
  if (action == L"ctrl-c-default") return ctrl_c_actions::wait_without_handler(out, directory_of(library_path));
  if (action == L"ctrl-c-goes-on")
    return ctrl_c_actions::go_on_after_ctrl_c(out, directory_of(library_path), wcstoul(argv[2], nullptr, 0),
                                              static_cast<int>(wcstoul(argv[3], nullptr, 0)));
  if (action == L"start-helper") {
    // Starts the command line argv[3]... without waiting for it and without
    // handing it any handle, then returns argv[2].
    std::wstring cmd;
    for (int i = 3; i < argc; ++i) cmd += (i > 3 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 90;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    out(L"ready " + directory_of(library_path) + L"\n");
    return static_cast<int>(wcstoul(argv[2], nullptr, 0));
  }
  if (action == L"hold") {
    // A process of its own keeps a file in the target directory open after
    // this one has ended: argv[2] runs it, it sets the named event when the
    // file is open. The event's name is this process's own: tests running at
    // the same time must not see each other's signal. It breaks away from
    // the launcher's job, as a scanner holding the file is no process of the
    // app's: the launcher then deletes the folder, retrying, instead of
    // leaving it to a helper.
    std::wstring event_name = L"onefile_test_file_held_" + std::to_wstring(GetCurrentProcessId());
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    std::wstring held = directory_of(library_path) + L"\\held.txt";
    std::wstring cmd = L"\"" + std::wstring(argv[2]) + L"\" --mode hold_file \"" + held + L"\" " + argv[3] + L" " +
                       event_name;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &si,
                        &pi))
      return 90;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (WaitForSingleObject(opened, 20000) != WAIT_OBJECT_0) return 91;
    out(L"held " + held + L"\n");
    return 7;
  }
  if (action == L"spawn-self") {
    // Started while this process runs, the same executable must take the
    // child role and find the library where this one lies.
    out(L"first library=" + std::wstring(library_path) + L"\n");
    out(L"dirs=" + std::to_wstring(count_temp_dirs(L"onefile_" + env(L"VORLAN_ONEFILE_PARENT") + L"_")) + L"\n");
    std::wstring cmd = L"\"" + std::wstring(argv[0]) + L"\" report";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(argv[0], cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 90;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    out(L"dirs=" + std::to_wstring(count_temp_dirs(L"onefile_" + env(L"VORLAN_ONEFILE_PARENT") + L"_")) + L"\n");
    return static_cast<int>(code);
  }
  if (action == L"report") {
    out(L"second library=" + std::wstring(library_path) + L"\n");
    out(L"second parent=" + env(L"VORLAN_ONEFILE_PARENT") + L"\n");
    return 11;
  }
  if (action == L"show-window") {
    // A visible top-level window of the app, for the launcher's start-up
    // window to give way to: shown after argv[2] ms, for argv[3] ms; then the
    // app ends with 6.
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 0)));
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OnefileTestAppWindow";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"test app", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  200, 100, nullptr, nullptr, window_class.hInstance, nullptr);
    if (!window) return 90;
    const DWORD end = GetTickCount() + static_cast<DWORD>(wcstoul(argv[3], nullptr, 0));
    for (MSG message; static_cast<LONG>(end - GetTickCount()) > 0;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return 6;
  }
  out(L"unknown action\n");
  return 99;
}

}  // namespace

ONEFILE_RUN_CODE { return run(argc, argv, library_path); }
