// Own executable path and the resolved form of executable paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "paths/own_path.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::run_mode;

// The import slots through which this binary calls the system. A test routes
// one through a counter (that calls the real function) to see how often the
// code under test asks the system.
extern "C" {
extern decltype(&GetModuleFileNameW) __imp_GetModuleFileNameW;
extern decltype(&GetProcAddress) __imp_GetProcAddress;
}

namespace {
constexpr DWORD kAbortExit = 3;

template <typename Fn>
Fn swap_import(Fn* slot, Fn replacement) {
  DWORD protection;
  VirtualProtect(slot, sizeof(Fn), PAGE_READWRITE, &protection);
  Fn previous = *slot;
  *slot = replacement;
  VirtualProtect(slot, sizeof(Fn), protection, &protection);
  return previous;
}

int module_name_calls = 0;
decltype(&GetModuleFileNameW) real_module_name;
DWORD WINAPI counting_module_name(HMODULE module, LPWSTR buffer, DWORD size) {
  ++module_name_calls;
  return real_module_name(module, buffer, size);
}

int final_path_lookups = 0;
decltype(&GetProcAddress) real_proc_address;
FARPROC WINAPI counting_proc_address(HMODULE module, LPCSTR name) {
  if (HIWORD(reinterpret_cast<uintptr_t>(name)) != 0 && strcmp(name, "GetFinalPathNameByHandleW") == 0)
    ++final_path_lookups;
  return real_proc_address(module, name);
}

std::wstring resolved(const std::wstring& path, size_t capacity = 4097) {
  std::vector<wchar_t> buf(capacity + 1, L'#');
  wcscpy(buf.data(), path.c_str());
  resolve_executable_path(buf.data(), capacity);
  EXPECT_EQ(buf[capacity], L'#');
  return buf.data();
}

std::wstring shortened(const std::wstring& path) {
  wchar_t buf[4096];
  wcscpy(buf, path.c_str());
  shorten_directory_part(buf, 4096);
  return buf;
}

std::wstring stripped(const std::wstring& path) {
  wchar_t buf[512];
  wcscpy(buf, path.c_str());
  strip_long_path_prefix(buf);
  return buf;
}

std::wstring short_path(const std::wstring& path) {
  wchar_t buf[4096];
  DWORD n = GetShortPathNameW(path.c_str(), buf, 4096);
  return n == 0 || n >= 4096 ? L"" : buf;
}

// The length of the path the system reports for the open file.
size_t final_path_length(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  wchar_t buf[4096];
  DWORD n = GetFinalPathNameByHandleW(file, buf, 4096, 0);
  CloseHandle(file);
  return n;
}

// A file with long names in a fresh directory; removed at the end.
struct LongNamedFile {
  std::wstring root = onefile_test::make_temp_dir(L"own_path");
  std::wstring dir = root + L"\\Long Directory Name";
  std::wstring file = dir + L"\\Long File Name.exe";
  LongNamedFile() {
    CreateDirectoryW(dir.c_str(), nullptr);
    onefile_test::write_file(file, "x");
  }
  ~LongNamedFile() { onefile_test::remove_tree(root); }
};
}  // namespace

// Prints the number of module-name queries after each of four requests, then
// whether repeated requests gave the same pointer, then both forms.
ONEFILE_TEST_MODE(own_path_caches) {
  real_module_name = swap_import(&__imp_GetModuleFileNameW, &counting_module_name);
  const wchar_t* r1 = get_own_executable_path(true);
  const int c1 = module_name_calls;
  const wchar_t* r2 = get_own_executable_path(true);
  const int c2 = module_name_calls;
  const wchar_t* p1 = get_own_executable_path(false);
  const int c3 = module_name_calls;
  const wchar_t* p2 = get_own_executable_path(false);
  const int c4 = module_name_calls;
  printf("%d %d %d %d %d %d\n%s\n%s\n", c1, c2, c3, c4, r1 == r2, p1 == p2, narrow(r1).c_str(), narrow(p1).c_str());
  return 0;
}

ONEFILE_TEST_MODE(final_path_lookups) {
  real_proc_address = swap_import(&__imp_GetProcAddress, &counting_proc_address);
  wchar_t path[4097];
  for (int i = 0; i < 2; ++i) {
    GetModuleFileNameW(nullptr, path, 4097);
    resolve_executable_path(path, 4097);
  }
  printf("%d", final_path_lookups);
  return 0;
}

// args: operation, path, capacity. Prints the result.
ONEFILE_TEST_MODE(path_step) {
  const size_t capacity = std::stoul(args.at(2));
  std::vector<wchar_t> buf(args[1].c_str(), args[1].c_str() + args[1].size() + 1);
  buf.resize(std::max(capacity, buf.size()), L'#');
  if (args[0] == L"resolve") resolve_executable_path(buf.data(), capacity);
  else shorten_directory_part(buf.data(), capacity);
  fputs(narrow(buf.data()).c_str(), stdout);
  return 0;
}

