// Cached apps (onefile-pack --cache): extracted once, reused while complete,
// repaired when not, never deleted at the end of a run, and nothing deleted
// in the cache root that the launcher did not make. Each test runs a cached
// app of its own, whose cache root no other test uses (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <shlobj.h>

#include <functional>
#include <map>
#include <thread>

#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::widen;

namespace {

constexpr wchar_t kRecord[] = L".onefile-complete";
constexpr char kRecordMagic[] = "VOYDONE";  // and its terminating 0: 8 bytes

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

using onefile_test::local_app_data;

// The Unix path Wine maps `path` to; empty on Windows.
std::string unix_path(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(path.c_str()) : nullptr;
  const std::string text = name ? name : "";
  HeapFree(GetProcessHeap(), 0, name);
  return text;
}

bool is_link(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs the Unix command `command` under Wine and waits up to 10 s for `done`:
// Wine hands back a Unix program's process before the program has run.
bool run_unix(const std::wstring& command, const std::function<bool()>& done) {
  onefile_test::run_process(nullptr, command);
  for (int i = 0; i < 500 && !done(); ++i) Sleep(20);
  return done();
}

// Test `use`'s cached app, cache_<use>_app.exe, and its cache root, removed
// before and after the test.
struct CachedApp {
  std::wstring exe, root;
  explicit CachedApp(const std::wstring& use)
      : exe(L"cache_" + use + L"_app.exe"), root(local_app_data() + L"\\Vorlan Onefile\\Onefile Cache Test " + use) {
    clear();
  }
  ~CachedApp() { clear(); }
  // Wine cannot remove a link that a failed run of the link test left: rm can.
  void clear() const {
    onefile_test::remove_tree(root);
    const std::string unix_root = unix_path(root);
    if (!unix_root.empty() && onefile_test::path_exists(root))
      run_unix(L"/bin/rm -rf " + onefile_test::quote_argument(widen(unix_root)),
               [&] { return !onefile_test::path_exists(root); });
  }
  std::wstring cache() const { return root; }
  onefile_test::ProcessResult run(const std::vector<std::wstring>& args, const std::wstring& build = L"") const {
    return run_app(build.empty() ? exe : build, args);
  }
};

// A folder of `root` shaped like a staging folder of process `pid`.
std::wstring staging_name(const std::wstring& root, DWORD pid, const wchar_t* random) {
  return root + L"\\onefile_" + std::to_wstring(pid) + L"_123456_" + random;
}

// A record of the folder's key that lists no file: the mark a first start
// writes before anything else.
std::string mark_of(const std::wstring& folder) {
  // Magic, layout version, digest size (none), key, then a count of 0.
  const std::string record = onefile_test::read_file(folder + L"\\" + kRecord);
  return record.substr(0, 12) + std::string(4, '\0') + record.substr(16, 4 + 2 * 32) + std::string(4, '\0');
}

// The tree of the cache folder less its completion record.
std::map<std::wstring, std::string> cached_tree(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  read_tree(folder, L"", files);
  EXPECT_EQ(files.erase(kRecord), 1u) << narrow(folder);
  return files;
}

// A link at `link` to the folder `target`. Windows makes a symbolic link.
// Wine 8 only pretends to (success, and nothing made) and has no junctions,
// but shows a Unix symbolic link to a folder as a folder link (a reparse
// point): there the test makes one with ln -s, which Wine runs as a Unix
// program.
bool make_folder_link(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && is_link(link)) return true;
  const std::string unix_link = unix_path(link), unix_target = unix_path(target);
  return !unix_link.empty() && !unix_target.empty() &&
         run_unix(L"/bin/ln -s " + onefile_test::quote_argument(widen(unix_target)) + L" " +
                      onefile_test::quote_argument(widen(unix_link)),
                  [&] { return is_link(link); });
}

// Removes the link itself; under Wine, whose API cannot, with rm.
void remove_link(const std::wstring& link) {
  if (RemoveDirectoryW(link.c_str())) return;
  const std::string unix_link = unix_path(link);
  if (!unix_link.empty())
    run_unix(L"/bin/rm " + onefile_test::quote_argument(widen(unix_link)), [&] { return !is_link(link); });
}

// The identity of the file at `path` (volume and file index; under Wine the
// inode), as text; empty when it cannot be opened. A file written anew gets
// another, a hard link shares it.
std::string file_id(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" +
         std::to_string((ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
}

// Relative path -> identity of every file below `dir`.
std::map<std::wstring, std::string> file_ids(const std::wstring& dir) {
  std::map<std::wstring, std::string> contents, ids;
  read_tree(dir, L"", contents);
  for (const auto& file : contents) ids[file.first] = file_id(dir + L"\\" + file.first);
  return ids;
}

// Sets the last use of the key folder `folder` (its record's last-write
// time) to `days` days ago.
void set_last_use(const std::wstring& folder, int days) {
  const std::wstring record = folder + L"\\" + kRecord;
  HANDLE h = CreateFileW(record.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << narrow(record);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
  t.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000;
  const FILETIME past = {t.LowPart, t.HighPart};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &past));
  CloseHandle(h);
}

// Whether a run comes to hold the key folder `folder` within 10 s: its
// parent keeps the record open, which a probe without sharing then cannot open.
bool becomes_held(const std::wstring& folder) {
  const std::wstring record = folder + L"\\" + kRecord;
  for (int i = 0; i < 400; ++i) {
    HANDLE probe = CreateFileW(record.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) return true;
    if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
    Sleep(25);
  }
  return false;
}

// Starts a packed app without waiting, and ends it (and its job) once
// `ready` holds, polled every millisecond for up to 30 s; true when it was
// ended before it ended by itself.
bool kill_when(const std::wstring& exe, const std::function<bool()>& ready) {
  std::wstring command = onefile_test::quote_argument(here() + L"\\" + exe) + L" env";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  bool killed = false;
  for (const ULONGLONG end = GetTickCount64() + 30000; GetTickCount64() < end; Sleep(1)) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
    if (ready()) {
      killed = TerminateProcess(process.hProcess, 9);
      break;
    }
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hProcess);
  return killed;
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
  // Only the record's time moved on: the key's last use.
  EXPECT_GT(after.at(kRecord), before.at(kRecord));
  after[kRecord] = before[kRecord];
  EXPECT_EQ(after, before);
  // The cache folder is all there is: no staging folder, nothing in temp.
  EXPECT_EQ(subfolders(root), std::vector<std::wstring>{folder.substr(root.size() + 1)});
  EXPECT_TRUE(leftovers(first.pid).empty());
  EXPECT_TRUE(leftovers(second.pid).empty());
  onefile_test::remove_tree(root);
}

TEST(Cache, EightFirstStartsAtOnceAllRunAndLeaveOneFolder) {
  CachedApp app(L"eight");
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
      {"record without files",
       [](const std::wstring&, const std::wstring& f) {
         // It lists no main library, so nothing shows that one is missing.
         onefile_test::write_file(f + L"\\" + kRecord, mark_of(f));
         DeleteFileW((f + L"\\test_app.dll").c_str());
       }},
      {"killed first start",
       [](const std::wstring& cache, const std::wstring& f) {
         // A staging folder of a parent that no longer runs, with its mark
         // and part of the files, and no cache folder.
         const std::wstring staging = staging_name(cache, 4000000, L"AAAAAAAAAAA");
         const std::string mark = mark_of(f);
         MoveFileW(f.c_str(), staging.c_str());
         onefile_test::write_file(staging + L"\\" + kRecord, mark);
         DeleteFileW((staging + L"\\empty.txt").c_str());
         onefile_test::age(staging);
       }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    CachedApp app(L"damage");
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

// What the launcher did not make stays, however it is named: a user's
// folder of 32 hex digits, one of the staging shape whose owner is gone, and
// a folder named with the app's own key but without a record. The run then
// unpacks into a staging folder of its own and deletes that at its end.
TEST(Cache, FoldersWithoutTheMarkStay) {
  CachedApp app(L"mine");
  auto first = app.run({L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring key_folder = library_folder(first);
  ASSERT_TRUE(DeleteFileW((key_folder + L"\\" + kRecord).c_str()));
  const std::wstring hex = app.cache() + L"\\0123456789abcdef0123456789abcdef";
  const std::wstring shaped = staging_name(app.cache(), 4000000, L"BBBBBBBBBBB");
  for (const auto& dir : {hex, shaped}) {
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    onefile_test::write_file(dir + L"\\thesis.docx", "mine");
    onefile_test::age(dir);
  }

  auto r = app.run({L"env"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_NE(library_folder(r), key_folder);
  for (const auto& dir : {hex, shaped}) EXPECT_EQ(onefile_test::read_file(dir + L"\\thesis.docx"), "mine");
  EXPECT_TRUE(onefile_test::path_exists(key_folder + L"\\test_app.dll"));
  EXPECT_EQ(subfolders(app.cache()).size(), 3u);
}

// A key folder that is a link (see make_folder_link) to a folder that
// looks like a damaged key folder: the launcher never walks into it, nor
// moves it aside. Windows removes the link itself and the run puts its own
// folder in place. Wine can neither move a link (it moves the folder the
// link points to) nor remove one (RemoveDirectoryW answers that the folder
// is not empty): there the link stays, and the run uses its staging folder.
TEST(Cache, KeyFolderThatIsALinkIsRemovedWithoutItsTarget) {
  CachedApp app(L"link");
  auto first = app.run({L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring key_folder = library_folder(first);
  const std::wstring target = onefile_test::make_temp_dir(L"link_target");
  onefile_test::write_file(target + L"\\" + kRecord, mark_of(key_folder));
  onefile_test::write_file(target + L"\\thesis.docx", "mine");
  onefile_test::remove_tree(key_folder);
  ASSERT_TRUE(make_folder_link(key_folder, target));

  auto r = app.run({L"env"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_EQ(onefile_test::read_file(target + L"\\thesis.docx"), "mine");
  EXPECT_TRUE(onefile_test::path_exists(target + L"\\" + kRecord));
  const bool still_link = is_link(key_folder);
  if (!unix_path(target).empty()) {
    EXPECT_TRUE(still_link);
    EXPECT_NE(library_folder(r), key_folder);
    EXPECT_TRUE(leftovers(r.pid, app.cache()).empty());
  } else {
    EXPECT_FALSE(still_link);
    EXPECT_EQ(library_folder(r), key_folder);
    EXPECT_EQ(cached_tree(key_folder), packed_tree());
  }
  // The test's own clean-up must not walk into the target either.
  if (still_link) remove_link(key_folder);
  onefile_test::remove_tree(target);
}

// A folder inside a key folder that is a link, to a folder holding a file
// the repair would replace: the repair writes nothing through it. The run
// unpacks the whole app into its staging folder, runs from there and
// deletes it; the key folder and the link's target stay as they are.
TEST(Cache, RepairNeverWritesThroughALinkInTheFolder) {
  CachedApp app(L"inner_link");
  auto first = app.run({L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring key_folder = library_folder(first);
  const std::wstring target = onefile_test::make_temp_dir(L"inner_link_target");
  CreateDirectoryW((target + L"\\deep").c_str(), nullptr);
  onefile_test::write_file(target + L"\\deep\\text.txt", "mine");
  const std::wstring nested = key_folder + L"\\data\\nested";
  onefile_test::remove_tree(nested);
  ASSERT_TRUE(make_folder_link(nested, target));

  auto r = app.run({L"env"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_NE(library_folder(r), key_folder);
  EXPECT_EQ(onefile_test::read_file(target + L"\\deep\\text.txt"), "mine");
  EXPECT_TRUE(is_link(nested));
  EXPECT_TRUE(leftovers(r.pid, app.cache()).empty());
  remove_link(nested);
  onefile_test::remove_tree(target);
}

// The loser of two first starts whose staging folder something holds (an
// on-access scanner does) cannot delete it whole: its child runs from the
// winner's folder all the same, the one its parent names, not from the
// remnant. The winner here is a complete folder put into place while the
// run unpacks; the holder is this test, which opens the staging folder as
// soon as it appears. Its app unpacks 50 MiB, which leaves the time for that.
TEST(Cache, LoserWithAHeldStagingFolderRunsFromTheWinners) {
  CachedApp app(L"remnant");
  auto first = app.run({L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring key_folder = library_folder(first);
  const std::wstring spare = app.cache() + L"\\spare";
  bool raced = false;
  for (int attempt = 0; attempt < 5 && !raced; ++attempt) {
    ASSERT_TRUE(MoveFileW(key_folder.c_str(), spare.c_str()));
    HANDLE held = INVALID_HANDLE_VALUE;
    std::wstring remnant;
    std::thread holder([&] {
      for (const ULONGLONG end = GetTickCount64() + 30000; remnant.empty() && GetTickCount64() < end; Sleep(1)) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((app.cache() + L"\\onefile_*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) continue;
        remnant = app.cache() + L"\\" + fd.cFileName;
        FindClose(h);
      }
      if (remnant.empty()) return;
      held = CreateFileW(remnant.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      raced = held != INVALID_HANDLE_VALUE && MoveFileW(spare.c_str(), key_folder.c_str());
    });
    auto r = app.run({L"env"});
    holder.join();
    if (raced) {
      EXPECT_EQ(r.exit_code, 0u) << r.out << r.err;
      EXPECT_EQ(library_folder(r), key_folder);
      EXPECT_TRUE(onefile_test::path_exists(remnant));
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (raced) onefile_test::remove_tree(remnant);
    // Otherwise the run put its own folder in place before the winner came: again.
    else onefile_test::remove_tree(spare);
  }
  EXPECT_TRUE(raced) << "the run never lost the race";
}

TEST(Cache, RebuiltAppGetsItsOwnFolderAndTheOldOneGoesOnceUnused) {
  CachedApp app(L"rebuilt");
  auto old_run = app.run({L"env"});
  ASSERT_EQ(old_run.exit_code, 0u) << old_run.out << old_run.err;
  const std::wstring old_folder = library_folder(old_run);

  // A run of the old build holds its folder: its parent keeps the record
  // open, which a probe without sharing then cannot open.
  onefile_test::ProcessResult holding;
  std::thread old_running([&] { holding = app.run({L"wait", L"3000"}); });
  EXPECT_TRUE(becomes_held(old_folder));

  // Not used for longer than the rule keeps a key: while it runs it stays all the same.
  set_last_use(old_folder, 31);

  // A new build beside it, same name and cache root: its own folder; the old
  // one, in use, stays.
  const std::wstring rebuilt = L"cache_rebuilt_v2_app.exe";
  auto new_run = app.run({L"env"}, rebuilt);
  ASSERT_EQ(new_run.exit_code, 0u) << new_run.out << new_run.err;
  const std::wstring new_folder = library_folder(new_run);
  EXPECT_NE(new_folder, old_folder);
  EXPECT_EQ(cached_tree(new_folder), packed_tree(L"cache_rebuilt_v2_app.root"));
  EXPECT_EQ(cached_tree(old_folder), packed_tree());
  old_running.join();
  EXPECT_EQ(holding.exit_code, 5u) << holding.out << holding.err;
  set_last_use(old_folder, 31);

  // Unused, it is gone after the new build's next run, and never the new one.
  auto later_run = app.run({L"env"}, rebuilt);
  ASSERT_EQ(later_run.exit_code, 0u) << later_run.out << later_run.err;
  EXPECT_FALSE(onefile_test::path_exists(old_folder));
  EXPECT_EQ(subfolders(app.cache()), std::vector<std::wstring>{new_folder.substr(app.cache().size() + 1)});
}

// Several builds a user keeps side by side start from their own folders in
// turn, with nothing unpacked again; a fourth key removes the least recently
// used, and a key not started for 30 days goes whatever the count.
TEST(Cache, BuildsKeptSideBySideStayUntilAFourthOrAMonthUnused) {
  CachedApp app(L"builds");
  const auto build = [](int n) { return L"cache_builds_" + std::to_wstring(n) + L"_app.exe"; };
  std::map<int, std::wstring> folders;
  std::map<int, std::map<std::wstring, std::string>> ids;
  for (const int n : {1, 2, 1, 2, 1}) {
    SCOPED_TRACE(n);
    auto r = app.run({L"env"}, build(n));
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    const std::wstring folder = library_folder(r);
    if (folders.count(n) == 0) {
      folders[n] = folder;
      ids[n] = file_ids(folder);
      EXPECT_EQ(cached_tree(folder), packed_tree((L"cache_builds_" + std::to_wstring(n) + L"_app.root").c_str()));
      continue;
    }
    // The same folder, the same files: nothing written again.
    EXPECT_EQ(folder, folders[n]);
    EXPECT_EQ(file_ids(folder), ids[n]);
  }
  EXPECT_NE(folders[1], folders[2]);
  EXPECT_EQ(subfolders(app.cache()).size(), 2u);

  // Last uses now: 2, 1 (latest), then 3 and 4. The fourth key removes the
  // least recently used, build 2.
  for (const int n : {3, 4}) {
    auto r = app.run({L"env"}, build(n));
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    folders[n] = library_folder(r);
  }
  EXPECT_FALSE(onefile_test::path_exists(folders[2]));
  for (const int n : {1, 3, 4}) EXPECT_EQ(cached_tree(folders[n]), packed_tree((L"cache_builds_" + std::to_wstring(n) + L"_app.root").c_str())) << n;
  EXPECT_EQ(subfolders(app.cache()).size(), 3u);

  // Build 1 not started for 31 days: it goes at the next start of another.
  set_last_use(folders[1], 31);
  set_last_use(folders[3], 29);
  auto r = app.run({L"env"}, build(4));
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_FALSE(onefile_test::path_exists(folders[1]));
  EXPECT_TRUE(onefile_test::path_exists(folders[3] + L"\\test_app.dll"));
  EXPECT_EQ(subfolders(app.cache()).size(), 2u);
}

// An app that writes into its own folder (a log, a settings file) and
// changes a shipped file keeps its files: the next start rewrites only the
// changed file, in place, and unpacks nothing else.
TEST(Cache, AppsOwnFilesStayAndOnlyAChangedShippedFileIsRewritten) {
  CachedApp app(L"settings");
  auto first = app.run({L"env"});
  ASSERT_EQ(first.exit_code, 0u) << first.out << first.err;
  const std::wstring folder = library_folder(first);
  const auto ids = file_ids(folder);
  auto writes = app.run({L"write-own-files"});
  ASSERT_EQ(writes.exit_code, 0u) << writes.out << writes.err;
  EXPECT_NE(onefile_test::read_file(folder + L"\\data\\nested\\deep\\text.txt"), "deep text\n");

  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start);
    auto r = app.run({L"env"});
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    EXPECT_EQ(library_folder(r), folder);
    auto files = cached_tree(folder);
    // The app's own files stay as it wrote them.
    EXPECT_EQ(files[L"app.log"], "written by the app\n");
    EXPECT_EQ(files[L"settings\\user.ini"], "written by the app\n");
    files.erase(L"app.log");
    files.erase(L"settings\\user.ini");
    EXPECT_EQ(files, packed_tree());
    // The shipped file came back as packed, a new file in its place; the
    // others, the program included, were not touched.
    auto now = file_ids(folder);
    EXPECT_NE(now[L"data\\nested\\deep\\text.txt"], ids.at(L"data\\nested\\deep\\text.txt"));
    for (const wchar_t* same : {L"test_app.dll", L"empty.txt"}) EXPECT_EQ(now[same], ids.at(same)) << narrow(same);
    EXPECT_EQ(subfolders(app.cache()), std::vector<std::wstring>{folder.substr(app.cache().size() + 1)});
  }

  // Another run holds the folder: a start that finds a shipped file missing
  // does not repair it under that run; it runs from a staging folder of its
  // own, deleted at its end, and deletes nothing. The next start repairs it.
  onefile_test::ProcessResult holding;
  std::thread holder([&] { holding = app.run({L"wait", L"3000"}); });
  EXPECT_TRUE(becomes_held(folder));
  ASSERT_TRUE(DeleteFileW((folder + L"\\empty.txt").c_str()));
  auto beside = app.run({L"env"});
  ASSERT_EQ(beside.exit_code, 0u) << beside.out << beside.err;
  EXPECT_NE(library_folder(beside), folder);
  EXPECT_FALSE(onefile_test::path_exists(folder + L"\\empty.txt"));
  EXPECT_TRUE(onefile_test::path_exists(folder + L"\\app.log"));
  EXPECT_TRUE(leftovers(beside.pid, app.cache()).empty());
  holder.join();
  EXPECT_EQ(holding.exit_code, 5u) << holding.out << holding.err;
  auto repaired = app.run({L"env"});
  ASSERT_EQ(repaired.exit_code, 0u) << repaired.out << repaired.err;
  EXPECT_EQ(library_folder(repaired), folder);
  EXPECT_TRUE(onefile_test::path_exists(folder + L"\\empty.txt"));
  EXPECT_TRUE(onefile_test::path_exists(folder + L"\\app.log"));
  EXPECT_EQ(file_ids(folder)[L"test_app.dll"], ids.at(L"test_app.dll"));
}

// A new build's first start links the files that did not change from the
// folder of the build before and writes only the changed and new ones; the
// old build still runs from its own folder, as it was. Killed, it leaves
// both usable.
TEST(Cache, UpdateLinksTheUnchangedFilesAndWritesOnlyTheOthers) {
  CachedApp app(L"update");
  auto one = app.run({L"env"}, L"cache_update_1_app.exe");
  ASSERT_EQ(one.exit_code, 0u) << one.out << one.err;
  const std::wstring folder_one = library_folder(one);
  const auto ids_one = file_ids(folder_one);

  // A folder of a launcher before digests, used later than build 1 and
  // listing the main library with its size, but holding other bytes: its
  // record has no digests, so nothing is taken from it.
  const std::wstring older = app.cache() + L"\\ffffffffffffffffffffffffffffffff";
  ASSERT_TRUE(CreateDirectoryW(older.c_str(), nullptr));
  const std::string library = onefile_test::read_file(folder_one + L"\\test_app.dll");
  onefile_test::write_file(older + L"\\test_app.dll", std::string(library.size(), 'X'));
  std::string record(kRecordMagic, 8);
  const auto put = [&record](uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) record += static_cast<char>(value >> (8 * i));
  };
  put(32, 4);
  for (char c : std::string(32, 'f')) put(static_cast<unsigned char>(c), 2);
  put(1, 4);
  put(12, 2);
  for (char c : std::string("test_app.dll")) put(static_cast<unsigned char>(c), 2);
  put(library.size(), 8);
  onefile_test::write_file(older + L"\\" + kRecord, record);

  auto two = app.run({L"env"}, L"cache_update_2_app.exe");
  ASSERT_EQ(two.exit_code, 0u) << two.out << two.err;
  const std::wstring folder_two = library_folder(two);
  ASSERT_NE(folder_two, folder_one);
  EXPECT_EQ(cached_tree(folder_two), packed_tree(L"cache_update_2_app.root"));
  EXPECT_FALSE(onefile_test::path_exists(folder_two + L"\\removed.txt"));
  const auto ids_two = file_ids(folder_two);
  size_t linked = 0;
  for (const auto& [name, id] : ids_two) {
    if (name == kRecord || name == L"added.txt") continue;
    if (name == L"changed.bin") {
      EXPECT_NE(id, ids_one.at(name));
      continue;
    }
    EXPECT_EQ(id, ids_one.at(name)) << narrow(name);
    linked += id == ids_one.at(name);
  }
  EXPECT_EQ(linked, 241u);  // the main library, 40 blobs, 200 texts

  auto again = app.run({L"env"}, L"cache_update_1_app.exe");
  ASSERT_EQ(again.exit_code, 0u) << again.out << again.err;
  EXPECT_EQ(library_folder(again), folder_one);
  EXPECT_EQ(cached_tree(folder_one), packed_tree(L"cache_update_1_app.root"));
  EXPECT_EQ(file_ids(folder_one), ids_one);

  EXPECT_EQ(onefile_test::read_file(older + L"\\test_app.dll"), std::string(library.size(), 'X'));

  // An update's first start killed while it unpacks (a test of its own would
  // share this cache root) leaves both builds usable: the old one as it was,
  // the new one unpacked at its next start.
  app.clear();
  one = app.run({L"env"}, L"cache_update_1_app.exe");
  ASSERT_EQ(one.exit_code, 0u) << one.out << one.err;
  const auto staging_there = [&] {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((app.cache() + L"\\onefile_*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
  };
  EXPECT_TRUE(kill_when(L"cache_update_2_app.exe", staging_there));
  for (const wchar_t* build : {L"cache_update_1_app", L"cache_update_2_app", L"cache_update_1_app"}) {
    SCOPED_TRACE(narrow(build));
    auto r = app.run({L"env"}, std::wstring(build) + L".exe");
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    EXPECT_EQ(cached_tree(library_folder(r)), packed_tree((std::wstring(build) + L".root").c_str()));
  }
}
