#include "launcher/tests/packed_apps.h"

#include <sstream>

using onefile_test::ProcessResult;
using onefile_test::quote_argument;

std::wstring here() {
  std::wstring self = onefile_test::own_exe_path();
  return self.substr(0, self.rfind(L'\\'));
}

std::wstring temp_dir() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring t(temp, n);
  while (!t.empty() && t.back() == L'\\') t.pop_back();
  wchar_t full[4096];
  GetFullPathNameW(t.c_str(), 4096, full, nullptr);
  return full;
}

ProcessResult run_app(const std::wstring& exe, const std::vector<std::wstring>& args,
                      const std::vector<std::wstring>& env, const wchar_t* cwd, const std::wstring& typed_argv0) {
  std::wstring path = here() + L"\\" + exe;
  std::wstring cmd = quote_argument(typed_argv0.empty() ? path : typed_argv0);
  for (const auto& a : args) cmd += L" " + quote_argument(a);
  return onefile_test::run_process(path.c_str(), cmd, env, 60000, cwd);
}

std::map<std::string, std::string> lines(const std::string& out) {
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return m;
}

std::vector<std::wstring> leftovers(DWORD pid, const std::wstring& temp) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW fd;
  std::wstring pattern = temp + L"\\onefile_" + std::to_wstring(pid) + L"_*";
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do found.push_back(temp + L"\\" + fd.cFileName);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return found;
}

void remove_leftovers(DWORD pid, const std::wstring& temp) {
  for (const auto& dir : leftovers(pid, temp)) onefile_test::remove_tree(dir);
}

void read_tree(const std::wstring& dir, const std::wstring& prefix, std::map<std::wstring, std::string>& files) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) read_tree(dir + L"\\" + name, prefix + name + L"\\", files);
    else files[prefix + name] = onefile_test::read_file(dir + L"\\" + name);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}


std::string window_system_modules(const std::string& out) {
  // The shell, the window system and COM, and what loading them brings.
  static const char* const kLibraries[] = {
      "shell32.dll", "user32.dll",   "gdi32.dll",  "imm32.dll",  "ole32.dll",   "combase.dll", "comctl32.dll",
      "shlwapi.dll", "shcore.dll",   "rpcrt4.dll", "win32u.dll", "uxtheme.dll", "advapi32.dll", "oleaut32.dll"};
  std::istringstream in(out);
  std::string found;
  size_t listed = 0;
  for (std::string line; std::getline(in, line);) {
    if (line == "parent_modules=unknown") return "unknown";
    const std::string prefix = "parent_module=";
    if (line.rfind(prefix, 0) != 0) continue;
    ++listed;
    const std::string name = line.substr(prefix.size());
    for (const char* library : kLibraries)
      if (name == library) found += (found.empty() ? "" : " ") + name;
  }
  return listed == 0 ? "unknown" : found;
}
