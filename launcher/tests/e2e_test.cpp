// Packed launchers run as a user would run them: the test reads their output,
// their exit codes and what they leave in the temp directory.
#include <gtest/gtest.h>

#include <map>

#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::widen;

// Holds a file open for a while, then signals the named event (the "hold"
// action of the test app runs this with: file, milliseconds, event name).
ONEFILE_TEST_MODE(hold_file) {
  HANDLE file = CreateFileW(args.at(0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE opened = OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(2).c_str());
  SetEvent(opened);
  Sleep(wcstoul(args.at(1).c_str(), nullptr, 10));
  CloseHandle(file);
  return 0;
}

TEST(Launcher, ExitCodeIsRunCodesResultAllThirtyTwoBits) {
  for (DWORD code : {0u, 3u, 0xFFFFFFFFu, 0x80000001u}) {
    auto r = run_app(L"app.exe", {L"exit", std::to_wstring(code)});
    EXPECT_EQ(r.exit_code, code);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(leftovers(r.pid).empty());
  }
}

TEST(Launcher, ArgumentsReachRunCodeUnchanged) {
  std::vector<std::wstring> args = {L"args",      L"two words", L"tab\there", L"q\"uote\"", L"trail\\",
                                    L"sp ace\\",  L"",          L"a\\\\\"b c", L"\u00e9t\u00e9 \u4e2d"};
  auto r = run_app(L"app.exe", args, {}, nullptr, L"typed name");
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  auto m = lines(r.out);
  EXPECT_EQ(m["argc"], std::to_string(args.size() + 1));
  EXPECT_EQ(m["argv[0]"], narrow(here() + L"\\app.exe"));
  for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(m["argv[" + std::to_string(i + 1) + "]"], narrow(args[i])) << i;
  EXPECT_EQ(m["VORLAN_ORIGINAL_ARGV0"], "typed name");
}

// Before the child starts, the parent loads nothing of the shell or the
// window system: the app lists its parent's modules as run_code begins.
// Both kinds, and cached (first start and cache hit).
TEST(Launcher, ParentLoadsNeitherShellNorWindowSystemBeforeTheChild) {
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Cache Test modules"));
  for (const wchar_t* exe : {L"app.exe", L"console_app.exe", L"cache_modules_app.exe", L"cache_modules_app.exe"}) {
    SCOPED_TRACE(narrow(exe));
    auto r = run_app(exe, {L"parent-modules"});
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(window_system_modules(r.out), "") << r.out;
  }
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Cache Test modules"));
}

TEST(Launcher, WildcardArgumentsAreExpandedUnlessQuoted) {
  std::wstring dir = onefile_test::make_temp_dir(L"wild");
  onefile_test::write_file(dir + L"\\w1.txt", "1");
  onefile_test::write_file(dir + L"\\w2.txt", "2");
  auto r = run_app(L"app.exe", {L"args", L"w*.txt"}, {}, dir.c_str());
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  auto m = lines(r.out);
  EXPECT_EQ(m["argc"], "4");
  EXPECT_EQ(m["argv[2]"], "w1.txt");
  EXPECT_EQ(m["argv[3]"], "w2.txt");

  // A quoted wildcard stays quoted on the child's command line, so that the
  // child's runtime leaves it alone. The line itself is checked: Wine's
  // runtime, unlike the system's, keeps the quotes of a wildcard argument in
  // the vector it builds.
  const std::wstring exe = here() + L"\\app.exe";
  r = onefile_test::run_process(exe.c_str(), L"app.exe command-line w*.txt \"w?.txt\" \"*\" a\\\"*", {}, 60000,
                                dir.c_str());
  onefile_test::remove_tree(dir);
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_EQ(r.out, narrow(exe) + " command-line w*.txt \"w?.txt\" \"*\" \"a\\\"*\"");
}

TEST(Launcher, ChildSeesTheParentsEnvironmentAndTargetDirectory) {
  auto r = run_app(L"app.exe", {L"env"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  auto m = lines(r.out);
  EXPECT_EQ(m["VORLAN_ONEFILE_PARENT"], std::to_string(r.pid));
  EXPECT_EQ(m["parent_pid"], std::to_string(r.pid));
  EXPECT_EQ(m["VORLAN_ONEFILE_DIRECTORY"], narrow(here()));
  // The parent cleared the stored values; its template sets only these two.
  EXPECT_EQ(m["VORLAN_ONEFILE_START"], "<unset>");
  EXPECT_EQ(m["VORLAN_ONEFILE_TIME_US"].size(), 6u);
  EXPECT_EQ(m["VORLAN_ONEFILE_RANDOM"].size(), 11u);
  std::string expected_dir = narrow(temp_dir()) + "\\onefile_" + std::to_string(r.pid) + "_" +
                             m["VORLAN_ONEFILE_TIME_US"] + "_" + m["VORLAN_ONEFILE_RANDOM"];
  EXPECT_EQ(m["library"], expected_dir + "\\test_app.dll");
  EXPECT_FALSE(onefile_test::path_exists(widen(expected_dir)));
}

TEST(Launcher, StaleParentVariableStillGivesTheParentRole) {
  std::wstring other_exe = std::to_wstring(GetCurrentProcessId());  // runs another executable
  for (const std::wstring& stale : {std::wstring(L"4000000"), other_exe, std::wstring(L"12x"), std::wstring(L" ")}) {
    auto r = run_app(L"app.exe", {L"env"}, {L"VORLAN_ONEFILE_PARENT=" + stale});
    ASSERT_EQ(r.exit_code, 0u) << narrow(stale) << r.out << r.err;
    EXPECT_EQ(lines(r.out)["VORLAN_ONEFILE_PARENT"], std::to_string(r.pid)) << narrow(stale);
    EXPECT_TRUE(leftovers(r.pid).empty());
  }
}

TEST(Launcher, EveryFileArrivesWithItsExactContent) {
  std::wstring dest = onefile_test::make_temp_dir(L"copy");
  auto r = run_app(L"app.exe", {L"copy-tree", dest + L"\\tree"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  std::map<std::wstring, std::string> unpacked, source;
  read_tree(dest + L"\\tree", L"", unpacked);
  read_tree(here() + L"\\app.root", L"", source);
  onefile_test::remove_tree(dest);
  ASSERT_EQ(unpacked.size(), source.size());
  EXPECT_TRUE(unpacked == source);
  EXPECT_EQ(unpacked.count(L"empty.txt"), 1u);
  EXPECT_EQ(unpacked[L"data\\nested\\deep\\text.txt"], "deep text\n");
  EXPECT_TRUE(leftovers(r.pid).empty());
}

TEST(Launcher, NameOf1023UnitsArrivesAndCleanupTouchesNothingElse) {
  // Files in the current directory and beside the target directory must
  // survive the clean-up of a tree whose paths pass MAX_PATH.
  std::wstring dest = onefile_test::make_temp_dir(L"copy");
  onefile_test::write_file(dest + L"\\sentinel.txt", "mine");
  std::wstring beside = temp_dir() + L"\\onefile_sentinel.txt";
  onefile_test::write_file(beside, "mine too");
  auto r = run_app(L"long_name_tree_app.exe", {L"copy-tree", dest + L"\\tree"}, {}, dest.c_str());
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  EXPECT_EQ(onefile_test::read_file(dest + L"\\sentinel.txt"), "mine");
  EXPECT_EQ(onefile_test::read_file(beside), "mine too");
  DeleteFileW(beside.c_str());
  EXPECT_TRUE(leftovers(r.pid).empty());
  std::map<std::wstring, std::string> unpacked;
  read_tree(dest + L"\\tree", L"", unpacked);
  onefile_test::remove_tree(dest);
  size_t longest = 0;
  for (const auto& [name, content] : unpacked) {
    if (name.size() > longest) {
      EXPECT_EQ(content, "long name\n");
    }
    longest = std::max(longest, name.size());
  }
  EXPECT_EQ(longest, 1023u);
}

TEST(Launcher, HeldFileMakesCleanupRetryForAboutTwoSecondsSilently) {
  // The holder keeps the file for 10 s: a launcher that waited for it would
  // take that long; the bound leaves room for a busy machine.
  auto r = run_app(L"app.exe", {L"hold", onefile_test::own_exe_path(), L"10000"});
  EXPECT_EQ(r.exit_code, 7u) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("held ", 0), 0u) << r.out;
  EXPECT_GE(r.elapsed_ms, 1900u);
  EXPECT_LT(r.elapsed_ms, 9000u);
  // The holder lets go; then the leftover can go.
  Sleep(r.elapsed_ms < 10000 ? 10500 - r.elapsed_ms : 500);
  remove_leftovers(r.pid);
}

TEST(Launcher, SecondInstanceStartedByTheAppTakesTheChildRole) {
  auto r = run_app(L"app.exe", {L"spawn-self"});
  EXPECT_EQ(r.exit_code, 11u) << r.out << r.err;
  auto m = lines(r.out);
  EXPECT_EQ(m["first library"], m["second library"]);
  EXPECT_EQ(m["second parent"], std::to_string(r.pid));
  // One target directory before the second instance runs and after it: the
  // second one unpacked nothing.
  size_t first = r.out.find("dirs=1\n");
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dirs=1\n", first + 1), std::string::npos) << r.out;
  EXPECT_TRUE(leftovers(r.pid).empty());
}

TEST(Launcher, ProgramPlaceholdersAreItsFullPathInBothRoles) {
  // Started by a bare name from another folder: both roles expand
  // {PROGRAM_DIR} to the launcher's own folder, not to argument 0.
  const std::wstring cwd = onefile_test::make_temp_dir(L"bare_name");
  auto r = run_app(L"program_dir_app.exe", {L"env"}, {}, cwd.c_str(), L"program_dir_app.exe");
  EXPECT_EQ(r.exit_code, 0u) << r.out << r.err;
  const std::string library = lines(r.out)["library"];
  const std::string expected = narrow(here()) + "\\run_" + std::to_string(r.pid) + "_";
  EXPECT_EQ(library.rfind(expected, 0), 0u) << library;
  const std::wstring target = widen(library.substr(0, library.rfind('\\')));
  EXPECT_FALSE(onefile_test::path_exists(target));
  std::map<std::wstring, std::string> written;
  read_tree(cwd, L"", written);
  EXPECT_TRUE(written.empty());
  if (library.rfind(expected, 0) == 0) onefile_test::remove_tree(target);
  onefile_test::remove_tree(cwd);
}

struct Failure {
  const wchar_t* exe;
  const char* out;        // exact standard output
  const char* err_start;  // standard error starts with this
};

TEST(Launcher, FailuresSayOneLineExitWith2AndLeaveNothing) {
  const Failure failures[] = {
      {L"bad_header_app.exe", "Error, couldn't find attached data header.\n", ""},
      {L"corrupt_app.exe", "Error, couldn't decode attached data.\n", ""},
      // Decodes without error, but the content checksum does not match: the
      // child never starts (it would print "unknown action").
      {L"damaged_app.exe", "Error, couldn't decode attached data.\n", ""},
      {L"truncated_app.exe", "Error, couldn't decode attached data.\n", ""},
      {L"long_name_app.exe", "Error, couldn't decode attached data.\n", ""},
      {L"no_entry_app.exe", "Error, DLL entry point not found.\n", ""},
      {L"not_dll_app.exe", "", "Error, load DLL. ([Error "},
      {L"needs_dependency_app.exe", "", "Error, load DLL. ([Error 126] "},
      {L"empty_app.exe", "", "Error, load DLL. ([Error 126] "},
      {L"unwritable_app.exe", "", "Error, failed to open '"},
  };
  for (const auto& f : failures) {
    auto r = run_app(f.exe, {});
    EXPECT_EQ(r.exit_code, 2u) << narrow(f.exe);
    EXPECT_EQ(r.out, f.out) << narrow(f.exe);
    EXPECT_EQ(r.err.rfind(f.err_start, 0), 0u) << narrow(f.exe) << ": " << r.err;
    EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 1) << narrow(f.exe);
    EXPECT_TRUE(leftovers(r.pid).empty()) << narrow(f.exe);
    remove_leftovers(r.pid);
  }
}

// The system's text for a main library that is no library names the file
// (its "%1"): the line says which, the library the child loaded from its
// parent's folder.
TEST(Launcher, SystemTextNamesTheLibraryInsteadOfAnInsert) {
  auto r = run_app(L"not_dll_app.exe", {});
  EXPECT_EQ(r.exit_code, 2u);
  const std::string library = narrow(temp_dir()) + "\\onefile_" + std::to_string(r.pid) + "_";
  EXPECT_EQ(r.err.rfind("Error, load DLL. ([Error 193] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(library), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\\main.dll"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('%'), std::string::npos) << r.err;
  remove_leftovers(r.pid);
}

TEST(Launcher, UnwritableEntryNamesItsPath) {
  auto r = run_app(L"unwritable_app.exe", {});
  const std::string prefix = "Error, failed to open '" + narrow(temp_dir()) + "\\onefile_" + std::to_string(r.pid) + "_";
  const std::string suffix = "\\a\\b' for writing.\n";
  EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
  EXPECT_TRUE(r.err.size() > suffix.size() && r.err.compare(r.err.size() - suffix.size(), suffix.size(), suffix) == 0)
      << r.err;
  remove_leftovers(r.pid);
}
