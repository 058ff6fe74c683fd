// The example app's main library. The launcher loads it from the directory it
// unpacked the app into and calls run_code; what it returns becomes the exit
// code of the packed executable.
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/run_code.h"

namespace {

// Windows text is UTF-16; the console of a build machine wants UTF-8.
void print(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring variable(const wchar_t* name) {
  wchar_t value[32768];
  DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n ? std::wstring(value, n) : L"(not set)";
}

// The app's data files lie next to its library, as they lay in the app tree.
std::string read_data_file(const std::wstring& library_path, const wchar_t* name) {
  std::wstring path = library_path.substr(0, library_path.rfind(L'\\') + 1) + name;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)\n";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof(buffer), &got, nullptr);
  CloseHandle(file);
  return std::string(buffer, got);
}

}  // namespace

ONEFILE_RUN_CODE {
  print(L"Hello from a packed app!\n");
  print(L"argument count: " + std::to_wstring(argc) + L"\n");
  for (int i = 0; i < argc; ++i) print(L"  argument " + std::to_wstring(i) + L": [" + argv[i] + L"]\n");
  print(L"VORLAN_ONEFILE_DIRECTORY: " + variable(L"VORLAN_ONEFILE_DIRECTORY") + L"\n");
  print(L"VORLAN_ORIGINAL_ARGV0: " + variable(L"VORLAN_ORIGINAL_ARGV0") + L"\n");
  print(L"library: " + std::wstring(library_path) + L"\n");
  std::string data = read_data_file(library_path, L"data\\greeting.txt");
  print(L"data\\greeting.txt says: ");
  fwrite(data.data(), 1, data.size(), stdout);
  fflush(stdout);
  return 0;
}
