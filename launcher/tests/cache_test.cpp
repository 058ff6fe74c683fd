// Cached apps (onefile-pack --cache): extracted once, reused while complete,
// repaired when not, never deleted at the end of a run. Except for the first
// test, each test runs a copy of a cached app in a folder of its own whose
// cache root is "{PROGRAM_DIR}\cache", so that tests running at the same time
// never share a cache.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <map>
#include <thread>

#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::widen;

namespace {

constexpr wchar_t kRecord[] = L".onefile-complete";

// The folders directly in `dir`.
std::vector<std::wstring> subfolders(const std::wstring& dir) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring name = fd.cFileName;
    if (name != L"." && name != L".." && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(name);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return found;
}

// Relative path -> last write time of every file below `dir`.
void write_times(const std::wstring& dir, const std::wstring& prefix, std::map<std::wstring, ULONGLONG>& times) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) write_times(dir + L"\\" + name, prefix + name + L"\\", times);
    else times[prefix + name] = (ULONGLONG{fd.ftLastWriteTime.dwHighDateTime} << 32) | fd.ftLastWriteTime.dwLowDateTime;
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

// The packed tree (app.root, which every cached test app packs) as files.
std::map<std::wstring, std::string> packed_tree(const wchar_t* root = L"app.root") {
  std::map<std::wstring, std::string> files;
  read_tree(here() + L"\\" + root, L"", files);
  return files;
}

// The folder the app's library lies in, from its "env" output.
std::wstring library_folder(const onefile_test::ProcessResult& r) {
  const std::string library = lines(r.out)["library"];
  return widen(library.substr(0, library.rfind('\\')));
}

// A copy of a cached test app in a fresh folder; its cache lies in dir\cache.
struct CachedApp {
  std::wstring dir, exe;
  explicit CachedApp(const wchar_t* app, const wchar_t* tag) : dir(onefile_test::make_temp_dir(tag)) {
    exe = dir + L"\\app.exe";
    CopyFileW((here() + L"\\" + app).c_str(), exe.c_str(), FALSE);
  }
  ~CachedApp() { onefile_test::remove_tree(dir); }
  // Another build beside the first, sharing its cache root; returns its path.
  std::wstring add_build(const wchar_t* app, const wchar_t* name) const {
    const std::wstring other = dir + L"\\" + name;
    CopyFileW((here() + L"\\" + app).c_str(), other.c_str(), FALSE);
    return other;
  }
  std::wstring cache() const { return dir + L"\\cache"; }
  onefile_test::ProcessResult run(const std::vector<std::wstring>& args, const std::wstring& build = L"") const {
    const std::wstring& program = build.empty() ? exe : build;
    std::wstring cmd = onefile_test::quote_argument(program);
    for (const auto& a : args) cmd += L" " + onefile_test::quote_argument(a);
    return onefile_test::run_process(program.c_str(), cmd);
  }
};

// The tree of the cache folder less its completion record.
std::map<std::wstring, std::string> cached_tree(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  read_tree(folder, L"", files);
  EXPECT_EQ(files.erase(kRecord), 1u) << narrow(folder);
  return files;
}

}  // namespace

