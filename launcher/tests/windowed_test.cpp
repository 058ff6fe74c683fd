// What a windowed launcher shows the person who started it: the box of a
// fatal stop, and the window of a slow first start. Each run is watched
// from a mode of its own (a process whose output goes to files): under Wine
// the first window call of a session starts the desktop process, which
// would keep a captured stream open. The launchers get no standard handles,
// as when started from Explorer, unless a case says otherwise.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>

#include "launcher/progress_window.h"
#include "launcher/tests/packed_apps.h"
#include "tests/support/process.h"

using onefile_test::narrow;

namespace {

// Starts a packed app; `error` "none" (no standard handles), "bogus" (a
// standard error handle value that names nothing), "file" (standard output
// and error to a file, as a console or a redirection gives), "stdout-file"
// or "stderr-file" (only that stream to a file, the other none).
PROCESS_INFORMATION start_app(const std::wstring& exe, const std::wstring& args, const std::wstring& error,
                              const std::wstring& argv0 = L"") {
  const std::wstring path = here() + L"\\" + exe;
  std::wstring cmd = onefile_test::quote_argument(argv0.empty() ? path : argv0) + L" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE file = nullptr;
  if (error == L"file" || error == L"stdout-file" || error == L"stderr-file") {
    file = CreateFileW((onefile_test::make_temp_dir(L"stderr") + L"\\err").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                       &inherit, CREATE_ALWAYS, 0, nullptr);
    if (error != L"stderr-file") si.hStdOutput = file;
    if (error != L"stdout-file") si.hStdError = file;
  } else if (error == L"bogus") {
    si.hStdError = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ff0));
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, file != nullptr, 0, nullptr, nullptr, &si,
                      &process))
    process = {};
  if (file) CloseHandle(file);
  if (process.hThread) CloseHandle(process.hThread);
  return process;
}

// The launcher `pid` and its children.
std::set<DWORD> family_of(DWORD pid) {
  std::set<DWORD> family = {pid};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
    if (entry.th32ParentProcessID == pid) family.insert(entry.th32ProcessID);
  CloseHandle(snapshot);
  return family;
}