TEST(OwnPath, EachFormIsComputedOnceAndSeparately) {
  auto r = run_mode(L"own_path_caches");
  ASSERT_EQ(r.exit_code, 0u) << r.err;
  const std::string exe = narrow(onefile_test::own_exe_path());
  EXPECT_EQ(r.out, "1 1 2 2 1 1\n" + narrow(resolved(onefile_test::own_exe_path())) + "\n" + exe + "\n");
}

TEST(OwnPath, FinalPathQueryIsLookedUpEachTime) {
  EXPECT_EQ(run_mode(L"final_path_lookups").out, "2");
}

TEST(LongPathPrefix, DriveAndShareForms) {
  EXPECT_EQ(stripped(L"\\\\?\\C:\\Apps\\Tool\\run.exe"), L"C:\\Apps\\Tool\\run.exe");
  EXPECT_EQ(stripped(L"\\\\?\\UNC\\srv\\share\\run.exe"), L"\\\\srv\\share\\run.exe");
  for (const wchar_t* kept : {L"\\\\?\\Volume{0b1c}\\run.exe", L"C:\\run.exe", L"\\\\srv\\share\\run.exe", L"\\\\?\\",
                              L"\\\\?\\C", L"\\\\?\\unc\\srv\\x"})
    EXPECT_EQ(stripped(kept), kept);
}

TEST(Resolve, SpellingsOfOneFileGiveOneText) {
  LongNamedFile f;
  const std::wstring short_dir = short_path(f.dir);
  ASSERT_FALSE(short_dir.empty());
  ASSERT_NE(short_dir, f.dir);
  const std::wstring expected = short_dir + L"\\Long File Name.exe";
  EXPECT_EQ(resolved(f.file), expected);
  EXPECT_EQ(resolved(short_path(f.file)), expected);
  EXPECT_EQ(resolved(L"\\\\?\\" + f.file), expected);
  std::wstring other_case = f.file;
  for (auto& c : other_case) c = towlower(c);
  EXPECT_EQ(resolved(other_case), expected);
  // A file that cannot be opened gets only the shortening, no prefix rules.
  EXPECT_EQ(resolved(f.dir + L"\\missing.exe"), short_dir + L"\\missing.exe");
  EXPECT_EQ(resolved(L"\\\\?\\C:\\no such dir\\run.exe"), L"\\\\?\\C:\\no such dir\\run.exe");
}

TEST(Resolve, FinalPathMustFitTheCapacity) {
  LongNamedFile f;
  const size_t length = final_path_length(f.file);
  ASSERT_GT(length, f.file.size());
  auto fits = run_mode(L"path_step", {L"resolve", f.file, std::to_wstring(length + 1)});
  EXPECT_EQ(fits.out, narrow(short_path(f.dir) + L"\\Long File Name.exe"));
  EXPECT_EQ(run_mode(L"path_step", {L"resolve", f.file, std::to_wstring(length)}).exit_code, kAbortExit);
  // The path given must itself be terminated within the capacity.
  EXPECT_EQ(run_mode(L"path_step", {L"resolve", f.file, std::to_wstring(f.file.size())}).exit_code, kAbortExit);
}

TEST(Shorten, DirectoryPartOnly) {
  // The system names the short form (PROGRA~1 on Windows, a hashed name under
  // Wine); a long last component keeps its form.
  const std::wstring program_files = short_path(L"C:\\Program Files");
  ASSERT_NE(program_files.find(L'~'), std::wstring::npos) << narrow(program_files);
  EXPECT_EQ(shortened(L"C:\\Program Files\\A Long File Name.exe"), program_files + L"\\A Long File Name.exe");
  EXPECT_EQ(shortened(L"C:\\Program Files\\"), program_files + L"\\");
  EXPECT_EQ(shortened(L"C:\\no such directory\\A Long File Name.exe"), L"C:\\no such directory\\A Long File Name.exe");
  EXPECT_EQ(shortened(L"no such name"), L"no such name");

  // Without a backslash the whole text is shortened, and nothing is appended.
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(L"C:\\");
  EXPECT_EQ(shortened(L"Program Files"), program_files.substr(3));
  SetCurrentDirectoryW(cwd);
}

TEST(Shorten, PathMustBeTerminatedWithinCapacity) {
  const std::wstring path = L"C:\\Program Files\\x";
  EXPECT_EQ(run_mode(L"path_step", {L"shorten", path, std::to_wstring(path.size() + 1)}).out,
            narrow(short_path(L"C:\\Program Files") + L"\\x"));
  EXPECT_EQ(run_mode(L"path_step", {L"shorten", path, std::to_wstring(path.size())}).exit_code, kAbortExit);
}