TEST(Cache, SecondRunWritesNothingAndUsesTheSameFolderInLocalAppData) {
  wchar_t local[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local), S_OK);
  const std::wstring root = std::wstring(local) + L"\\Vorlan Onefile\\Onefile Cache Test";
  onefile_test::remove_tree(root);

  auto first = run_app(L"cache_app.exe", {L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring folder = library_folder(first);
  EXPECT_EQ(folder.rfind(root + L"\\", 0), 0u) << narrow(folder);
  EXPECT_EQ(cached_tree(folder), packed_tree());
  std::map<std::wstring, ULONGLONG> before, after;
  write_times(folder, L"", before);

  Sleep(50);
  auto second = run_app(L"cache_app.exe", {L"env"});
  ASSERT_EQ(second.exit_code, 0u) << second.out << second.err;
  EXPECT_EQ(library_folder(second), folder);
  write_times(folder, L"", after);
  EXPECT_EQ(after, before);
  // The cache folder is all there is: no staging folder, nothing in temp.
  EXPECT_EQ(subfolders(root), std::vector<std::wstring>{folder.substr(root.size() + 1)});
  EXPECT_TRUE(leftovers(first.pid).empty());
  EXPECT_TRUE(leftovers(second.pid).empty());
  onefile_test::remove_tree(root);
}

TEST(Cache, EightFirstStartsAtOnceAllRunAndLeaveOneFolder) {
  CachedApp app(L"cache_local_app.exe", L"eight");
  std::vector<onefile_test::ProcessResult> results(8);
  std::vector<std::thread> starts;
  for (auto& r : results) starts.emplace_back([&app, &r] { r = app.run({L"env"}); });
  for (auto& t : starts) t.join();
  for (const auto& r : results) {
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    EXPECT_EQ(library_folder(r), library_folder(results[0]));
  }
  const auto folders = subfolders(app.cache());
  ASSERT_EQ(folders.size(), 1u) << narrow(folders[1]);
  EXPECT_EQ(app.cache() + L"\\" + folders[0], library_folder(results[0]));
  EXPECT_EQ(cached_tree(library_folder(results[0])), packed_tree());
}

TEST(Cache, DamagedFolderOrKilledFirstStartIsRepairedOrIgnored) {
  struct Damage {
    const char* what;
    void (*apply)(const std::wstring& cache, const std::wstring& folder);
  };
  const Damage damages[] = {
      {"deleted file", [](const std::wstring&, const std::wstring& f) { DeleteFileW((f + L"\\data\\nested\\deep\\text.txt").c_str()); }},
      {"truncated file", [](const std::wstring&, const std::wstring& f) { onefile_test::write_file(f + L"\\test_app.dll", "MZ"); }},
      {"missing record", [](const std::wstring&, const std::wstring& f) { DeleteFileW((f + L"\\" + kRecord).c_str()); }},
      {"killed first start",
       [](const std::wstring& cache, const std::wstring& f) {
         // A staging folder of a parent that no longer runs, and no cache folder.
         const std::wstring staging = cache + L"\\onefile_4000000_123456_AAAAAAAAAAA";
         MoveFileW(f.c_str(), staging.c_str());
         DeleteFileW((staging + L"\\" + kRecord).c_str());
         DeleteFileW((staging + L"\\empty.txt").c_str());
       }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    CachedApp app(L"cache_local_app.exe", L"damage");
    auto first = app.run({L"env"});
    ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
    const std::wstring folder = library_folder(first);
    damage.apply(app.cache(), folder);

    auto repaired = app.run({L"env"});
    ASSERT_EQ(repaired.exit_code, 0u) << repaired.out << repaired.err;
    EXPECT_EQ(library_folder(repaired), folder);
    EXPECT_EQ(cached_tree(folder), packed_tree());
    // The killed start's staging folder went once its owner was found gone.
    EXPECT_EQ(subfolders(app.cache()).size(), 1u);
  }
}

TEST(Cache, RebuiltAppGetsItsOwnFolderAndTheOldOneGoesOnceUnused) {
  CachedApp app(L"cache_local_app.exe", L"rebuilt");
  auto old_run = app.run({L"env"});
  ASSERT_EQ(old_run.exit_code, 0u) << old_run.out << old_run.err;
  const std::wstring old_folder = library_folder(old_run);

  // A run of the old build holds its folder: its parent keeps the record
  // open, which a probe without sharing then cannot open.
  onefile_test::ProcessResult holding;
  std::thread old_running([&] { holding = app.run({L"wait", L"3000"}); });
  const std::wstring record = old_folder + L"\\" + kRecord;
  bool held = false;
  for (int i = 0; i < 400 && !held; ++i) {
    HANDLE probe = CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    held = probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    if (!held) Sleep(25);
  }
  EXPECT_TRUE(held);

  // A new build beside it, same name and cache root: its own folder; the old
  // one, in use, stays.
  const std::wstring rebuilt = app.add_build(L"cache_local_v2_app.exe", L"app-v2.exe");
  auto new_run = app.run({L"env"}, rebuilt);
  ASSERT_EQ(new_run.exit_code, 0u) << new_run.out << new_run.err;
  const std::wstring new_folder = library_folder(new_run);
  EXPECT_NE(new_folder, old_folder);
  EXPECT_EQ(cached_tree(new_folder), packed_tree(L"cache_local_v2_app.root"));
  EXPECT_EQ(cached_tree(old_folder), packed_tree());
  old_running.join();
  EXPECT_EQ(holding.exit_code, 5u) << holding.out << holding.err;

  // Unused, it is gone after the new build's next run, and never the new one.
  auto later_run = app.run({L"env"}, rebuilt);
  ASSERT_EQ(later_run.exit_code, 0u) << later_run.out << later_run.err;
  EXPECT_FALSE(onefile_test::path_exists(old_folder));
  EXPECT_EQ(subfolders(app.cache()), std::vector<std::wstring>{new_folder.substr(app.cache().size() + 1)});
}
