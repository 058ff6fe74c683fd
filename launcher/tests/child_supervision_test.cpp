// Starting the child when the console handler cannot get its own handle of it.
#include <gtest/gtest.h>

#include "launcher/child_supervision.h"
#include "system/system_functions.h"
#include "tests/support/process.h"

namespace {
BOOL WINAPI failed_duplicate(HANDLE, HANDLE, HANDLE, LPHANDLE, DWORD, BOOL, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
}  // namespace

ONEFILE_TEST_MODE(duplicate_fails) {
  // args: a file the child writes if it ever runs. run_child_to_end starts this
  // binary again with the same arguments; VORLAN_ORIGINAL_ARGV0 tells the two
  // apart, since run_child_to_end sets it first.
  if (GetEnvironmentVariableW(L"VORLAN_ORIGINAL_ARGV0", nullptr, 0) != 0) {
    onefile_test::write_file(args.at(0), "ran");
    return 0;
  }
  sys::replace(sys::DuplicateHandle, failed_duplicate);
  static ChildStart child;
  this_executable_as_child(child);
  return static_cast<int>(run_child_to_end(child));
}

TEST(RunChildToEnd, FailedHandleDuplicationEndsTheLaunchBeforeTheChildRuns) {
  std::wstring dir = onefile_test::make_temp_dir(L"dup");
  auto r = onefile_test::run_mode(L"duplicate_fails", {dir + L"\\child_ran"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.err.rfind("Error, couldn't launch child ([Error 5] ", 0), 0u) << r.err;
  Sleep(500);
  EXPECT_FALSE(onefile_test::path_exists(dir + L"\\child_ran"));
  onefile_test::remove_tree(dir);
}
