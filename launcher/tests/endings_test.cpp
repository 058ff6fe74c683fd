// Endings of a run: an app that leaves helpers running, a killed parent,
// the sweep of what it left, log-off; and the console launcher's shared
// streams.
// Ctrl+C needs a terminal and is driven by ctrl_c_test.sh, which reads the
// 32-bit exit code through the exit_code mode below.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::path_exists;

namespace {

// A packed app started without waiting for it; its output goes nowhere.
struct Started {
  PROCESS_INFORMATION process = {};
  void stop() {
    if (!process.hProcess) return;
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    process.hProcess = nullptr;
  }
  ~Started() { stop(); }
};

void start_app(const std::wstring& exe, const std::wstring& args, Started& started) {
  std::wstring path = here() + L"\\" + exe;
  std::wstring cmd = onefile_test::quote_argument(path) + L" " + args;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul;
  ASSERT_TRUE(CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &started.process));
  CloseHandle(nul);
  CloseHandle(started.process.hThread);
}

DWORD child_of(DWORD parent) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  DWORD child = 0;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == parent) child = entry.th32ProcessID;
  CloseHandle(snapshot);
  return child;
}

// The target directory of a running launcher, once its child runs the app.
std::wstring wait_until_app_runs(DWORD parent, DWORD* child = nullptr) {
  for (int i = 0; i < 300; ++i, Sleep(100)) {
    auto dirs = leftovers(parent);
    DWORD found = child_of(parent);
    if (dirs.size() == 1 && found && path_exists(dirs[0] + L"\\test_app.dll")) {
      if (child) *child = found;
      Sleep(500);  // the child loads the library and reaches run_code
      return dirs[0];
    }
  }
  return L"";
}

}  // namespace

// Runs the command line given as arguments in this console and prints its
// exit code, all 32 bits. Ctrl+C reaches this process too; it stays to report.
ONEFILE_TEST_MODE(exit_code) {
  SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
  std::wstring cmd;
  for (const auto& a : args) cmd += (cmd.empty() ? L"" : L" ") + onefile_test::quote_argument(a);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 90;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  printf("exit code 0x%08lX\n", static_cast<unsigned long>(code));
  fflush(stdout);
  return 0;
}

// A helper the app leaves running: waits args[1] ms, then writes args[0].
ONEFILE_TEST_MODE(write_later) {
  Sleep(wcstoul(args.at(1).c_str(), nullptr, 10));
  onefile_test::write_file(args.at(0), "written");
  return 0;
}

TEST(NormalEnd, HelpersTheAppLeftRunningOutliveItAndTheirFolderWaitsForTheSweep) {
  const std::wstring scratch = onefile_test::make_temp_dir(L"helper");
  const std::wstring marker = scratch + L"\\marker.txt";
  auto r = run_app(L"app.exe", {L"start-helper", L"0x80000017", onefile_test::own_exe_path(), L"--mode",
                                L"write_later", marker, L"3000"});
  // The launcher ends with the app, without waiting for the helper.
  EXPECT_EQ(r.exit_code, 0x80000017u) << r.out << r.err;
  EXPECT_FALSE(path_exists(marker));
  // The folder stays while the helper may still use it.
  const auto left = leftovers(r.pid);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(path_exists(left[0] + L"\\test_app.dll"));
  // Ending the job did not end the helper.
  for (int i = 0; i < 150 && !path_exists(marker); ++i) Sleep(100);
  EXPECT_EQ(onefile_test::read_file(marker), "written");

  // Once it is old enough, a later run sweeps it.
  Sleep(500);  // the helper ends after writing
  onefile_test::age(left[0]);
  EXPECT_EQ(run_app(L"app.exe", {L"exit", L"0"}).exit_code, 0u);
  EXPECT_FALSE(path_exists(left[0]));
  remove_leftovers(r.pid);
  onefile_test::remove_tree(scratch);
}

