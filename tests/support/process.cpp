#include "tests/support/process.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace onefile_test {

std::wstring quote_argument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring own_exe_path() {
  wchar_t buf[4096];
  DWORD n = GetModuleFileNameW(nullptr, buf, 4096);
  return std::wstring(buf, n);
}

// The C runtime writes text streams with CR LF line ends; tests compare lines.
static std::string text_mode(std::string s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  return out;
}

static HANDLE open_capture_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

// Builds an environment block: the current environment with `changes` applied.
static std::wstring environment_block(const std::vector<std::wstring>& changes) {
  std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> vars(
      [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    size_t eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  FreeEnvironmentStringsW(env);
  for (const auto& change : changes) {
    size_t eq = change.find(L'=');
    std::wstring name = change.substr(0, eq);
    std::wstring value = eq == std::wstring::npos ? L"" : change.substr(eq + 1);
    if (value.empty()) vars.erase(name);
    else vars[name] = value;
  }
  std::wstring block;
  for (const auto& [name, value] : vars) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

ProcessResult run_process(const wchar_t* application, const std::wstring& command_line,
                          const std::vector<std::wstring>& environment, DWORD timeout_ms,
                          const wchar_t* current_directory) {
  ProcessResult result;
  std::wstring dir = make_temp_dir(L"capture");
  std::wstring out_path = dir + L"\\out", err_path = dir + L"\\err";
  HANDLE out = open_capture_file(out_path), err = open_capture_file(err_path);

  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::vector<wchar_t> cmd(command_line.begin(), command_line.end());
  cmd.push_back(0);
  std::wstring env = environment_block(environment);
  DWORD started = GetTickCount();
  // Wine under load now and then refuses a process start once; a test is
  // about what the program does, so try again before giving up.
  BOOL ok = FALSE;
  for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
    if (attempt > 0) Sleep(200);
    ok = CreateProcessW(application, cmd.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, env.data(),
                        current_directory, &si, &pi);
  }
  CloseHandle(out);
  CloseHandle(err);
  if (!ok) {
    result.exit_code = 0xFFFFFFFF;
    result.err = "CreateProcessW failed: " + std::to_string(GetLastError());
    remove_tree(dir);
    return result;
  }
  CloseHandle(pi.hThread);
  result.pid = pi.dwProcessId;
  if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    TerminateProcess(pi.hProcess, 0xDEAD);
    WaitForSingleObject(pi.hProcess, INFINITE);
  }
  result.elapsed_ms = GetTickCount() - started;
  GetExitCodeProcess(pi.hProcess, &result.exit_code);
  CloseHandle(pi.hProcess);
  result.out = text_mode(read_file(out_path));
  result.err = text_mode(read_file(err_path));
  remove_tree(dir);
  return result;
}

ProcessResult run_mode(const std::wstring& mode, const std::vector<std::wstring>& args,
                       const std::vector<std::wstring>& environment) {
  std::wstring exe = own_exe_path();
  std::wstring cmd = quote_argument(exe) + L" --mode " + mode;
  for (const auto& a : args) cmd += L" " + quote_argument(a);
  return run_process(exe.c_str(), cmd, environment);
}

std::wstring make_temp_dir(const wchar_t* tag) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  static unsigned counter = 0;
  for (;;) {
    wchar_t name[MAX_PATH * 2];
    swprintf(name, MAX_PATH * 2, L"%lsonefile_test_%ls_%lu_%lu_%u", temp, tag, GetCurrentProcessId(),
             GetTickCount(), ++counter);
    if (CreateDirectoryW(name, nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return name;
  }
}

void remove_tree(const std::wstring& dir) {
  // Extended-length form, so trees deeper than MAX_PATH go too.
  if (dir.size() > 2 && dir[1] == L':') {
    remove_tree(L"\\\\?\\" + dir);
    return;
  }
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(path);
      else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

void write_file(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::string read_file(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

bool path_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void age(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << narrow(path);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
  t.QuadPart -= 120ull * 10000000;
  FILETIME past = {t.LowPart, t.HighPart};
  EXPECT_TRUE(SetFileTime(h, &past, &past, &past));
  CloseHandle(h);
}

std::wstring local_app_data() {
  wchar_t local[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local);
  return local;
}

std::wstring default_cache_root(const std::wstring& product) {
  return local_app_data() + L"\\Vorlan Onefile\\" + product;
}

std::string narrow(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

}  // namespace onefile_test
