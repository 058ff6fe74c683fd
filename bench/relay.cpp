// The start-up benchmark's floor for a launcher: a plain relay that starts
// the program named by the rest of its command line with the same standard
// handles, waits for it and ends with its exit code. It unpacks nothing and
// checks nothing: the least that any one-file launcher running its app as a
// child process can cost.
//   relay.exe PROGRAM [arguments...]
#include <windows.h>

int wmain() {
  // The rest of the command line after argument 0, as the runtime ends it.
  wchar_t* rest = GetCommandLineW();
  for (bool quoted = false; *rest && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest)
    if (*rest == L'"') quoted = !quoted;
  while (*rest == L' ' || *rest == L'\t') ++rest;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, rest, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return 127;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