TEST(ConsoleLauncher, SharesStandardStreamsAndExitCode) {
  const std::wstring input = onefile_test::make_temp_dir(L"input") + L"\\in.txt";
  onefile_test::write_file(input, "typed line\n");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE in = CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE own = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, in);
  auto r = run_app(L"console_app.exe", {L"stdin"});
  SetStdHandle(STD_INPUT_HANDLE, own);
  CloseHandle(in);
  onefile_test::remove_tree(input.substr(0, input.rfind(L'\\')));
  EXPECT_EQ(r.out, "read: typed line\n");
  EXPECT_EQ(r.exit_code, 0u);

  r = run_app(L"console_app.exe", {L"exit", L"0x80000001"});
  EXPECT_EQ(r.exit_code, 0x80000001u);
  EXPECT_TRUE(leftovers(r.pid).empty());
}

TEST(KilledParent, ChildEndsAndALaterRunSweepsOnlyItsDirectory) {
  Started killed;
  start_app(L"app.exe", L"wait 60000", killed);
  DWORD child = 0;
  const std::wstring target = wait_until_app_runs(killed.process.dwProcessId, &child);
  ASSERT_FALSE(target.empty());
  HANDLE child_process = OpenProcess(SYNCHRONIZE, FALSE, child);
  ASSERT_TRUE(child_process);
  TerminateProcess(killed.process.hProcess, 1);
  // The job ends the child with its parent.
  EXPECT_EQ(WaitForSingleObject(child_process, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(child_process);
  ASSERT_TRUE(path_exists(target));

  // Beside it: what the sweep must leave alone, all old enough.
  const std::wstring dead = std::to_wstring(killed.process.dwProcessId);
  const std::wstring look_alike = temp_dir() + L"\\onefile_" + dead + L"_12345_AAAAAAAAAAA";
  const std::wstring shaped_file = temp_dir() + L"\\onefile_" + dead + L"_123456_AAAAAAAAAAA";
  const std::wstring in_use = temp_dir() + L"\\onefile_" + dead + L"_123456_BBBBBBBBBBB";
  const std::wstring young = temp_dir() + L"\\onefile_" + dead + L"_123456_CCCCCCCCCCC";  // not aged
  CreateDirectoryW(young.c_str(), nullptr);
  CreateDirectoryW(look_alike.c_str(), nullptr);
  onefile_test::write_file(look_alike + L"\\keep.txt", "keep");
  onefile_test::write_file(shaped_file, "keep");
  CreateDirectoryW(in_use.c_str(), nullptr);
  HANDLE held = CreateFileW((in_use + L"\\held.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Started live;
  start_app(L"app.exe", L"wait 60000", live);
  const std::wstring live_target = wait_until_app_runs(live.process.dwProcessId);
  ASSERT_FALSE(live_target.empty());
  for (const auto& path : {target, look_alike, shaped_file, in_use, live_target}) onefile_test::age(path);

  // The run waits for its sweep before it ends.
  auto r = run_app(L"app.exe", {L"exit", L"0"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_FALSE(path_exists(target));
  EXPECT_TRUE(path_exists(look_alike + L"\\keep.txt"));
  EXPECT_TRUE(path_exists(shaped_file));
  // On Windows the directory cannot be renamed and stays whole. Wine renames
  // a directory with open files in it, so the sweep deletes around the held
  // file there; the held file itself stays on both.
  EXPECT_TRUE(path_exists(in_use + L"\\held.txt"));
  EXPECT_TRUE(path_exists(live_target + L"\\test_app.dll"));
  EXPECT_TRUE(path_exists(young));

  live.stop();
  Sleep(500);  // its child, ended by the job, lets go of the library
  remove_leftovers(live.process.dwProcessId);
  CloseHandle(held);
  onefile_test::remove_tree(look_alike);
  DeleteFileW(shaped_file.c_str());
  onefile_test::remove_tree(in_use);
  onefile_test::remove_tree(young);
}

// A folder named with the ID of a live process that was created after the
// folder: the ID came back, so its owner is gone (a new Wine session hands
// out the same small IDs at once; Windows reuses them in time).
TEST(KilledParent, FolderOlderThanTheProcessWithItsIdIsSwept) {
  Started live;
  start_app(L"app.exe", L"wait 60000", live);
  const std::wstring live_target = wait_until_app_runs(live.process.dwProcessId);
  ASSERT_FALSE(live_target.empty());
  const std::wstring reused =
      temp_dir() + L"\\onefile_" + std::to_wstring(live.process.dwProcessId) + L"_123456_RRRRRRRRRRR";
  ASSERT_TRUE(CreateDirectoryW(reused.c_str(), nullptr));
  onefile_test::write_file(reused + L"\\left.txt", "left");
  onefile_test::age(reused);

  auto r = run_app(L"app.exe", {L"exit", L"0"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_FALSE(path_exists(reused));
  // The live launcher's own folder is younger than a minute, and its own.
  EXPECT_TRUE(path_exists(live_target + L"\\test_app.dll"));
  live.stop();
  Sleep(500);
  remove_leftovers(live.process.dwProcessId);
}

// Waits up to 10 s for the hidden window of launcher args[0]: top-level (a
// message-only window is not listed here and would hear nothing). A process
// of its own, with its output in files: under Wine the first window call of a
// session starts the desktop process, which keeps the caller's output open.
ONEFILE_TEST_MODE(wait_for_window) {
  const DWORD pid = wcstoul(args.at(0).c_str(), nullptr, 10);
  for (int i = 0; i < 100; ++i, Sleep(100)) {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"VorlanOnefileSessionEnd", nullptr));) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid) return 0;
    }
  }
  return 1;
}

// Log-off of a windowed launcher whose app still runs: the launcher has no
// console, so only its hidden window hears of it. Run as a mode, alone: the
// end of the session reaches every window of the Wine prefix, those of other
// tests' launchers too. Under Wine's null graphics driver (set in the test
// prefix) wineboot sends WM_QUERYENDSESSION and WM_ENDSESSION to top-level
// windows as Windows does at log-off.
ONEFILE_TEST_MODE(log_off) {
  const auto fail = [](const std::string& why) {
    fprintf(stderr, "%s\n", why.c_str());
    return 1;
  };
  Started launcher;
  start_app(L"app.exe", L"wait 60000", launcher);
  const DWORD pid = launcher.process.dwProcessId;
  if (wait_until_app_runs(pid).empty()) return fail("the app did not start");
  if (onefile_test::run_mode(L"wait_for_window", {std::to_wstring(pid)}).exit_code != 0)
    return fail("no hidden top-level window");
  const ULONGLONG start = GetTickCount64();
  auto ended = onefile_test::run_process(nullptr, L"wineboot.exe --end-session --force");
  if (ended.exit_code != 0) return fail("wineboot failed: " + ended.err);
  // The app ignores the end of the session: the parent gives it 3 s, so
  // that the run is over within the 5 s the system allows (counted here
  // from wineboot's start, which comes before the message).
  if (WaitForSingleObject(launcher.process.hProcess, 30000) != WAIT_OBJECT_0) return fail("the launcher still runs");
  const ULONGLONG elapsed = GetTickCount64() - start;
  if (elapsed > 5000) return fail("the launcher ended " + std::to_string(elapsed) + " ms after the end of the session");
  DWORD code = 0;
  GetExitCodeProcess(launcher.process.hProcess, &code);
  const bool left = !leftovers(pid).empty();
  remove_leftovers(pid);
  if (left) return fail("target directory left behind");
  if (code != STATUS_CONTROL_C_EXIT) return fail("exit code " + std::to_string(code));
  printf("ok: ended %llu ms after the end of the session began\n", elapsed);
  return 0;
}