// The visible top-level windows of class `window_class` that the launcher
// `pid` or its child owns.
std::vector<HWND> windows_of(DWORD pid, const wchar_t* window_class) {
  struct Search {
    std::set<DWORD> family;
    const wchar_t* window_class;
    std::vector<HWND> found;
  } search{family_of(pid), window_class, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (wcscmp(name, s.window_class) == 0 && IsWindowVisible(window) && s.family.count(owner))
          s.found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string text_of(HWND window) {
  wchar_t text[4096] = {};
  GetWindowTextW(window, text, 4096);
  return narrow(text);
}

// What a window's static controls show, joined by '|': their texts, or
// "<icon>" for one that shows an icon.
std::string static_texts(HWND window) {
  std::string texts;
  for (HWND control = nullptr; (control = FindWindowExW(window, control, L"Static", nullptr));)
    texts += (texts.empty() ? "" : "|") + (SendMessageW(control, STM_GETICON, 0, 0) ? "<icon>" : text_of(control));
  return texts;
}

int progress_position(HWND window) {
  HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
  return bar ? static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
}

void print(const std::string& key, const std::string& value) { printf("%s=%s\n", key.c_str(), value.c_str()); }

}  // namespace

// args: exe, standard error (none, bogus, file), argument 0 as typed ("-":
// the exe's path), the app's arguments; an argument "<fill>" becomes one that
// fills the command line to the system's limit of 32,766 units. Answers every
// message box of the launcher and its child and reports what it saw.
ONEFILE_TEST_MODE(answer_dialogs) {
  std::wstring app_args;
  bool fill = false;
  for (size_t i = 3; i < args.size(); ++i) {
    if (args[i] == L"<fill>") fill = true;
    else app_args += (app_args.empty() ? L"" : L" ") + args[i];
  }
  if (fill) app_args += L" " + std::wstring(32766 - args.at(2).size() - 2 - app_args.size(), L'x');
  PROCESS_INFORMATION launcher =
      start_app(args.at(0), app_args, args.at(1), args.at(2) == L"-" ? L"" : args.at(2));
  if (!launcher.hProcess) return 90;
  std::set<HWND> seen;
  bool progress_seen = false;
  for (int i = 0; i < 600 && WaitForSingleObject(launcher.hProcess, 50) == WAIT_TIMEOUT; ++i) {
    const size_t progress = windows_of(launcher.dwProcessId, kProgressWindowClass).size();
    progress_seen = progress_seen || progress > 0;
    for (HWND dialog : windows_of(launcher.dwProcessId, L"#32770")) {
      if (!seen.insert(dialog).second) continue;
      print("progress while shown", std::to_string(progress));
      print("title", text_of(dialog));
      // The message lies in the static control of id 0xFFFF.
      wchar_t text[4096] = {};
      GetDlgItemTextW(dialog, 0xFFFF, text, 4096);
      print("text", narrow(text));
      print("left while shown", std::to_string(leftovers(launcher.dwProcessId).size()));
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    }
  }
  if (WaitForSingleObject(launcher.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(launcher.hProcess, 1);
    print("ended", "no");
  }
  DWORD code = 0;
  GetExitCodeProcess(launcher.hProcess, &code);
  print("dialogs", std::to_string(seen.size()));
  print("progress seen", progress_seen ? "yes" : "no");
  print("exit", std::to_string(code));
  print("left", std::to_string(leftovers(launcher.dwProcessId).size()));
  remove_leftovers(launcher.dwProcessId);
  return 0;
}

// args: exe, window class, the app's arguments. Watches the start-up window
// of a launcher whose app shows a window of its own.
ONEFILE_TEST_MODE(watch_start_window) {
  std::wstring app_args;
  for (size_t i = 2; i < args.size(); ++i) app_args += (i > 2 ? L" " : L"") + args[i];
  PROCESS_INFORMATION launcher = start_app(args.at(0), app_args, L"none");
  if (!launcher.hProcess) return 90;
  const DWORD pid = launcher.dwProcessId;
  int first = -1, second = -1;
  DWORD found_at = 0, app_window_at = 0;
  bool seen_after_app_window = false, gone_after_app_window = false;
  for (int i = 0; i < 3000 && WaitForSingleObject(launcher.hProcess, 10) == WAIT_TIMEOUT; ++i) {
    const auto windows = windows_of(pid, args.at(1).c_str());
    if (!windows.empty() && !found_at) {
      found_at = GetTickCount();
      first = progress_position(windows[0]);
      print("title", text_of(windows[0]));
      print("texts", static_texts(windows[0]));
    } else if (!windows.empty() && !app_window_at) {
      // The last position before the app's window: on a loaded machine the
      // bar may stand still for a while, but it moves before unpacking ends.
      second = progress_position(windows[0]);
    }
    if (!app_window_at && !windows_of(pid, L"OnefileTestAppWindow").empty()) app_window_at = GetTickCount();
    if (app_window_at && GetTickCount() - app_window_at >= 1000 && !gone_after_app_window) {
      seen_after_app_window = !windows.empty();
      gone_after_app_window = true;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(launcher.hProcess, &code);
  print("found", found_at ? "yes" : "no");
  print("first", std::to_string(first));
  print("second", std::to_string(second));
  print("app window", app_window_at ? "yes" : "no");
  print("after app window", seen_after_app_window ? "still there" : "gone");
  print("exit", std::to_string(code));
  return 0;
}

TEST(WindowedLauncher, FatalStopsShowOneBoxWithTheMessageAfterTheCleanUp) {
  std::wstring scratch = onefile_test::make_temp_dir(L"unusable_temp");
  onefile_test::write_file(scratch + L"\\file", "x");
  const std::wstring bad_temp = scratch + L"\\file\\temp";
  struct Case {
    const wchar_t* exe;
    const wchar_t* error;  // standard error
    std::vector<std::wstring> env;
    const char* text;  // the start of the box's text; null: no box
    const char* later = nullptr;  // what the box's text holds after `text`
    std::wstring argv0 = L"-";
    std::vector<std::wstring> app_args = {L"exit", L"0"};
    DWORD exit_code = 2;
  } const cases[] = {
      {L"bad_header_app.exe", L"none", {}, "Error, couldn't find attached data header."},
      {L"bad_header_app.exe", L"bogus", {}, "Error, couldn't find attached data header."},
      // Fails after making its folder, which goes before the box shows.
      {L"corrupt_app.exe", L"none", {}, "Error, couldn't decode attached data."},
      {L"app.exe", L"none", {L"TEMP=" + bad_temp, L"TMP=" + bad_temp}, "Error, failed to open '"},
      // The child's own messages are the child's to show; the parent shows
      // none for the child's exit code. A system code adds its text.
      // The system's text names the library itself, not "%1".
      {L"not_dll_app.exe", L"none", {}, "Error, load DLL.\n[Error 193] ", "\\main.dll"},
      {L"no_entry_app.exe", L"none", {}, "Error, DLL entry point not found."},
      // Fails after seconds of unpacking: the progress window goes first.
      {L"slow_damaged_app.exe", L"none", {}, "Error, couldn't decode attached data."},
      // A violated bound: the abort handler cleans up, then shows the box.
      // A command line at the system's limit, typed with a one-letter
      // argument 0: with the launcher's path as argument 0 the child's command
      // line would pass it, a violated bound.
      {L"app.exe", L"none", {}, "Error, a path or text was longer than the launcher can handle.", nullptr, L"a",
       {L"args", L"<fill>"}, 3},
      // No box where it is not wanted.
      {L"bad_header_app.exe", L"none", {L"VORLAN_ONEFILE_NO_DIALOGS=1"}, nullptr},
      {L"corrupt_app.exe", L"file", {}, nullptr},
      // The stream the message went to decides: the damaged payload's
      // message goes to standard output.
      {L"damaged_app.exe", L"stderr-file", {}, "Error, couldn't decode attached data."},
      {L"damaged_app.exe", L"stdout-file", {}, nullptr},
      {L"not_dll_app.exe", L"stderr-file", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.exe) + " " + narrow(c.error) + (c.env.empty() ? "" : " " + narrow(c.env[0])));
    std::vector<std::wstring> mode_args = {c.exe, c.error, c.argv0};
    mode_args.insert(mode_args.end(), c.app_args.begin(), c.app_args.end());
    auto r = onefile_test::run_mode(L"answer_dialogs", mode_args, c.env);
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    auto m = lines(r.out);
    EXPECT_EQ(m["exit"], std::to_string(c.exit_code)) << r.out;
    EXPECT_EQ(m["left"], "0");
    if (!c.text) {
      EXPECT_EQ(m["dialogs"], "0") << r.out;
      continue;
    }
    EXPECT_EQ(m["dialogs"], "1") << r.out;
    const std::string product = narrow(c.exe).substr(0, narrow(c.exe).size() - 4);
    EXPECT_EQ(m["title"], product);
    // The text may span two lines: the key=value reader has the first.
    const std::string first_line = std::string(c.text).substr(0, std::string(c.text).find('\n'));
    EXPECT_EQ(m["text"].rfind(first_line, 0), 0u) << m["text"];
    if (std::string(c.text).find('\n') != std::string::npos) {
      EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    }
    if (c.later) {
      EXPECT_NE(r.out.find(c.later, r.out.find(c.text)), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find('%'), std::string::npos) << r.out;
    }
    EXPECT_EQ(m["left while shown"], "0");
    EXPECT_EQ(m["progress while shown"], "0");
    if (std::wstring(c.exe) == L"slow_damaged_app.exe") {
      EXPECT_EQ(m["progress seen"], "yes");
    }
  }
  onefile_test::remove_tree(scratch);
}

TEST(WindowedLauncher, SlowFirstStartShowsProgressUntilTheAppsWindowAndACacheHitShowsNone) {
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Slow Test"));
  auto r = onefile_test::run_mode(L"watch_start_window",
                                  {L"slow_cache_app.exe", kProgressWindowClass, L"show-window", L"0", L"2000"});
  ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
  auto m = lines(r.out);
  EXPECT_EQ(m["found"], "yes") << r.out;
  EXPECT_EQ(m["title"], "Onefile Slow Test");
  EXPECT_EQ(m["texts"], "<icon>|Onefile Slow Test|Preparing \xE2\x80\xA6");
  EXPECT_GE(std::stoi(m["first"]), 0);
  EXPECT_GT(std::stoi(m["second"]), std::stoi(m["first"])) << r.out;
  EXPECT_EQ(m["app window"], "yes");
  EXPECT_EQ(m["after app window"], "gone");
  EXPECT_EQ(m["exit"], "6");

  // Everything is in the cache now: nothing to unpack, no window.
  r = onefile_test::run_mode(L"watch_start_window",
                             {L"slow_cache_app.exe", kProgressWindowClass, L"show-window", L"0", L"1000"});
  m = lines(r.out);
  EXPECT_EQ(m["found"], "no") << r.out;
  EXPECT_EQ(m["app window"], "yes");
  EXPECT_EQ(m["exit"], "6");
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Slow Test"));
}

TEST(WindowedLauncher, SplashShowsOnEveryStartUntilTheAppsWindow) {
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Splash Test"));
  for (const char* start : {"first start", "cache hit"}) {
    SCOPED_TRACE(start);
    // The app takes a second before it shows its window: the splash stands
    // for that second.
    auto r = onefile_test::run_mode(L"watch_start_window",
                                    {L"splash_app.exe", kSplashWindowClass, L"show-window", L"1000", L"1500"});
    ASSERT_EQ(r.exit_code, 0u) << r.out << r.err;
    auto m = lines(r.out);
    EXPECT_EQ(m["found"], "yes") << r.out;
    EXPECT_EQ(m["title"], "Onefile Splash Test");
    EXPECT_EQ(m["app window"], "yes");
    EXPECT_EQ(m["after app window"], "gone");
    EXPECT_EQ(m["exit"], "6");
  }
  // Automation asks for no windows of the launcher's own.
  auto r = onefile_test::run_mode(L"watch_start_window",
                                  {L"splash_app.exe", kSplashWindowClass, L"show-window", L"1000", L"500"},
                                  {L"VORLAN_ONEFILE_NO_DIALOGS=1"});
  auto m = lines(r.out);
  EXPECT_EQ(m["found"], "no") << r.out;
  EXPECT_EQ(m["exit"], "6");
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Splash Test"));
}

// args: a program and its arguments. Runs it without standard handles, as
// Explorer would, and waits for it; scripts/screenshots.sh uses it.
ONEFILE_TEST_MODE(run_without_streams) {
  std::wstring cmd;
  for (const auto& a : args) cmd += (cmd.empty() ? L"" : L" ") + onefile_test::quote_argument(a);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &process)) return 90;
  WaitForSingleObject(process.hProcess, INFINITE);
  return 0;
}
