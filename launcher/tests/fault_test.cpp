// Launchers in unfriendly conditions: an unusable temp directory, several
// instances at once, and files of others next to their own.
#include <gtest/gtest.h>

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
