// Launchers in unfriendly conditions: an unusable temp or cache folder,
// several instances at once, and files of others next to their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::read_file;
using onefile_test::write_file;

TEST(Faults, TempDirectoryUnderAFileFailsWithTheOpenMessage) {
  // TEMP names a folder below a plain file: no directory can be made there.
  std::wstring scratch = onefile_test::make_temp_dir(L"badtemp");
  write_file(scratch + L"\\file", "x");
  std::wstring temp = scratch + L"\\file\\temp";
  auto r = run_app(L"app.exe", {L"exit", L"0"}, {L"TEMP=" + temp, L"TMP=" + temp}, scratch.c_str());
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error, failed to open '" + narrow(temp) + "\\onefile_" + std::to_string(r.pid) + "_", 0), 0u)
      << r.err;
  EXPECT_EQ(read_file(scratch + L"\\file"), "x");
  onefile_test::remove_tree(scratch);
}

TEST(Faults, UnusableTempFolderSaysTheTemplate) {
  // A temp directory the system cannot give (longer than MAX_PATH).
  const std::wstring long_temp = L"C:\\" + std::wstring(300, L't');
  auto r = run_app(L"app.exe", {L"exit", L"0"}, {L"TMP=" + long_temp, L"TEMP=" + long_temp});
  EXPECT_EQ(r.exit_code, 3u);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error, couldn't runtime expand spec '{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}'.\n");
}

// A local application data folder that does not exist (its profile is
// gone): the cache root's template in the message. The folder's place is
// the user's registry setting, which every program of the prefix reads, so
// CTest runs this alone; the setting is put back before the mode returns.
ONEFILE_TEST_MODE(missing_local_app_data) {
  HKEY key = nullptr;
  const wchar_t* name = L"Local AppData";
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                    0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return 90;
  BYTE saved[2048];
  DWORD saved_type = 0, saved_size = sizeof(saved);
  if (RegQueryValueExW(key, name, nullptr, &saved_type, saved, &saved_size) != ERROR_SUCCESS) return 91;
  const wchar_t missing[] = L"C:\\no such profile\\AppData\\Local";
  RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(missing), sizeof(missing));
  auto r = run_app(L"cache_app.exe", {L"exit", L"0"});
  RegSetValueExW(key, name, 0, saved_type, saved, saved_size);
  RegCloseKey(key);
  const std::string expected = "Error, couldn't runtime expand spec '{CACHE_DIR}\\Vorlan Onefile\\{PRODUCT}'.\n";
  if (r.exit_code != 3 || !r.out.empty() || r.err != expected) {
    fprintf(stderr, "exit code %lu, output '%s', error '%s'\n", r.exit_code, r.out.c_str(), r.err.c_str());
    return 1;
  }
  printf("ok\n");
  return 0;
}

TEST(Faults, TwoLaunchersAtOnceKeepToTheirOwnDirectories) {
  // Others' files in the temp directory, beside the target directories.
  std::wstring temp = onefile_test::make_temp_dir(L"shared_temp");
  write_file(temp + L"\\onefile_other.txt", "not yours");
  CreateDirectoryW((temp + L"\\onefile_1_000000_AAAAAAAAAAA").c_str(), nullptr);
  write_file(temp + L"\\onefile_1_000000_AAAAAAAAAAA\\keep.txt", "keep");

  onefile_test::ProcessResult first, second;
  std::vector<std::wstring> env = {L"TEMP=" + temp, L"TMP=" + temp};
  std::thread a([&] { first = run_app(L"app.exe", {L"wait", L"1500"}, env, temp.c_str()); });
  std::thread b([&] { second = run_app(L"app.exe", {L"wait", L"1500"}, env, temp.c_str()); });
  a.join();
  b.join();

  EXPECT_EQ(first.exit_code, 5u) << first.out << first.err;
  EXPECT_EQ(second.exit_code, 5u) << second.out << second.err;
  EXPECT_NE(first.out, second.out);  // each named its own target directory
  EXPECT_EQ(first.out.rfind("ready " + narrow(temp) + "\\onefile_" + std::to_string(first.pid) + "_", 0), 0u);
  EXPECT_TRUE(leftovers(first.pid, temp).empty());
  EXPECT_TRUE(leftovers(second.pid, temp).empty());
  EXPECT_EQ(read_file(temp + L"\\onefile_other.txt"), "not yours");
  EXPECT_EQ(read_file(temp + L"\\onefile_1_000000_AAAAAAAAAAA\\keep.txt"), "keep");
  onefile_test::remove_tree(temp);
}

TEST(Faults, FailedRunsLeaveOthersFilesAlone) {
  // The held-file clean-up and a child's failure run the deletion too; files
  // beside the target directory and in the current directory stay.
  std::wstring temp = onefile_test::make_temp_dir(L"sentinel_temp");
  std::wstring cwd = onefile_test::make_temp_dir(L"sentinel_cwd");
  write_file(temp + L"\\beside.txt", "beside");
  write_file(cwd + L"\\here.txt", "here");
  std::vector<std::wstring> env = {L"TEMP=" + temp, L"TMP=" + temp};
  for (const wchar_t* exe : {L"no_entry_app.exe", L"not_dll_app.exe", L"empty_app.exe", L"unwritable_app.exe"}) {
    auto r = run_app(exe, {}, env, cwd.c_str());
    EXPECT_EQ(r.exit_code, 2u) << narrow(exe);
    remove_leftovers(r.pid, temp);
  }
  auto held = run_app(L"app.exe", {L"hold", onefile_test::own_exe_path(), L"3000"}, env, cwd.c_str());
  EXPECT_EQ(held.exit_code, 7u) << held.out << held.err;
  Sleep(1500);
  EXPECT_EQ(read_file(temp + L"\\beside.txt"), "beside");
  EXPECT_EQ(read_file(cwd + L"\\here.txt"), "here");
  remove_leftovers(held.pid, temp);
  onefile_test::remove_tree(temp);
  onefile_test::remove_tree(cwd);
}
