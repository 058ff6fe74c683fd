// A Windows program packed as the main of test apps, built twice: as a
// console program and as a windowed one (REPORT_WINDOWED). By default it
// writes, as UTF-8 "key=value" lines on its standard output, what it was
// given: its raw command line, its argument vector as its C runtime splits
// it (wildcards expanded, as a program built with them on would see them),
// its working directory, its own path, the launcher's variables and its
// whole environment (lines "env=NAME=value", the hidden "=X:" ones left out).
//
// REPORT_PROGRAM in the environment asks for something else:
//   exit:N         end with exit code N (any 32 bits, decimal or 0x hex)
//   crash          an access violation (exit code 0xC0000005)
//   grandchild:F   start a copy of itself that writes its process ID to
//                  file F and waits; then wait too
//   helper:F       start that copy and end at once, leaving it running
//   wait           wait until ended
//   again          start the launcher it came from again (its path from
//                  VORLAN_ORIGINAL_ARGV0), wait for it and report its exit
//                  code as "again=N" before its own report
//   parent-modules the modules its parent process has loaded at this
//                  moment, first thing at its start, one "parent_module=NAME"
//                  line each (the name in lower case), then its report
// Started with the arguments "ctrl-c-default" or "ctrl-c-goes-on MS CODE" it
// acts as the test library does for ctrl_c_test.sh: prints "ready <the
// unpacked tree's top folder>", then either waits with no handler of its own
// (Ctrl+C ends it), or handles Ctrl+C and goes on, returning CODE after MS
// milliseconds if Ctrl+C reached it, else 98.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "launcher/tests/ctrl_c_actions.h"
#include "launcher/tests/parent_modules.h"

extern "C" {
// The program's runtime expands unquoted wildcards, as many programs' do.
int _dowildcard = -1;
}

namespace {

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring variable(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n == 0 || n >= 32768 ? L"(unset)" : std::wstring(value, n);
}

void line(std::string& out, const char* key, const std::wstring& value) {
  out += key;
  out += '=';
  out += utf8(value);
  out += '\n';
}

int report() {
  std::string out;
  line(out, "cmdline", GetCommandLineW());
  line(out, "argc", std::to_wstring(__argc));
  for (int i = 0; i < __argc; ++i) line(out, ("argv" + std::to_string(i)).c_str(), __wargv[i]);
  wchar_t buffer[32768];
  line(out, "cwd", std::wstring(buffer, GetCurrentDirectoryW(32768, buffer)));
  line(out, "self", std::wstring(buffer, GetModuleFileNameW(nullptr, buffer, 32768)));
  line(out, "directory", variable(L"VORLAN_ONEFILE_DIRECTORY"));
  line(out, "original_argv0", variable(L"VORLAN_ORIGINAL_ARGV0"));
  wchar_t* environment = GetEnvironmentStringsW();
  for (const wchar_t* entry = environment; *entry; entry += wcslen(entry) + 1)
    if (entry[0] != L'=') line(out, "env", entry);
  FreeEnvironmentStringsW(environment);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  return 0;
}

void print(const std::wstring& text) {
  const std::string bytes = utf8(text);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The top of the unpacked tree: the program lies in bin\ below it.
std::wstring tree_top() {
  wchar_t self[32768];
  std::wstring top(self, GetModuleFileNameW(nullptr, self, 32768));
  top.resize(top.rfind(L'\\'));
  top.resize(top.rfind(L'\\'));
  return top;
}

// With `wait`, waits for it, else returns at once.
int start_grandchild(const std::wstring& file, bool wait) {
  SetEnvironmentVariableW(L"REPORT_PROGRAM", (L"pid:" + file).c_str());
  wchar_t self[32768];
  GetModuleFileNameW(nullptr, self, 32768);
  std::wstring command = L"\"" + std::wstring(self) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 90;
  CloseHandle(process.hThread);
  if (wait) WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  return 0;
}

int run() {
  const std::wstring request = variable(L"REPORT_PROGRAM");
  if (request == L"parent-modules") print(parent_modules::lines());
  const auto value = [&](const wchar_t* prefix) -> const wchar_t* {
    const size_t n = wcslen(prefix);
    return request.compare(0, n, prefix) == 0 ? request.c_str() + n : nullptr;
  };
  if (const wchar_t* code = value(L"exit:")) return static_cast<int>(wcstoul(code, nullptr, 0));
  if (request == L"crash") {
    // Ends with the exception's code, as on a machine without a debugger
    // (Wine would start its own and wait for it).
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    *static_cast<volatile int*>(nullptr) = 1;
  }
  if (const wchar_t* file = value(L"grandchild:")) return start_grandchild(file, true);
  if (const wchar_t* file = value(L"helper:")) return start_grandchild(file, false);
  if (const wchar_t* file = value(L"pid:")) {
    // The grandchild: written to a new name and renamed, so the reader never
    // sees half of it.
    const std::wstring part = std::wstring(file) + L".part";
    FILE* out = _wfopen(part.c_str(), L"w");
    if (!out) return 91;
    fprintf(out, "%lu", GetCurrentProcessId());
    fclose(out);
    MoveFileW(part.c_str(), file);
    Sleep(INFINITE);
  }
  if (request == L"wait") Sleep(INFINITE);
  if (request == L"again") {
    SetEnvironmentVariableW(L"REPORT_PROGRAM", nullptr);
    const std::wstring launcher = variable(L"VORLAN_ORIGINAL_ARGV0");
    std::wstring command = L"\"" + launcher + L"\" nested";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(launcher.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      return 92;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    print(L"again=" + std::to_wstring(code) + L"\n");
  }
  if (__argc == 2 && std::wstring(__wargv[1]) == L"ctrl-c-default")
    return ctrl_c_actions::wait_without_handler(print, tree_top());
  if (__argc == 4 && std::wstring(__wargv[1]) == L"ctrl-c-goes-on")
    return ctrl_c_actions::go_on_after_ctrl_c(print, tree_top(), wcstoul(__wargv[2], nullptr, 0),
                                              static_cast<int>(wcstoul(__wargv[3], nullptr, 0)));
  return report();
}

}  // namespace

#ifdef REPORT_WINDOWED
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return run(); }
#else
int wmain() { return run(); }
#endif
